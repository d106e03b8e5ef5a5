// How a child process that did not finish ended, in words: "no answer in
// trial after 13 s", "crashed with signal 11 (SIGSEGV) in instantiate".
#pragma once

#include "platform/platform_engine.h"

#include <string>

// `process` names the child where it named no stage of its own.
std::string child_end_words(const ChildEnd* end, const char* process);
