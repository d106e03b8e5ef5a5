// The desktop program's portable entry. Each window-system backend owns the
// operating system's entry point and calls program_main (declared in
// platform/platform_window.h), which hands the artwork to the backend and
// runs app_main.
#pragma once

#include "platform/platform_window.h"

// Creates the main window and runs the message loop until the quit message;
// returns its code, or 0 when the window could not be created.
int app_main(InstanceHandle instance);

// The background picture and the icon as RGB pixels under their resource
// ids, for backends without resources of their own.
void provide_artwork();
