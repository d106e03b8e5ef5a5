#include "desktop/app_main.h"

#include "resources/artwork.h"
#include "resources/resource_ids.h"
#include "resources/version.h"
#include "ui/main_window.h"

#include <cstddef>

namespace {
uint8_t background_rgb[BACKGROUND_WIDTH * BACKGROUND_HEIGHT * 3];
uint8_t icon_rgb[ICON_SIZE * ICON_SIZE * 3];

template <size_t COLORS>
void paint_rgb(uint8_t* rgb, int32_t width, int32_t height, void (*palette_of)(PaletteEntry*),
               uint8_t (*pixel_of)(int32_t, int32_t)) {
    PaletteEntry palette[COLORS];
    palette_of(palette);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const PaletteEntry& colour = palette[pixel_of(x, y)];
            uint8_t* pixel = &rgb[static_cast<size_t>(y * width + x) * 3];
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
        }
    }
}
} // namespace

void provide_artwork() {
    paint_rgb<BACKGROUND_COLORS>(background_rgb, BACKGROUND_WIDTH, BACKGROUND_HEIGHT,
                                 background_palette, background_pixel);
    paint_rgb<ICON_COLORS>(icon_rgb, ICON_SIZE, ICON_SIZE, icon_palette, icon_pixel);
    static const ImagePixels images[] = {
        {IDB_BACKGROUND, BACKGROUND_WIDTH, BACKGROUND_HEIGHT, background_rgb},
        {IDI_MAIN, ICON_SIZE, ICON_SIZE, icon_rgb},
    };
    platform_provide_images(images, 2);
}

int app_main(InstanceHandle instance) {
    WindowHandle window = create_main_window(instance, main_wnd_proc, nullptr, ZEM_WINDOW_TITLE);
    if (window == nullptr) {
        return 0;
    }
    PlatformMessage message{};
    while (platform_get_message(&message)) {
        platform_translate_message(&message);
        platform_dispatch_message(&message);
    }
    return static_cast<int>(message.wparam);
}
