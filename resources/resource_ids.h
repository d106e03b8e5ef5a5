// Resource ids of the desktop program, shared by its code and the Windows
// resource script.
#pragma once

#define IDI_MAIN 100
#define IDB_BACKGROUND 200
#define VERSION_RECORD_ID 1
