#include "resources/artwork.h"

#include <cmath>

namespace {
constexpr int32_t LIGHTEST = 255;
constexpr int32_t DARKEST = 140;
constexpr int32_t GREY_STEPS = LIGHTEST - DARKEST; // palette entries 0 .. 115 are used
constexpr int32_t LAST_DIAGONAL = (BACKGROUND_WIDTH - 1) + (BACKGROUND_HEIGHT - 1);

const PaletteEntry CLASSIC_16[ICON_COLORS] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};
constexpr uint8_t ICON_BACK = 4;   // navy
constexpr uint8_t ICON_FRAME = 8;  // grey
constexpr uint8_t ICON_WAVE = 11;  // yellow
constexpr uint8_t ICON_LEVEL = 10; // bright green
} // namespace

void background_palette(PaletteEntry palette[BACKGROUND_COLORS]) {
    for (int32_t i = 0; i < BACKGROUND_COLORS; ++i) {
        auto grey = static_cast<uint8_t>(i <= GREY_STEPS ? LIGHTEST - i : DARKEST);
        palette[i] = PaletteEntry{grey, grey, grey};
    }
}

uint8_t background_pixel(int32_t x, int32_t y) {
    // Nearest of the 116 greys for the position along the diagonal.
    int32_t step = ((x + y) * GREY_STEPS * 2 + LAST_DIAGONAL) / (LAST_DIAGONAL * 2);
    return static_cast<uint8_t>(step);
}

void icon_palette(PaletteEntry palette[ICON_COLORS]) {
    for (int32_t i = 0; i < ICON_COLORS; ++i) {
        palette[i] = CLASSIC_16[i];
    }
}

// A navy tile with a grey frame, one period of a yellow sine wave across the
// top half and four green level bars along the bottom.
uint8_t icon_pixel(int32_t x, int32_t y) {
    if (x == 0 || y == 0 || x == ICON_SIZE - 1 || y == ICON_SIZE - 1) {
        return ICON_FRAME;
    }
    double phase = 2.0 * 3.141592653589793 * (x - 2) / (ICON_SIZE - 5);
    auto wave_y = static_cast<int32_t>(std::lround(11.0 - 7.0 * std::sin(phase)));
    if (x >= 2 && x <= ICON_SIZE - 3 && (y == wave_y || y == wave_y + 1)) {
        return ICON_WAVE;
    }
    const int32_t heights[4] = {6, 10, 4, 8};
    for (int32_t bar = 0; bar < 4; ++bar) {
        int32_t left = 4 + bar * 6;
        if (x >= left && x < left + 4 && y >= 28 - heights[bar] && y < 28) {
            return ICON_LEVEL;
        }
    }
    return ICON_BACK;
}
