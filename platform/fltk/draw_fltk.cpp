// Drawing operations of platform_window.h on FLTK 1.3: device contexts,
// stock objects, rectangles, text, fonts and the background picture.
//
// A window's context draws wherever FLTK draws at the time: inside the
// window's draw() for a paint (the back buffer), or straight onto the window
// after make_current() for platform_get_dc. A memory context only holds a
// bitmap to copy from.
//
// Fonts are asked of fontconfig by face ("Arial" finds Liberation Sans,
// which has Arial's metrics), bold from weight 600 up. A positive height is
// the character cell (internal leading included), as on Windows: the pixel
// size is chosen so that the face's ascent plus descent fills that cell, and
// text is drawn with its cell's top-left corner at (x, y).
#include "platform/fltk/fltk_platform.h"
#include "platform/fltk/text_1252.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {
constexpr int32_t BK_MODE_OPAQUE = 2;
constexpr int32_t WEIGHT_BOLD_FROM = 600;
constexpr int32_t DEFAULT_CELL_HEIGHT = 16;
constexpr int MEASURING_SIZE = 200;
constexpr size_t MAX_FACES = 8;
constexpr size_t MAX_FACE_NAME = 64;
constexpr size_t MAX_TEXT = 1024;

PlatformObject make_stock(ObjectKind kind, uint32_t color, bool hollow) {
    PlatformObject object{};
    object.kind = kind;
    object.stock = true;
    object.hollow = hollow;
    object.color = color;
    return object;
}

PlatformObject stock_objects[] = {
    make_stock(OBJECT_BRUSH, COLOR_WHITE, false), // STOCK_WHITE_BRUSH
    make_stock(OBJECT_BRUSH, COLOR_BLACK, false), // STOCK_BLACK_BRUSH
    make_stock(OBJECT_BRUSH, COLOR_BLACK, true),  // STOCK_NULL_BRUSH
    make_stock(OBJECT_PEN, COLOR_BLACK, false),   // STOCK_BLACK_PEN
};

struct FaceSlot {
    char name[MAX_FACE_NAME + 1]; // FLTK's form: ' ' or 'B', then the family
    Fl_Font index;
};

FaceSlot faces[MAX_FACES];
size_t face_count = 0;

Fl_Color to_fl_color(uint32_t color) {
    return fl_rgb_color(static_cast<uchar>(color & 0xFF), static_cast<uchar>((color >> 8) & 0xFF),
                        static_cast<uchar>((color >> 16) & 0xFF));
}

// The FLTK font index for a family in plain or bold, registered on first use.
Fl_Font face_index(const char* family, bool bold) {
    char name[MAX_FACE_NAME + 1];
    std::snprintf(name, sizeof name, "%c%s", bold ? 'B' : ' ', family);
    for (size_t i = 0; i < face_count; ++i) {
        if (std::strcmp(faces[i].name, name) == 0) {
            return faces[i].index;
        }
    }
    if (face_count == MAX_FACES) {
        return bold ? FL_HELVETICA_BOLD : FL_HELVETICA;
    }
    FaceSlot* slot = &faces[face_count];
    std::strcpy(slot->name, name);
    slot->index = static_cast<Fl_Font>(FL_FREE_FONT + face_count);
    Fl::set_font(slot->index, slot->name);
    face_count += 1;
    return slot->index;
}

// Pixel size whose ascent plus descent is closest to the cell height.
int size_for_cell(Fl_Font face, int32_t cell_height) {
    fl_font(face, MEASURING_SIZE);
    double line_per_size = static_cast<double>(fl_height()) / MEASURING_SIZE;
    auto size = static_cast<int>(std::lround(cell_height / line_per_size));
    return size < 1 ? 1 : size;
}

void measure_font(PlatformObject* font) {
    fl_font(font->face, font->size);
    font->cell_height = fl_height();
    font->ascent = fl_height() - fl_descent();
}

PlatformObject* default_font() {
    static PlatformObject font{};
    if (font.size == 0) {
        font.kind = OBJECT_FONT;
        font.stock = true;
        font.face = FL_HELVETICA_BOLD;
        font.size = size_for_cell(FL_HELVETICA_BOLD, DEFAULT_CELL_HEIGHT);
        measure_font(&font);
    }
    return &font;
}

PlatformObject** selection_slot(DrawContext* dc, ObjectKind kind) {
    switch (kind) {
    case OBJECT_PEN:
        return &dc->pen;
    case OBJECT_BRUSH:
        return &dc->brush;
    case OBJECT_FONT:
        return &dc->font;
    case OBJECT_BITMAP:
        return dc->window == nullptr ? &dc->bitmap : nullptr;
    }
    return nullptr;
}

bool draws_on_window(const DrawContext* dc) {
    return dc != nullptr && dc->window != nullptr;
}

const ImagePixels* provided_images = nullptr;
uint32_t provided_count = 0;

PlatformObject* make_bitmap(const ImagePixels* image) {
    auto* bitmap = new (std::nothrow) PlatformObject{};
    if (bitmap == nullptr) {
        return nullptr;
    }
    auto bytes = static_cast<size_t>(image->width) * static_cast<size_t>(image->height) * 3;
    bitmap->kind = OBJECT_BITMAP;
    bitmap->width = image->width;
    bitmap->height = image->height;
    bitmap->pixels = new (std::nothrow) uint8_t[bytes];
    if (bitmap->pixels == nullptr) {
        delete bitmap;
        return nullptr;
    }
    std::memcpy(bitmap->pixels, image->rgb, bytes);
    return bitmap;
}
} // namespace

void fltk_reset_dc(DrawContext* dc, PlatformWindow* window) {
    *dc = DrawContext{};
    dc->window = window;
    dc->pen = &stock_objects[STOCK_BLACK_PEN];
    dc->brush = &stock_objects[STOCK_WHITE_BRUSH];
    dc->text_color = COLOR_BLACK;
    dc->bk_mode = BK_MODE_OPAQUE;
}

DrawContext* platform_begin_paint(WindowHandle window) {
    if (window == nullptr || window->proc == nullptr) {
        return nullptr;
    }
    DrawContext* dc = &window->paint_dc;
    fltk_reset_dc(dc, window);
    window->proc(window, MESSAGE_ERASEBKGND, reinterpret_cast<uintptr_t>(dc), 0);
    return dc;
}

void platform_end_paint(WindowHandle, DrawContext*) {
    // FLTK shows the back buffer once draw() returns.
}

DrawContext* platform_get_dc(WindowHandle window) {
    if (window == nullptr) {
        return nullptr;
    }
    Fl_Window* top = window->widget->as_window();
    if (top == nullptr || !top->shown()) {
        return nullptr;
    }
    top->make_current();
    fltk_reset_dc(&window->window_dc, window);
    return &window->window_dc;
}

void platform_release_dc(WindowHandle, DrawContext*) {
    // Drawn straight onto the window; the next Fl::wait flushes it.
}

PlatformObject* platform_stock_object(StockObject which) {
    if (which > STOCK_BLACK_PEN) {
        return nullptr;
    }
    return &stock_objects[which];
}

PlatformObject* platform_select_object(DrawContext* dc, PlatformObject* object) {
    if (dc == nullptr || object == nullptr) {
        return nullptr;
    }
    PlatformObject** slot = selection_slot(dc, object->kind);
    if (slot == nullptr) {
        return nullptr;
    }
    PlatformObject* previous = *slot;
    *slot = object;
    return previous;
}

void platform_set_bk_mode(DrawContext* dc, int32_t mode) {
    if (dc != nullptr) {
        dc->bk_mode = mode;
    }
}

void platform_set_text_color(DrawContext* dc, uint32_t color) {
    if (dc != nullptr) {
        dc->text_color = color;
    }
}

void platform_rectangle(DrawContext* dc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (!draws_on_window(dc) || right <= left || bottom <= top) {
        return;
    }
    int width = right - left;
    int height = bottom - top;
    if (dc->brush != nullptr && !dc->brush->hollow) {
        fl_color(to_fl_color(dc->brush->color));
        fl_rectf(left, top, width, height);
    }
    if (dc->pen != nullptr) {
        fl_color(to_fl_color(dc->pen->color));
        fl_rect(left, top, width, height);
    }
}

void platform_text_out(DrawContext* dc, int32_t x, int32_t y, const char* text, int32_t length) {
    if (!draws_on_window(dc) || text == nullptr || length <= 0) {
        return;
    }
    char utf8[MAX_TEXT];
    size_t bytes = text_1252_to_utf8(text, static_cast<size_t>(length), utf8, sizeof utf8);
    const PlatformObject* font = dc->font != nullptr ? dc->font : default_font();
    fl_font(font->face, font->size);
    if (dc->bk_mode != BK_MODE_TRANSPARENT) {
        fl_color(FL_WHITE);
        fl_rectf(x, y, static_cast<int>(fl_width(utf8, static_cast<int>(bytes))),
                 font->cell_height);
    }
    fl_color(to_fl_color(dc->text_color));
    fl_draw(utf8, static_cast<int>(bytes), x, y + font->ascent);
}

PlatformObject* platform_create_font(const FontDesc* desc) {
    if (desc == nullptr || fl_display == nullptr) {
        return nullptr;
    }
    auto* font = new (std::nothrow) PlatformObject{};
    if (font == nullptr) {
        return nullptr;
    }
    char family[MAX_FACE_NAME];
    const char* face = desc->face != nullptr && desc->face[0] != '\0' ? desc->face : "Arial";
    text_1252_to_utf8(face, std::strlen(face), family, sizeof family);
    font->kind = OBJECT_FONT;
    font->face = face_index(family, desc->weight >= WEIGHT_BOLD_FROM);
    if (desc->height > 0) {
        font->size = size_for_cell(font->face, desc->height);
    } else if (desc->height < 0) {
        font->size = -desc->height; // character height without leading: the em
    } else {
        font->size = size_for_cell(font->face, DEFAULT_CELL_HEIGHT);
    }
    measure_font(font);
    return font;
}

void platform_delete_object(PlatformObject* object) {
    if (object == nullptr || object->stock) {
        return;
    }
    delete[] object->pixels;
    delete object;
}

const ImagePixels* fltk_find_image(int32_t id) {
    for (uint32_t i = 0; i < provided_count; ++i) {
        if (provided_images[i].id == id) {
            return &provided_images[i];
        }
    }
    return nullptr;
}

void platform_provide_images(const ImagePixels* images, uint32_t count) {
    provided_images = images;
    provided_count = images != nullptr ? count : 0;
}

PlatformObject* platform_load_bitmap(InstanceHandle, int32_t id) {
    const ImagePixels* image = fltk_find_image(id);
    return image != nullptr ? make_bitmap(image) : nullptr;
}

bool platform_bitmap_size(PlatformObject* bitmap, int32_t* width, int32_t* height) {
    if (bitmap == nullptr || bitmap->kind != OBJECT_BITMAP) {
        return false;
    }
    *width = bitmap->width;
    *height = bitmap->height;
    return true;
}

DrawContext* platform_create_compatible_dc(DrawContext*) {
    auto* dc = new (std::nothrow) DrawContext{};
    if (dc != nullptr) {
        fltk_reset_dc(dc, nullptr);
    }
    return dc;
}

void platform_delete_dc(DrawContext* dc) {
    if (dc != nullptr && dc->window == nullptr) {
        delete dc;
    }
}

void platform_bit_blt(DrawContext* target, int32_t x, int32_t y, int32_t width, int32_t height,
                      DrawContext* source, int32_t source_x, int32_t source_y) {
    if (!draws_on_window(target) || source == nullptr || source->bitmap == nullptr) {
        return;
    }
    const PlatformObject* bitmap = source->bitmap;
    if (source_x < 0 || source_y < 0 || source_x >= bitmap->width || source_y >= bitmap->height) {
        return;
    }
    int32_t copy_width = width < bitmap->width - source_x ? width : bitmap->width - source_x;
    int32_t copy_height = height < bitmap->height - source_y ? height : bitmap->height - source_y;
    if (copy_width <= 0 || copy_height <= 0) {
        return;
    }
    const uint8_t* first = &bitmap->pixels[(source_y * bitmap->width + source_x) * 3];
    fl_draw_image(first, x, y, copy_width, copy_height, 3, bitmap->width * 3);
}
