// The `compare` subcommand: saved reports (throughput or real time, any
// mix) side by side, as text or JSON, and optionally as a picture.
#pragma once

#include <string>
#include <vector>

// Returns the program's exit status: 0; 2 when a report cannot be read (one
// line names the file and the problem; nothing is compared) or the picture's
// file cannot be opened; 1 when writing the comparison or the picture failed.
int run_compare_command(const std::vector<std::string>& files, bool json,
                        const std::string& svg_path);
