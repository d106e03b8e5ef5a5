// Records shared by the FLTK implementation of platform_window.h
// (window_fltk.cpp, draw_fltk.cpp, message_box_fltk.cpp); nothing outside
// platform/ sees them.
#pragma once

#include "platform/platform_window.h"

#include <FL/Fl_Widget.H>

#include <cstdint>

class Fl_Window;

struct PlatformInstance {
    int32_t unused;
};

enum ObjectKind : uint32_t {
    OBJECT_PEN,
    OBJECT_BRUSH,
    OBJECT_FONT,
    OBJECT_BITMAP,
};

struct PlatformObject {
    ObjectKind kind;
    bool stock;      // never deleted
    bool hollow;     // the null brush: no fill
    uint32_t color;  // pens and brushes, 0x00BBGGRR
    int face;        // fonts: FLTK font index
    int size;        // fonts: FLTK size (pixels per em)
    int ascent;      // fonts: from the cell's top to the baseline
    int cell_height; // fonts: ascent + descent
    int32_t width;   // bitmaps
    int32_t height;
    uint8_t* pixels; // bitmaps: RGB, 3 bytes a pixel, rows top to bottom
};

struct DrawContext {
    PlatformWindow* window; // nullptr for a memory context
    PlatformObject* pen;
    PlatformObject* brush;
    PlatformObject* font; // nullptr: the default font
    PlatformObject* bitmap;
    uint32_t text_color;
    int32_t bk_mode;
};

struct PlatformWindow {
    Fl_Widget* widget;
    WindowProc proc;        // top-level windows: their class's procedure
    PlatformWindow* parent; // buttons: the window they report to
    int32_t control_id;
    bool enabled;
    DrawContext paint_dc;  // handed out by platform_begin_paint
    DrawContext window_dc; // handed out by platform_get_dc
};

// The picture the program provided under this id, or nullptr.
const ImagePixels* fltk_find_image(int32_t id);
// Queues a message for platform_get_message; false when the queue is full.
bool fltk_post_message(PlatformWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// A context's state on begin-paint or get-dc: black pen, white brush,
// default font, black text on an opaque background.
void fltk_reset_dc(DrawContext* dc, PlatformWindow* window);
// Right after show(), before the window manager reads them: WM_CLASS exactly
// as the class is named (when one is given), and the frame a Win32 window of
// fixed size has: a title with a close box, a minimise box when asked for,
// no maximise box, no resizing.
void fltk_set_frame_hints(Fl_Window* window, const char* class_name, bool minimise_box);
