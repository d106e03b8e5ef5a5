// The geometry of the main window, in one place: its outer size, the two
// buttons, the progress bar and the result tables. Positions are client-area
// pixels from the top-left corner.
#pragma once

#include <cstdint>

// The window, frame and caption included.
constexpr int32_t MAIN_WINDOW_WIDTH = 300;
constexpr int32_t MAIN_WINDOW_HEIGHT = 380;

// The TEST and about buttons, side by side.
constexpr int32_t BUTTON_TOP = 5;
constexpr int32_t BUTTON_WIDTH = 140;
constexpr int32_t BUTTON_HEIGHT = 30;
constexpr int32_t TEST_BUTTON_LEFT = 5;
constexpr int32_t ABOUT_BUTTON_LEFT = 150;

// The progress bar: a white bar with a black frame, filled from the left by
// 285/160 of a pixel per tick.
constexpr int32_t BAR_LEFT = 5;
constexpr int32_t BAR_TOP = 40;
constexpr int32_t BAR_RIGHT = 290;
constexpr int32_t BAR_BOTTOM = 60;
constexpr uint32_t BAR_SPAN = 285;

// The result tables. Each block is placed from the y of its description
// line (BLOCK_BASES in the results panel); the rest are offsets from it.
constexpr int32_t TABLE_LEFT = 5;
constexpr int32_t TABLE_RIGHT = 290;
constexpr int32_t COLUMN_SPLIT = 140; // left cells end one pixel past it
constexpr int32_t LEFT_TEXT_X = 10;
constexpr int32_t RIGHT_TEXT_X = 150;
constexpr int32_t HEADER_TOP = 12;
constexpr int32_t HEADER_BOTTOM = 33;
constexpr int32_t HEADER_TEXT = 14;
constexpr int32_t ROW_TOP = 32;
constexpr int32_t ROW_BOTTOM = 53;
constexpr int32_t ROW_TEXT = 34;
constexpr int32_t ROW_PITCH = 20;
constexpr int32_t FIRST_BLOCK_BASE = 68;
constexpr int32_t BLOCK_PITCH = 80;
