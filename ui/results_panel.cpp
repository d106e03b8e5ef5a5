#include "ui/results_panel.h"

#include "engine/measure_state.h"
#include "report/result_tables.h"
#include "ui/layout.h"

#include <cstring>

PanelFonts panel_fonts{};

namespace {
const FontDesc TABLE_FONT_DESC{16, 600, "Arial"};
const FontDesc TITLE_FONT_DESC{12, 400, "Arial"};

// y of each block's description line; everything else is placed from it.
const int32_t BLOCK_BASES[RESULT_BLOCKS] = {FIRST_BLOCK_BASE, FIRST_BLOCK_BASE + BLOCK_PITCH,
                                            FIRST_BLOCK_BASE + 2 * BLOCK_PITCH};

void draw_text(DrawContext* dc, int32_t x, int32_t y, const char* text) {
    platform_text_out(dc, x, y, text, static_cast<int32_t>(std::strlen(text)));
}

void select_font(DrawContext* dc, PlatformObject* font) {
    if (font != nullptr) {
        platform_select_object(dc, font);
    }
}

void paint_header(DrawContext* dc, const ResultBlock* block, int32_t base) {
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_BRUSH));
    platform_set_text_color(dc, COLOR_WHITE);
    platform_rectangle(dc, TABLE_LEFT, base + HEADER_TOP, TABLE_RIGHT, base + HEADER_BOTTOM);
    select_font(dc, panel_fonts.table_font);
    draw_text(dc, LEFT_TEXT_X, base + HEADER_TEXT, STREAM_TYPE_TEXT);
    draw_text(dc, RIGHT_TEXT_X, base + HEADER_TEXT, block->measure_name);
}

void paint_cells(DrawContext* dc, const ResultBlock* block, int32_t base) {
    platform_select_object(dc, platform_stock_object(STOCK_NULL_BRUSH));
    for (uint32_t r = 0; r < block->row_count; ++r) {
        int32_t top = base + ROW_TOP + ROW_PITCH * static_cast<int32_t>(r);
        platform_rectangle(dc, TABLE_LEFT, top, COLUMN_SPLIT + 1, top + ROW_BOTTOM - ROW_TOP);
    }
    for (uint32_t r = 0; r < block->row_count; ++r) {
        int32_t top = base + ROW_TOP + ROW_PITCH * static_cast<int32_t>(r);
        platform_rectangle(dc, COLUMN_SPLIT, top, TABLE_RIGHT, top + ROW_BOTTOM - ROW_TOP);
    }
}

void paint_rows(DrawContext* dc, const ResultBlock* block, int32_t base) {
    platform_set_text_color(dc, COLOR_BLACK);
    if (block->finished == 0) {
        return;
    }
    for (uint32_t r = 0; r < block->row_count; ++r) {
        const ResultRow* row = &block->rows[r];
        int32_t y = base + ROW_TEXT + ROW_PITCH * static_cast<int32_t>(r);
        char value[48];
        draw_text(dc, LEFT_TEXT_X, y, row->label);
        draw_text(dc, RIGHT_TEXT_X, y, format_row_value(row, value, sizeof value));
    }
}

void paint_block(DrawContext* dc, const ResultBlock* block, int32_t base) {
    platform_set_text_color(dc, COLOR_BLACK);
    select_font(dc, panel_fonts.title_font);
    draw_text(dc, TABLE_LEFT, base, block->description);
    paint_header(dc, block, base);
    paint_cells(dc, block, base);
    paint_rows(dc, block, base);
}

void delete_font(PlatformObject** font) {
    if (*font != nullptr) {
        platform_delete_object(*font);
        *font = nullptr;
    }
}
} // namespace

void create_panel_fonts() {
    panel_fonts.table_font = platform_create_font(&TABLE_FONT_DESC);
    panel_fonts.title_font = platform_create_font(&TITLE_FONT_DESC);
}

void release_panel_fonts() {
    delete_font(&panel_fonts.table_font);
    delete_font(&panel_fonts.title_font);
}

void paint_results(WindowHandle window) {
    DrawContext* dc = platform_begin_paint(window);
    if (dc == nullptr) {
        return;
    }
    platform_set_bk_mode(dc, BK_MODE_TRANSPARENT);
    platform_set_text_color(dc, COLOR_BLACK);
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_PEN));
    ResultBlock blocks[RESULT_BLOCKS];
    describe_results(&measure_state.int_result, &measure_state.float_result,
                     &measure_state.mix_result, blocks);
    for (uint32_t b = 0; b < RESULT_BLOCKS; ++b) {
        paint_block(dc, &blocks[b], BLOCK_BASES[b]);
    }
    platform_end_paint(window, dc);
}
