// What every subcommand's options share: numbers read as people write them,
// ranges and lists, each refused in words that say what is taken.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

constexpr uint64_t NO_LIMIT = std::numeric_limits<uint64_t>::max();

bool whole_of(const std::string& text, uint64_t* value);
bool decimal_of(const std::string& text, double* value);
std::string decimal_text(double value);
std::string refused(const std::string& rule, const std::string& text);
// A whole number from low to high, handed on to CLI11 in plain decimal.
CLI::Validator whole(uint64_t low, uint64_t high);
// A decimal number from low (excluded when `above_low`) to high.
CLI::Validator decimal(double low, double high, bool above_low, const std::string& what);
std::string listed(const std::vector<std::string>& names, const char* separator);
// "all" (ALL_CORES) or a number of cores.
CLI::Validator core_choice();
