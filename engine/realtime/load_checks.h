// Before any trial: each chain of plugins of a plan checked against what is
// installed, then named by its plugins and validated in a child process,
// which also tells its wiring and what it hears: this process runs no
// plugin code.
#pragma once

#include "engine/realtime/realtime_plan.h"
#include "platform/platform_plugins.h"

#include <string>
#include <vector>

// Validation's record in words, naming the chain's plugins (the reports'
// own words: report/plugins_report.h).
using ValidationWords = std::string (*)(const std::vector<std::string>& names,
                                        const PluginValidation* validation);

// Each chain as the command line gives it: its plugins installed, its
// settings and preset theirs, at the plan's rate. False with the line of
// the first that is not, which names the chain when there are several:
// nothing is to run then.
bool resolve_plugin_loads(PluginHost* host, const RtPlan* plan, std::string* problem);

// A load that fails is marked failed, with the line that says why, and
// not run; a flagged one runs, and the reports say why. False when a load
// failed (the run goes on with the others). A stop from `stop_wait` ends
// the checks where they are.
bool check_plugin_loads(PluginHost* host, RtPlan* plan, ValidationWords words,
                        int (*stop_wait)(int64_t timeout_ms));
