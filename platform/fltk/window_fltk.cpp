// Window classes, windows and buttons of platform_window.h on FLTK 1.3.
//
// How the Win32 model maps onto FLTK:
//   - A top-level window is an Fl_Double_Window whose draw() sends
//     MESSAGE_PAINT to the window procedure (platform_begin_paint then sends
//     MESSAGE_ERASEBKGND), then draws the child buttons over it.
//   - Buttons are Fl_Buttons; a click sends MESSAGE_COMMAND to the parent's
//     procedure at once, as a Win32 button does, so the handler has disabled
//     the window before FLTK looks at the next event.
//   - The window manager's close request posts MESSAGE_CLOSE
//     (message_loop_fltk.cpp).
//   - A disabled window: an event-dispatch filter drops every mouse and
//     keyboard event aimed at it, so neither it nor its buttons see input.
//   - The outer size asked for is that of a classic Win32 dialog frame; the
//     window manager draws its own frame, so the FLTK window gets the client
//     area that frame would leave (300 x 380 gives 294 x 355).
#include "platform/fltk/fltk_platform.h"
#include "platform/fltk/text_1252.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/x.H>
#include <X11/Xutil.h>

#include <cstring>
#include <new>

namespace {
constexpr int32_t CLASSIC_DIALOG_FRAME = 3; // each side
constexpr int32_t CLASSIC_CAPTION = 19;
constexpr uintptr_t COMMAND_ID_MASK = 0xFFFF;

constexpr size_t MAX_CLASSES = 4;
constexpr size_t MAX_CLASS_NAME = 64;
constexpr size_t MAX_TOP_WINDOWS = 4;
constexpr size_t MAX_TITLE = 256;

constexpr long MWM_HINTS_FUNCTIONS = 1;
constexpr long MWM_HINTS_DECORATIONS = 2;
constexpr long MWM_FUNC_MOVE = 4;
constexpr long MWM_FUNC_MINIMIZE = 8;
constexpr long MWM_FUNC_CLOSE = 32;
constexpr long MWM_DECOR_BORDER = 2;
constexpr long MWM_DECOR_TITLE = 8;
constexpr long MWM_DECOR_MENU = 16;
constexpr long MWM_DECOR_MINIMIZE = 32;

struct WindowClass {
    char name[MAX_CLASS_NAME];
    WindowProc proc;
    int32_t icon_id;
};

WindowClass window_classes[MAX_CLASSES];
size_t class_count = 0;
PlatformWindow* top_windows[MAX_TOP_WINDOWS];

class TopWindow : public Fl_Double_Window {
  public:
    TopWindow(int width, int height, PlatformWindow* owner_window)
        : Fl_Double_Window(width, height), owner(owner_window) {}

  protected:
    void draw() override {
        if ((damage() & ~FL_DAMAGE_CHILD) != 0 && owner->proc != nullptr) {
            owner->proc(owner, MESSAGE_PAINT, 0, 0);
        }
        draw_children();
    }

  private:
    PlatformWindow* owner;
};

// ---- input to disabled windows

PlatformWindow* top_window_for(const Fl_Window* widget) {
    for (PlatformWindow* window : top_windows) {
        if (window != nullptr && window->widget == widget) {
            return window;
        }
    }
    return nullptr;
}

bool is_input_event(int event) {
    switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_MOUSEWHEEL:
    case FL_KEYBOARD:
    case FL_KEYUP:
    case FL_SHORTCUT:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
        return true;
    default:
        return false;
    }
}

int filter_event(int event, Fl_Window* target) {
    PlatformWindow* window = top_window_for(target);
    if (window != nullptr && !window->enabled && is_input_event(event)) {
        return 0;
    }
    return Fl::handle_(event, target);
}

// ---- callbacks from FLTK

void close_requested(Fl_Widget*, void* data) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) {
        return; // FLTK closes windows on Escape; a Win32 window does not
    }
    fltk_post_message(static_cast<PlatformWindow*>(data), MESSAGE_CLOSE, 0, 0);
}

void button_clicked(Fl_Widget*, void* data) {
    auto* button = static_cast<PlatformWindow*>(data);
    PlatformWindow* parent = button->parent;
    if (parent != nullptr && parent->proc != nullptr) {
        parent->proc(parent, MESSAGE_COMMAND,
                     static_cast<uintptr_t>(button->control_id) & COMMAND_ID_MASK,
                     reinterpret_cast<intptr_t>(button));
    }
}

// ---- classes, icon and window set-up

WindowClass* find_class(const char* name) {
    for (size_t i = 0; i < class_count; ++i) {
        if (std::strcmp(window_classes[i].name, name) == 0) {
            return &window_classes[i];
        }
    }
    return nullptr;
}

// The class icon, made once from the provided picture of that id.
const Fl_RGB_Image* class_icon(int32_t icon_id) {
    static Fl_RGB_Image* image = nullptr;
    static int32_t image_id = 0;
    const ImagePixels* pixels = fltk_find_image(icon_id);
    if (pixels == nullptr) {
        return nullptr;
    }
    if (image == nullptr || image_id != icon_id) {
        delete image;
        image = new (std::nothrow) Fl_RGB_Image(pixels->rgb, pixels->width, pixels->height, 3);
        image_id = icon_id;
    }
    return image;
}

bool remember_top_window(PlatformWindow* window) {
    for (PlatformWindow*& slot : top_windows) {
        if (slot == nullptr) {
            slot = window;
            return true;
        }
    }
    return false;
}

void forget_top_window(PlatformWindow* window) {
    for (PlatformWindow*& slot : top_windows) {
        if (slot == window) {
            slot = nullptr;
        }
    }
}

TopWindow* make_top_window(PlatformWindow* window, const WindowClass* window_class,
                           const char* title, int32_t outer_width, int32_t outer_height) {
    int width = outer_width - 2 * CLASSIC_DIALOG_FRAME;
    int height = outer_height - 2 * CLASSIC_DIALOG_FRAME - CLASSIC_CAPTION;
    Fl_Group::current(nullptr);
    auto* top = new TopWindow(width, height, window);
    top->end();
    char label[MAX_TITLE];
    text_1252_to_utf8(title, std::strlen(title), label, sizeof label);
    top->copy_label(label);
    top->xclass(window_class->name);
    top->box(FL_NO_BOX);
    top->size_range(width, height, width, height);
    top->callback(close_requested, window);
    if (const Fl_RGB_Image* icon = class_icon(window_class->icon_id)) {
        top->icon(icon);
    }
    return top;
}

// Doubles every '@', which FLTK labels would read as a symbol.
void button_label(const char* text, char* out, size_t size) {
    char utf8[MAX_TITLE];
    text_1252_to_utf8(text, std::strlen(text), utf8, sizeof utf8);
    size_t used = 0;
    for (const char* c = utf8; *c != '\0' && used + 2 < size; ++c) {
        if (*c == '@') {
            out[used++] = '@';
        }
        out[used++] = *c;
    }
    out[used] = '\0';
}
} // namespace

void fltk_set_frame_hints(Fl_Window* window, const char* class_name, bool minimise_box) {
    Window xid = fl_xid(window);
    if (xid == 0) {
        return;
    }
    if (class_name != nullptr) {
        char name[MAX_CLASS_NAME];
        std::strncpy(name, class_name, sizeof name - 1);
        name[sizeof name - 1] = '\0';
        XClassHint hint{name, name};
        XSetClassHint(fl_display, xid, &hint);
    }
    // Motif window-manager hints: flags, functions, decorations, input mode,
    // status.
    long hints[5] = {MWM_HINTS_FUNCTIONS | MWM_HINTS_DECORATIONS,
                     MWM_FUNC_MOVE | MWM_FUNC_CLOSE | (minimise_box ? MWM_FUNC_MINIMIZE : 0),
                     MWM_DECOR_BORDER | MWM_DECOR_TITLE | MWM_DECOR_MENU |
                         (minimise_box ? MWM_DECOR_MINIMIZE : 0),
                     0, 0};
    Atom property = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(fl_display, xid, property, property, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(hints), 5);
}

bool platform_register_class(InstanceHandle, const char* class_name, WindowProc proc,
                             int32_t icon_id, const char*) {
    if (proc == nullptr || std::strlen(class_name) >= MAX_CLASS_NAME ||
        find_class(class_name) != nullptr || class_count == MAX_CLASSES) {
        return false;
    }
    WindowClass* window_class = &window_classes[class_count++];
    std::strcpy(window_class->name, class_name);
    window_class->proc = proc;
    window_class->icon_id = icon_id;
    return true;
}

WindowHandle platform_create_window(InstanceHandle, const char* class_name, const char* title,
                                    int32_t outer_width, int32_t outer_height) {
    const WindowClass* window_class = find_class(class_name);
    if (window_class == nullptr) {
        return nullptr;
    }
    auto* window = new (std::nothrow) PlatformWindow{};
    if (window == nullptr || !remember_top_window(window)) {
        delete window;
        return nullptr;
    }
    Fl::event_dispatch(filter_event);
    TopWindow* top = make_top_window(window, window_class, title, outer_width, outer_height);
    window->widget = top;
    window->proc = window_class->proc;
    window->enabled = true;
    if (window->proc(window, MESSAGE_CREATE, 0, 0) == -1) {
        forget_top_window(window);
        delete top;
        delete window;
        return nullptr;
    }
    top->show();
    fltk_set_frame_hints(top, window_class->name, true);
    return window;
}

WindowHandle platform_create_button(InstanceHandle, WindowHandle parent, const char* text,
                                    int32_t x, int32_t y, int32_t width, int32_t height,
                                    int32_t id) {
    if (parent == nullptr || parent->widget->as_group() == nullptr) {
        return nullptr;
    }
    auto* window = new (std::nothrow) PlatformWindow{};
    if (window == nullptr) {
        return nullptr;
    }
    Fl_Group::current(nullptr);
    auto* button = new Fl_Button(x, y, width, height);
    char label[MAX_TITLE];
    button_label(text, label, sizeof label);
    button->copy_label(label);
    button->callback(button_clicked, window);
    parent->widget->as_group()->add(button);
    button->redraw();
    window->widget = button;
    window->parent = parent;
    window->control_id = id;
    window->enabled = true;
    return window;
}

void platform_show_window(WindowHandle window) {
    if (window != nullptr) {
        window->widget->show();
    }
}

void platform_update_window(WindowHandle) {
    Fl::flush();
}

void platform_enable_window(WindowHandle window, bool enable) {
    if (window == nullptr) {
        return;
    }
    window->enabled = enable;
    if (window->parent == nullptr) {
        return; // top level: the event filter keeps input away
    }
    if (enable) {
        window->widget->activate();
    } else {
        window->widget->deactivate();
    }
}

void platform_invalidate(WindowHandle window, bool) {
    if (window != nullptr) {
        window->widget->redraw(); // every paint erases first
    }
}

intptr_t platform_def_window_proc(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
    if (message == MESSAGE_CLOSE && window != nullptr && window->proc != nullptr) {
        window->widget->hide();
        window->proc(window, MESSAGE_DESTROY, 0, 0);
    }
    return 0;
}
