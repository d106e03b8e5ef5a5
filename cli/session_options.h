// The session subcommand's options.
#pragma once

#include "cli/options.h"

#include <CLI/CLI.hpp>

CLI::App* add_session(CLI::App* app, CliOptions* options);
