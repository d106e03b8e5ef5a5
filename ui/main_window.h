// The main window: class registration and creation, the one window
// procedure that routes messages to the sequencer and the results panel,
// the background picture, the about box and shutdown.
#pragma once

#include "platform/platform_window.h"

#include <cstdint>

constexpr int32_t IDC_TEST = 100;
constexpr int32_t IDC_ABOUT = 200;

constexpr const char* MAIN_CLASS_NAME = "w_principale";

// Module-level state of the interface thread.
struct MainWindowState {
    InstanceHandle instance;
    WindowHandle main_window;
    PlatformObject* background_bitmap; // nullptr when not made, or released
};

extern MainWindowState main_window_state;

// Registers the class and creates the window (its creation makes the fonts,
// the picture and the buttons); shows and updates it. nullptr on failure,
// after a message box.
WindowHandle create_main_window(InstanceHandle instance, WindowProc window_procedure,
                                const char* menu_name, const char* title);
intptr_t WINDOW_PROC_CALL main_wnd_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                                        intptr_t lparam);
// Copies the whole bitmap onto dc with its top-left corner at (x, y); copies
// nothing when there is no bitmap.
void paint_background(DrawContext* dc, int32_t x, int32_t y, PlatformObject* bitmap);
void show_about();
