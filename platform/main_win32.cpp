// Test_ZEM.exe's entry point: hands the module's instance handle to the
// program. The previous-instance handle, the command line and the show
// command are ignored (the window is always shown plainly).
#include "ui/app_main.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show_command*/) {
    return app_main(reinterpret_cast<InstanceHandle>(instance));
}
