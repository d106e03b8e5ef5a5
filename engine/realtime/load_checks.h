// Before any trial: each chain of plugins of a plan named by its plugins
// and validated in a child process, with its wiring and what it hears.
#pragma once

#include "engine/realtime/realtime_plan.h"
#include "platform/platform_plugins.h"

#include <string>
#include <vector>

// Validation's record in words, naming the chain's plugins (the reports'
// own words: report/plugins_report.h).
using ValidationWords = std::string (*)(const std::vector<std::string>& names,
                                        const PluginValidation* validation);

// A load that fails is marked failed, with the line that says why, and
// not run; a flagged one runs, and the reports say why. False when a load
// failed (the run goes on with the others).
bool check_plugin_loads(PluginHost* host, RtPlan* plan, ValidationWords words);
