// test_zem's entry point on Linux: opens the X display, then runs the
// program. Command-line arguments are ignored.
#include "platform/fltk/fltk_platform.h"

#include <FL/x.H>

#include <cstdio>
#include <cstdlib>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "test_zem: cannot open the X display%s%s (use test_zem_cli to run the "
                     "benchmark without a window)\n",
                     name != nullptr && name[0] != '\0' ? " " : ": DISPLAY is not set",
                     name != nullptr && name[0] != '\0' ? name : "");
        return 1;
    }
    fl_open_display(display);
    PlatformInstance instance{};
    return program_main(&instance);
}
