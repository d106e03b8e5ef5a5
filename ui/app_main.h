// The desktop program's entry, the same on every platform: the platform's
// own entry point (WinMain, or main on Linux) calls it with the program's
// instance handle and returns what it returns.
#pragma once

#include "platform/platform_window.h"

// Creates the main window and runs the message loop until the quit message;
// returns its code, or 0 when the window could not be created.
int app_main(InstanceHandle instance);
