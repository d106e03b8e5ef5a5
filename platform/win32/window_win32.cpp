// Window-system operations on Windows: each is the Win32 call of the same
// name, the opaque handle types standing for HINSTANCE, HWND, HDC and
// HGDIOBJ.
#include "platform/platform_window.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

static_assert(MESSAGE_CREATE == WM_CREATE && MESSAGE_DESTROY == WM_DESTROY);
static_assert(MESSAGE_PAINT == WM_PAINT && MESSAGE_CLOSE == WM_CLOSE);
static_assert(MESSAGE_ERASEBKGND == WM_ERASEBKGND && MESSAGE_COMMAND == WM_COMMAND);
static_assert(MESSAGE_TIMER == WM_TIMER);
static_assert(BOX_OK == MB_OK && BOX_ICON_EXCLAMATION == MB_ICONEXCLAMATION);
static_assert(BK_MODE_TRANSPARENT == TRANSPARENT);
static_assert(COLOR_BLACK == RGB(0, 0, 0) && COLOR_WHITE == RGB(255, 255, 255));
static_assert(sizeof(uintptr_t) == sizeof(WPARAM) && sizeof(intptr_t) == sizeof(LPARAM));
static_assert(sizeof(intptr_t) == sizeof(LRESULT));

namespace {
constexpr DWORD MAIN_WINDOW_STYLE = WS_VISIBLE | WS_DLGFRAME | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

// The paint in progress: the program paints one window at a time, on one
// thread, and never nests BeginPaint.
PAINTSTRUCT current_paint{};

HINSTANCE win(InstanceHandle instance) {
    return reinterpret_cast<HINSTANCE>(instance);
}

HWND win(WindowHandle window) {
    return reinterpret_cast<HWND>(window);
}

HDC win(DrawContext* dc) {
    return reinterpret_cast<HDC>(dc);
}

HGDIOBJ win(PlatformObject* object) {
    return reinterpret_cast<HGDIOBJ>(object);
}

WindowHandle ours(HWND window) {
    return reinterpret_cast<WindowHandle>(window);
}

DrawContext* ours(HDC dc) {
    return reinterpret_cast<DrawContext*>(dc);
}

PlatformObject* ours(HGDIOBJ object) {
    return reinterpret_cast<PlatformObject*>(object);
}
} // namespace

bool platform_register_class(InstanceHandle instance, const char* class_name, WindowProc proc,
                             int32_t icon_id, const char* menu_name) {
    WNDCLASSA window_class{};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    // The handle types are opaque pointers to HWND's own layout and the
    // integer types match WPARAM, LPARAM and LRESULT in size, so the
    // program's procedure is the class's window procedure as it is.
    window_class.lpfnWndProc = reinterpret_cast<WNDPROC>(proc);
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = win(instance);
    window_class.hIcon = LoadIconA(win(instance), MAKEINTRESOURCEA(icon_id));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    window_class.hbrBackground = nullptr;
    window_class.lpszMenuName = menu_name;
    window_class.lpszClassName = class_name;
    return RegisterClassA(&window_class) != 0;
}

WindowHandle platform_create_window(InstanceHandle instance, const char* class_name,
                                    const char* title, int32_t outer_width, int32_t outer_height) {
    return ours(CreateWindowExA(0, class_name, title, MAIN_WINDOW_STYLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, outer_width, outer_height, nullptr, nullptr,
                                win(instance), nullptr));
}

WindowHandle platform_create_button(InstanceHandle instance, WindowHandle parent, const char* text,
                                    int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t id) {
    auto menu = reinterpret_cast<HMENU>(static_cast<intptr_t>(id)); // a child's id
    return ours(CreateWindowExA(0, "button", text, BUTTON_STYLE, x, y, width, height, win(parent),
                                menu, win(instance), nullptr));
}

void platform_show_window(WindowHandle window) {
    ShowWindow(win(window), SW_SHOW);
}

void platform_update_window(WindowHandle window) {
    UpdateWindow(win(window));
}

void platform_enable_window(WindowHandle window, bool enable) {
    EnableWindow(win(window), enable ? TRUE : FALSE);
}

void platform_invalidate(WindowHandle window, bool erase) {
    InvalidateRect(win(window), nullptr, erase ? TRUE : FALSE);
}

intptr_t platform_def_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    return DefWindowProcA(win(window), message, wparam, lparam);
}

bool platform_get_message(PlatformMessage* message) {
    MSG msg{};
    // -1 reports an error (only possible with a bad window filter); it ends
    // the loop like the quit message rather than spinning on it.
    BOOL result = GetMessageA(&msg, nullptr, 0, 0);
    message->window = ours(msg.hwnd);
    message->message = msg.message;
    message->wparam = msg.wParam;
    message->lparam = msg.lParam;
    return result > 0;
}

namespace {
// The MSG that GetMessageA returned for this message: time and cursor
// position are those of the last message fetched, which is this one.
MSG win_message(const PlatformMessage* message) {
    MSG msg{};
    msg.hwnd = win(message->window);
    msg.message = message->message;
    msg.wParam = message->wparam;
    msg.lParam = message->lparam;
    msg.time = static_cast<DWORD>(GetMessageTime());
    DWORD position = GetMessagePos();
    msg.pt.x = static_cast<int16_t>(LOWORD(position));
    msg.pt.y = static_cast<int16_t>(HIWORD(position));
    return msg;
}
} // namespace

void platform_translate_message(const PlatformMessage* message) {
    MSG msg = win_message(message);
    TranslateMessage(&msg);
}

void platform_dispatch_message(const PlatformMessage* message) {
    MSG msg = win_message(message);
    DispatchMessageA(&msg);
}

void platform_post_quit_message(int32_t code) {
    PostQuitMessage(code);
}

uintptr_t platform_set_timer(WindowHandle window, uintptr_t id, uint32_t period_ms) {
    return SetTimer(win(window), id, period_ms, nullptr);
}

bool platform_kill_timer(WindowHandle window, uintptr_t id) {
    return KillTimer(win(window), id) != 0;
}

int32_t platform_message_box(WindowHandle owner, const char* text, const char* caption,
                             uint32_t flags) {
    return MessageBoxA(win(owner), text, caption, flags);
}

DrawContext* platform_begin_paint(WindowHandle window) {
    return ours(BeginPaint(win(window), &current_paint));
}

void platform_end_paint(WindowHandle window, DrawContext* /*dc*/) {
    EndPaint(win(window), &current_paint);
    current_paint = PAINTSTRUCT{};
}

DrawContext* platform_get_dc(WindowHandle window) {
    return ours(GetDC(win(window)));
}

void platform_release_dc(WindowHandle window, DrawContext* dc) {
    ReleaseDC(win(window), win(dc));
}

PlatformObject* platform_stock_object(StockObject which) {
    int object = BLACK_PEN;
    switch (which) {
    case STOCK_WHITE_BRUSH:
        object = WHITE_BRUSH;
        break;
    case STOCK_BLACK_BRUSH:
        object = BLACK_BRUSH;
        break;
    case STOCK_NULL_BRUSH:
        object = NULL_BRUSH;
        break;
    case STOCK_BLACK_PEN:
        object = BLACK_PEN;
        break;
    }
    return ours(GetStockObject(object));
}

PlatformObject* platform_select_object(DrawContext* dc, PlatformObject* object) {
    return ours(SelectObject(win(dc), win(object)));
}

void platform_set_bk_mode(DrawContext* dc, int32_t mode) {
    SetBkMode(win(dc), mode);
}

void platform_set_text_color(DrawContext* dc, uint32_t color) {
    SetTextColor(win(dc), color);
}

void platform_rectangle(DrawContext* dc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Rectangle(win(dc), left, top, right, bottom);
}

void platform_text_out(DrawContext* dc, int32_t x, int32_t y, const char* text, int32_t length) {
    TextOutA(win(dc), x, y, text, length);
}

PlatformObject* platform_create_font(const FontDesc* desc) {
    LOGFONTA font{};
    font.lfHeight = desc->height;
    font.lfWeight = desc->weight;
    font.lfCharSet = ANSI_CHARSET;
    std::strncpy(font.lfFaceName, desc->face, LF_FACESIZE - 1);
    return ours(CreateFontIndirectA(&font));
}

void platform_delete_object(PlatformObject* object) {
    DeleteObject(win(object));
}

// The pictures are resources of the executable here.
void platform_provide_images(const ImagePixels*, uint32_t) {}

PlatformObject* platform_load_bitmap(InstanceHandle instance, int32_t id) {
    return ours(LoadBitmapA(win(instance), MAKEINTRESOURCEA(id)));
}

bool platform_bitmap_size(PlatformObject* bitmap, int32_t* width, int32_t* height) {
    BITMAP info{};
    if (GetObjectA(win(bitmap), sizeof(info), &info) != static_cast<int>(sizeof(info))) {
        return false;
    }
    *width = info.bmWidth;
    *height = info.bmHeight;
    return true;
}

DrawContext* platform_create_compatible_dc(DrawContext* dc) {
    return ours(CreateCompatibleDC(win(dc)));
}

void platform_delete_dc(DrawContext* dc) {
    DeleteDC(win(dc));
}

void platform_bit_blt(DrawContext* target, int32_t x, int32_t y, int32_t width, int32_t height,
                      DrawContext* source, int32_t source_x, int32_t source_y) {
    BitBlt(win(target), x, y, width, height, win(source), source_x, source_y, SRCCOPY);
}
