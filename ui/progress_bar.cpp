#include "ui/progress_bar.h"

#include "ui/layout.h"

void draw_progress_bar(WindowHandle window, uint32_t ticks, uint32_t total_ticks) {
    DrawContext* dc = platform_get_dc(window);
    if (dc == nullptr) {
        return;
    }
    platform_select_object(dc, platform_stock_object(STOCK_WHITE_BRUSH));
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_PEN));
    platform_rectangle(dc, BAR_LEFT, BAR_TOP, BAR_RIGHT, BAR_BOTTOM);
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_BRUSH));
    auto filled = static_cast<int32_t>(ticks * BAR_SPAN / total_ticks);
    platform_rectangle(dc, BAR_LEFT, BAR_TOP, BAR_LEFT + filled, BAR_BOTTOM);
    platform_release_dc(window, dc);
}
