// Modal message boxes of platform_window.h on FLTK 1.3: a small window with
// the given caption, the text, an exclamation mark when asked for, and an OK
// button that Return, Escape or the close box also press. While it is open
// FLTK sends no input to the program's other windows; they still repaint.
#include "platform/fltk/fltk_platform.h"
#include "platform/fltk/text_1252.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <new>

namespace {
constexpr int32_t BOX_RESULT_OK = 1;
constexpr uint32_t BOX_ICON_MASK = 0x00F0;
constexpr int MARGIN = 14;
constexpr int ICON_SIZE_PX = 40;
constexpr int BUTTON_WIDTH = 90;
constexpr int BUTTON_HEIGHT = 26;
constexpr int MIN_TEXT_WIDTH = 160;
constexpr int MAX_TEXT_WIDTH = 720;
constexpr int TEXT_SLACK = 8; // the label's own inset, and room to spare
constexpr int TEXT_FONT_SIZE = 14;

// The text in UTF-8 with every '@' doubled, which FLTK labels would read as
// a symbol. The caller deletes it.
char* label_text(const char* text) {
    size_t length = std::strlen(text);
    auto* utf8 = new (std::nothrow) char[utf8_size_for_1252(length)];
    auto* label = new (std::nothrow) char[2 * utf8_size_for_1252(length)];
    if (utf8 == nullptr || label == nullptr) {
        delete[] utf8;
        delete[] label;
        return nullptr;
    }
    text_1252_to_utf8(text, length, utf8, utf8_size_for_1252(length));
    size_t used = 0;
    for (const char* c = utf8; *c != '\0'; ++c) {
        if (*c == '@') {
            label[used++] = '@';
        }
        label[used++] = *c;
    }
    label[used] = '\0';
    delete[] utf8;
    return label;
}

void close_box(Fl_Widget* widget, void*) {
    Fl_Window* box = widget->as_window() != nullptr ? widget->as_window() : widget->window();
    box->hide();
}

// The text's size, wrapped to fit the screen and at most MAX_TEXT_WIDTH.
void measure_text(const char* text, int* width, int* height) {
    int screen_x = 0;
    int screen_y = 0;
    int screen_w = 0;
    int screen_h = 0;
    Fl::screen_work_area(screen_x, screen_y, screen_w, screen_h);
    int widest = screen_w - 6 * MARGIN < MAX_TEXT_WIDTH ? screen_w - 6 * MARGIN : MAX_TEXT_WIDTH;
    fl_font(FL_HELVETICA, TEXT_FONT_SIZE);
    int w = 0;
    int h = 0;
    fl_measure(text, w, h, 1);
    if (w > widest) {
        w = widest; // fl_measure wraps at a given width
        h = 0;
        fl_measure(text, w, h, 1);
    }
    w += TEXT_SLACK;
    h += TEXT_SLACK;
    *width = w < MIN_TEXT_WIDTH ? MIN_TEXT_WIDTH : w;
    *height = h < ICON_SIZE_PX ? ICON_SIZE_PX : h;
}

void place_box(Fl_Window* box, WindowHandle owner) {
    Fl_Window* parent = owner != nullptr ? owner->widget->as_window() : nullptr;
    if (parent != nullptr && parent->shown()) {
        box->position(parent->x() + (parent->w() - box->w()) / 2,
                      parent->y() + (parent->h() - box->h()) / 2);
        return;
    }
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    Fl::screen_work_area(x, y, w, h);
    box->position(x + (w - box->w()) / 2, y + (h - box->h()) / 2);
}

void run_box(const char* text, const char* caption, bool exclamation, WindowHandle owner) {
    int text_width = 0;
    int text_height = 0;
    measure_text(text, &text_width, &text_height);
    int text_left = MARGIN + (exclamation ? ICON_SIZE_PX + MARGIN : 0);
    int width = text_left + text_width + MARGIN;
    int height = MARGIN + text_height + MARGIN + BUTTON_HEIGHT + MARGIN;

    Fl_Group::current(nullptr);
    Fl_Window box(width, height);
    box.copy_label(caption);
    if (exclamation) {
        auto* icon = new Fl_Box(MARGIN, MARGIN, ICON_SIZE_PX, ICON_SIZE_PX, "!");
        icon->box(FL_THIN_UP_BOX);
        icon->color(FL_YELLOW);
        icon->labelfont(FL_HELVETICA_BOLD);
        icon->labelsize(30);
    }
    auto* message = new Fl_Box(text_left, MARGIN, text_width, text_height, text);
    message->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    message->labelsize(TEXT_FONT_SIZE);
    auto* ok = new Fl_Return_Button((width - BUTTON_WIDTH) / 2, height - MARGIN - BUTTON_HEIGHT,
                                    BUTTON_WIDTH, BUTTON_HEIGHT, "OK");
    ok->callback(close_box);
    box.end();
    box.callback(close_box);
    box.set_modal();
    place_box(&box, owner);
    box.show();
    fltk_set_frame_hints(&box, nullptr, false);
    while (box.shown()) {
        Fl::wait();
    }
}
} // namespace

int32_t platform_message_box(WindowHandle owner, const char* text, const char* caption,
                             uint32_t flags) {
    char* text_label = label_text(text != nullptr ? text : "");
    char caption_utf8[256];
    const char* caption_1252 = caption != nullptr ? caption : "Error";
    text_1252_to_utf8(caption_1252, std::strlen(caption_1252), caption_utf8, sizeof caption_utf8);
    if (text_label != nullptr) {
        run_box(text_label, caption_utf8, (flags & BOX_ICON_MASK) == BOX_ICON_EXCLAMATION, owner);
    }
    delete[] text_label;
    return BOX_RESULT_OK;
}
