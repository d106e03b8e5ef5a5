// Version data of the program, shared by the console runner, the desktop
// program and the Windows version record.
#pragma once

#define ZEM_VERSION_MAJOR 1
#define ZEM_VERSION_MINOR 0
#define ZEM_VERSION_PATCH 0
#define ZEM_VERSION_BUILD 0
#define ZEM_VERSION_TEXT "1.0.0.0"
#define ZEM_VERSION_COMMAS "1, 0, 0, 0"
#define ZEM_PRODUCT_NAME "Test ZEM 1"
#define ZEM_INTERNAL_NAME "Test ZEM"
#define ZEM_FILE_DESCRIPTION "Test ZEM."
#define ZEM_FILE_NAME "Test_ZEM.exe"
#define ZEM_WINDOW_TITLE "Test ZEM (Dorvantic)"
#define ZEM_COMMENTS "Measures how much real-time digital-audio processing this processor sustains."
#define ZEM_COMPANY_NAME "Dorvantic"
#define ZEM_LEGAL_COPYRIGHT "Copyright (C) Dorvantic"
