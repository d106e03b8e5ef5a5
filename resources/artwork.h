// The program's artwork, defined once: the background picture and the icon,
// as palette images. The Linux program draws them from here; the Windows
// build turns them into its bitmap and icon resources.
#pragma once

#include <cstdint>

struct PaletteEntry {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// Background: 300 x 380, 8 bits per pixel, 256-entry palette; a diagonal grey
// gradient from (255, 255, 255) at the top-left to (140, 140, 140) at the
// bottom-right, darkening along x + y.
constexpr int32_t BACKGROUND_WIDTH = 300;
constexpr int32_t BACKGROUND_HEIGHT = 380;
constexpr int32_t BACKGROUND_COLORS = 256;
void background_palette(PaletteEntry palette[BACKGROUND_COLORS]);
uint8_t background_pixel(int32_t x, int32_t y);

// Icon: 32 x 32, 16 colours (the classic 16-colour palette), fully opaque.
constexpr int32_t ICON_SIZE = 32;
constexpr int32_t ICON_COLORS = 16;
void icon_palette(PaletteEntry palette[ICON_COLORS]);
uint8_t icon_pixel(int32_t x, int32_t y);
