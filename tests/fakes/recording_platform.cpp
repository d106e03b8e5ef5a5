#include "tests/fakes/recording_platform.h"

#include <cstdio>
#include <string>

struct PlatformInstance {
    int unused;
};

struct PlatformWindow {
    const char* name;
};

struct DrawContext {
    const char* name;
};

struct PlatformObject {
    std::string name;
};

RecordingPlatform recording{};

namespace {
PlatformWindow main_window{"main"};
PlatformWindow buttons[2] = {{"button"}, {"button"}};
DrawContext paint_dc{"paint"};
DrawContext window_dc{"window"};
DrawContext memory_dc{"memory"};
PlatformObject stock[] = {{"white_brush"}, {"black_brush"}, {"null_brush"}, {"black_pen"}};
WindowProc registered_proc = nullptr;
size_t next_button = 0;

void record(const std::string& call) {
    recording.calls.push_back(call);
}

std::string number(intptr_t value) {
    return std::to_string(value);
}

std::string colour(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%06x", value);
    return text;
}
} // namespace

void reset_recording() {
    recording = RecordingPlatform{};
    registered_proc = nullptr;
    next_button = 0;
}

std::vector<std::string> take_calls() {
    std::vector<std::string> calls;
    calls.swap(recording.calls);
    return calls;
}

WindowHandle recorded_window() {
    return &main_window;
}

bool platform_register_class(InstanceHandle, const char* class_name, WindowProc proc,
                             int32_t icon_id, const char*) {
    record("register_class " + std::string(class_name) + " icon " + number(icon_id));
    if (recording.fail_register_class) {
        return false;
    }
    registered_proc = proc;
    return true;
}

WindowHandle platform_create_window(InstanceHandle, const char* class_name, const char* title,
                                    int32_t outer_width, int32_t outer_height) {
    record("create_window " + std::string(class_name) + " '" + title + "' " + number(outer_width) +
           "x" + number(outer_height));
    if (recording.fail_create_window || registered_proc == nullptr) {
        return nullptr;
    }
    if (registered_proc(&main_window, MESSAGE_CREATE, 0, 0) == -1) {
        return nullptr;
    }
    return &main_window;
}

WindowHandle platform_create_button(InstanceHandle, WindowHandle, const char* text, int32_t x,
                                    int32_t y, int32_t width, int32_t height, int32_t id) {
    record("create_button '" + std::string(text) + "' " + number(x) + " " + number(y) + " " +
           number(width) + " " + number(height) + " id " + number(id));
    return &buttons[next_button++ % 2];
}

void platform_show_window(WindowHandle) {
    record("show_window");
}

void platform_update_window(WindowHandle) {
    record("update_window");
}

void platform_enable_window(WindowHandle, bool enable) {
    record(enable ? "enable_window 1" : "enable_window 0");
}

void platform_invalidate(WindowHandle, bool erase) {
    record(erase ? "invalidate erase" : "invalidate");
}

intptr_t platform_def_window_proc(WindowHandle, uint32_t message, uintptr_t, intptr_t) {
    record("def_window_proc " + number(message));
    return 0;
}

bool platform_get_message(PlatformMessage* message) {
    if (!recording.script.empty() && !recording.quit_posted) {
        *message = recording.script.front();
        recording.script.erase(recording.script.begin());
        return true;
    }
    *message = PlatformMessage{nullptr, 0x0012, static_cast<uintptr_t>(recording.quit_code), 0};
    return false;
}

void platform_translate_message(const PlatformMessage*) {}

void platform_dispatch_message(const PlatformMessage* message) {
    if (registered_proc != nullptr) {
        registered_proc(message->window, message->message, message->wparam, message->lparam);
    }
}

void platform_post_quit_message(int32_t code) {
    record("post_quit " + number(code));
    recording.quit_posted = true;
    recording.quit_code = code;
}

uintptr_t platform_set_timer(WindowHandle, uintptr_t id, uint32_t period_ms) {
    record("set_timer " + number(static_cast<intptr_t>(id)) + " " + number(period_ms));
    return recording.fail_set_timer ? 0 : id;
}

bool platform_kill_timer(WindowHandle, uintptr_t id) {
    record("kill_timer " + number(static_cast<intptr_t>(id)));
    return true;
}

int32_t platform_message_box(WindowHandle owner, const char* text, const char* caption,
                             uint32_t flags) {
    record("message_box '" + std::string(caption) + "'");
    recording.boxes.push_back(RecordedBox{owner == &main_window, text, caption, flags});
    return 1;
}

DrawContext* platform_begin_paint(WindowHandle window) {
    record("begin_paint");
    if (registered_proc != nullptr) {
        registered_proc(window, MESSAGE_ERASEBKGND, reinterpret_cast<uintptr_t>(&paint_dc), 0);
    }
    return &paint_dc;
}

void platform_end_paint(WindowHandle, DrawContext*) {
    record("end_paint");
}

DrawContext* platform_get_dc(WindowHandle) {
    record("get_dc");
    return &window_dc;
}

void platform_release_dc(WindowHandle, DrawContext*) {
    record("release_dc");
}

PlatformObject* platform_stock_object(StockObject which) {
    return &stock[which];
}

PlatformObject* platform_select_object(DrawContext* dc, PlatformObject* object) {
    record("select " + (object != nullptr ? object->name : std::string("nothing")) +
           (dc == &memory_dc ? " into memory" : ""));
    return nullptr;
}

void platform_set_bk_mode(DrawContext*, int32_t mode) {
    record("bk_mode " + number(mode));
}

void platform_set_text_color(DrawContext*, uint32_t color) {
    record("text_color " + colour(color));
}

void platform_rectangle(DrawContext*, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    record("rectangle " + number(left) + " " + number(top) + " " + number(right) + " " +
           number(bottom));
}

void platform_text_out(DrawContext*, int32_t x, int32_t y, const char* text, int32_t length) {
    record("text " + number(x) + " " + number(y) + " " +
           std::string(text, static_cast<size_t>(length)));
}

PlatformObject* platform_create_font(const FontDesc* desc) {
    std::string name =
        "font " + number(desc->height) + "/" + number(desc->weight) + " " + desc->face;
    record("create_" + name);
    return recording.fail_create_font ? nullptr : new PlatformObject{name};
}

void platform_delete_object(PlatformObject* object) {
    record("delete " + object->name);
    delete object;
}

void platform_provide_images(const ImagePixels*, uint32_t) {}

PlatformObject* platform_load_bitmap(InstanceHandle, int32_t id) {
    record("load_bitmap " + number(id));
    return recording.fail_load_bitmap ? nullptr : new PlatformObject{"bitmap " + number(id)};
}

bool platform_bitmap_size(PlatformObject*, int32_t* width, int32_t* height) {
    *width = 300;
    *height = 380;
    return true;
}

DrawContext* platform_create_compatible_dc(DrawContext*) {
    record("create_compatible_dc");
    return &memory_dc;
}

void platform_delete_dc(DrawContext*) {
    record("delete_dc");
}

void platform_bit_blt(DrawContext*, int32_t x, int32_t y, int32_t width, int32_t height,
                      DrawContext* source, int32_t source_x, int32_t source_y) {
    record("bit_blt " + number(x) + " " + number(y) + " " + number(width) + " " + number(height) +
           " from " + source->name + " " + number(source_x) + " " + number(source_y));
}
