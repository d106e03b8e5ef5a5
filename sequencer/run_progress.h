// What the tick needs of the window to show a run's progress; ui/ draws it.
#pragma once

#include "platform/platform_window.h"

#include <cstdint>

// Draws the bar's frame and fills the share `ticks` of `total_ticks` of it.
void draw_progress_bar(WindowHandle window, uint32_t ticks, uint32_t total_ticks);
