// Test_ZEM.exe's entry point: hands the module's instance handle to the
// program. The previous-instance handle, the command line and the show
// command are ignored (the window is always shown plainly).
#include "platform/platform_window.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show_command*/) {
    return program_main(reinterpret_cast<InstanceHandle>(instance));
}
