// The `compare` subcommand: saved reports (throughput or real time, any
// mix, or sessions among themselves) side by side, as text or JSON, and
// optionally as a picture (not of sessions).
#pragma once

#include <string>
#include <vector>

// Returns the program's exit status: 0; 2 when a report cannot be read (one
// line names the file and the problem; nothing is compared), when session
// reports are mixed with others or asked for a picture, or when the
// picture's file cannot be opened; 1 when writing the comparison or the
// picture failed.
int run_compare_command(const std::vector<std::string>& files, bool json,
                        const std::string& svg_path);
