// The words and figures of the three result tables, in the order the
// results panel paints them. The desktop panel and the console runner both
// read the tables from here, so they say the same things.
#pragma once

#include "engine/measure_state.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t RESULT_BLOCKS = 3;
constexpr uint32_t MAX_RESULT_ROWS = 3;

extern const char* const STREAM_TYPE_TEXT; // header, left column

struct ResultRow {
    const char* label; // left column
    const char* unit;  // right column, after the figure
    int64_t value;
};

struct ResultBlock {
    const char* description;  // one-line description of the kernel
    const char* measure_name; // header, right column
    int32_t finished;         // rows are shown only once this is not 0
    uint32_t row_count;
    ResultRow rows[MAX_RESULT_ROWS];
};

// Fills the three blocks (integer filter, float filter, mix) from the three
// result records.
void describe_results(const FilterResult* int_result, const FilterResult* float_result,
                      const MixResult* mix_result, ResultBlock blocks[RESULT_BLOCKS]);

// The right-column text of a row, e.g. "123 cycles/smp."; returns `text`.
char* format_row_value(const ResultRow* row, char* text, size_t size);
