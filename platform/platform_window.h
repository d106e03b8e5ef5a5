// Window-system operations of the desktop program, shaped after the Win32
// calls the program was designed against, so that sequencer/ and ui/ are
// written once. platform/win32/ implements them with the real Win32 API;
// platform/fltk/ with FLTK 1.3 on Linux. Tests link a recording
// implementation instead (tests/fakes/).
//
// Meaning every implementation keeps:
//   - Text passed in is single-byte, code page 1252 (as the Win32 "A" calls
//     take it); an implementation that draws UTF-8 converts it.
//   - The window procedure receives the MESSAGE_* values below with Win32's
//     numbering and wparam/lparam meanings: MESSAGE_ERASEBKGND carries the
//     DrawContext* in wparam; MESSAGE_COMMAND the control id in the low 16
//     bits of wparam; MESSAGE_TIMER the timer id in wparam. Some messages are
//     sent (the procedure is called directly, e.g. MESSAGE_CREATE during
//     platform_create_window, MESSAGE_ERASEBKGND during begin_paint), the
//     others are posted and reach it through platform_dispatch_message.
//   - Coordinates are client-area pixels from its top-left corner.
//   - A selected pen, brush or font stays selected until replaced.
//   - platform_rectangle frames with the pen and fills with the brush (no
//     fill with the null brush), right and bottom edges excluded.
//   - platform_text_out draws with the text colour, with no background when
//     the background mode is BK_MODE_TRANSPARENT, the text cell's top-left
//     corner at (x, y).
//   - A font is chosen by cell height (internal leading included) when its
//     height is positive.
//   - While a window is disabled no mouse or keyboard input reaches it or its
//     child controls.
//   - platform_invalidate with erase leads to MESSAGE_ERASEBKGND and then
//     MESSAGE_PAINT; a paint between begin_paint and end_paint counts the
//     area as painted.
//   - Timers have ids and deliver MESSAGE_TIMER about every period until
//     killed; platform_set_timer returns 0 on failure.
//   - platform_message_box is modal and returns once dismissed.
//   - platform_get_message returns false for the quit message, whose code is
//     then in message->wparam.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define WINDOW_PROC_CALL __stdcall
#else
#define WINDOW_PROC_CALL
#endif

struct PlatformInstance;
struct PlatformWindow;
struct DrawContext;
struct PlatformObject; // pens, brushes, fonts and bitmaps

using InstanceHandle = PlatformInstance*;
using WindowHandle = PlatformWindow*;
using WindowProc = intptr_t(WINDOW_PROC_CALL*)(WindowHandle window, uint32_t message,
                                               uintptr_t wparam, intptr_t lparam);

enum WindowMessage : uint32_t {
    MESSAGE_CREATE = 0x0001,
    MESSAGE_DESTROY = 0x0002,
    MESSAGE_PAINT = 0x000F,
    MESSAGE_CLOSE = 0x0010,
    MESSAGE_ERASEBKGND = 0x0014,
    MESSAGE_COMMAND = 0x0111,
    MESSAGE_TIMER = 0x0113,
};

enum StockObject : uint32_t {
    STOCK_WHITE_BRUSH,
    STOCK_BLACK_BRUSH,
    STOCK_NULL_BRUSH,
    STOCK_BLACK_PEN,
};

enum BoxFlags : uint32_t {
    BOX_OK = 0x0000,
    BOX_ICON_EXCLAMATION = 0x0030,
};

constexpr int32_t BK_MODE_TRANSPARENT = 1;
constexpr uint32_t COLOR_BLACK = 0x000000; // 0x00BBGGRR, as a Win32 COLORREF
constexpr uint32_t COLOR_WHITE = 0xFFFFFF;

struct PlatformMessage {
    WindowHandle window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

// A font description that is all zero but for these (default width, no
// escapement, no italic/underline/strike-out, ANSI character set, default
// precision, quality, pitch and family).
struct FontDesc {
    int32_t height;
    int32_t weight;
    const char* face;
};

// The program's entry. Each backend owns the operating system's entry point
// (main, WinMain), prepares what it needs (the FLTK backend opens the X
// display and says so on stderr when it cannot) and then calls this, which
// the program defines; its result is the process's exit status.
int program_main(InstanceHandle instance);

// Pictures by resource id, for window systems that carry no resources of
// their own: the program hands them over before it creates a window, and
// platform_load_bitmap and a class's icon look them up by id. The Win32
// backend reads the executable's resources instead and ignores these. The
// table and its pixels must outlive every window.
struct ImagePixels {
    int32_t id;
    int32_t width;
    int32_t height;
    const uint8_t* rgb; // 3 bytes a pixel, rows top to bottom
};
void platform_provide_images(const ImagePixels* images, uint32_t count);

// Window class and windows.
bool platform_register_class(InstanceHandle instance, const char* class_name, WindowProc proc,
                             int32_t icon_id, const char* menu_name);
// Visible, dialog frame, system menu and minimise box (caption with close and
// minimise boxes, no maximise box, not resizable), default position, the
// given outer size including frame and caption. Sends MESSAGE_CREATE.
WindowHandle platform_create_window(InstanceHandle instance, const char* class_name,
                                    const char* title, int32_t outer_width, int32_t outer_height);
// A plain push button (child, visible, tab stop) that sends MESSAGE_COMMAND
// with its id to its parent when clicked.
WindowHandle platform_create_button(InstanceHandle instance, WindowHandle parent, const char* text,
                                    int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t id);
void platform_show_window(WindowHandle window);
void platform_update_window(WindowHandle window);
void platform_enable_window(WindowHandle window, bool enable);
void platform_invalidate(WindowHandle window, bool erase);
intptr_t platform_def_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam);

// Message loop.
bool platform_get_message(PlatformMessage* message);
void platform_translate_message(const PlatformMessage* message);
void platform_dispatch_message(const PlatformMessage* message);
void platform_post_quit_message(int32_t code);

// Timers.
uintptr_t platform_set_timer(WindowHandle window, uintptr_t id, uint32_t period_ms);
bool platform_kill_timer(WindowHandle window, uintptr_t id);

// Message boxes; returns the id of the button that closed the box.
int32_t platform_message_box(WindowHandle owner, const char* text, const char* caption,
                             uint32_t flags);

// Drawing.
DrawContext* platform_begin_paint(WindowHandle window);
void platform_end_paint(WindowHandle window, DrawContext* dc);
DrawContext* platform_get_dc(WindowHandle window);
void platform_release_dc(WindowHandle window, DrawContext* dc);
PlatformObject* platform_stock_object(StockObject which);
PlatformObject* platform_select_object(DrawContext* dc, PlatformObject* object);
void platform_set_bk_mode(DrawContext* dc, int32_t mode);
void platform_set_text_color(DrawContext* dc, uint32_t color);
void platform_rectangle(DrawContext* dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
void platform_text_out(DrawContext* dc, int32_t x, int32_t y, const char* text, int32_t length);
PlatformObject* platform_create_font(const FontDesc* desc);
void platform_delete_object(PlatformObject* object);

// Bitmaps: loading a bitmap resource and copying it through a memory context.
PlatformObject* platform_load_bitmap(InstanceHandle instance, int32_t id);
bool platform_bitmap_size(PlatformObject* bitmap, int32_t* width, int32_t* height);
DrawContext* platform_create_compatible_dc(DrawContext* dc);
void platform_delete_dc(DrawContext* dc);
void platform_bit_blt(DrawContext* target, int32_t x, int32_t y, int32_t width, int32_t height,
                      DrawContext* source, int32_t source_x, int32_t source_y);
