// Output the console runner checks: a failed write or close is reported on
// stderr in one line and turns the exit status to 1, after whatever could
// be written.
#pragma once

#include <cstdio>
#include <string>

// A file named on the command line, opened before any measurement so that a
// bad path costs no time.
struct OutputFile {
    std::string path;
    FILE* file; // nullptr when none was asked for
};

// Opens `path` for writing ("" asks for none); false, after one line on
// stderr, when it cannot be created.
bool output_open(OutputFile* output, const std::string& path);
// Writes `text` and closes; false, after one line on stderr, on any failure.
bool output_finish(OutputFile* output, const std::string& text);
// Closes without writing, leaving no empty file behind.
void output_abandon(OutputFile* output);

// Flushes stdout and checks that everything written to it arrived; false,
// after one line on stderr, when not.
bool stdout_finish();
