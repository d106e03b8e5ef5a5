#include "platform/common/step_note.h"

#include <cstdarg>
#include <cstdio>

void rt_note(RtStep* step, int32_t done, const char* format, ...) {
    step->done = done;
    va_list args;
    va_start(args, format);
    std::vsnprintf(step->note, sizeof step->note, format, args);
    va_end(args);
}
