// The result tables' words and units, for the window and the console runner.
#include "report/result_tables.h"

#include <cstdio>

const char* const STREAM_TYPE_TEXT = "Stream Type";

namespace {
const char* const MONO_44100 = "mono 44100 Hz";
const char* const MONO_48000 = "mono 48000 Hz";
const char* const CYCLES_UNIT = " cycles/smp.";

ResultBlock filter_block(const char* description, const char* measure_name,
                         const FilterResult* result) {
    return ResultBlock{description,
                       measure_name,
                       result->finished,
                       2,
                       {{MONO_44100, CYCLES_UNIT, result->cycles_44100},
                        {MONO_48000, CYCLES_UNIT, result->cycles_48000},
                        {}}};
}
} // namespace

void describe_results(const FilterResult* int_result, const FilterResult* float_result,
                      const MixResult* mix, ResultBlock blocks[RESULT_BLOCKS]) {
    blocks[0] =
        filter_block("[integer] 2 MOV + 2 MUL + ADD + 2 circular", "ZEM-1 measure", int_result);
    blocks[1] =
        filter_block("[float] 2 MOV + 2 FMUL + FADD + 2 circular", "ZEM-2 measure", float_result);
    blocks[2] = ResultBlock{"[float mix] 1 track + FMUL + FADD on output BUS",
                            "ZEM-M measure",
                            mix->finished,
                            3,
                            {{MONO_44100, " tracks", mix->tracks_44100},
                             {MONO_48000, " tracks", mix->tracks_48000},
                             {"Transfer Rate", " Mfloat/s", mix->mfloats_per_s}}};
}

char* format_row_value(const ResultRow* row, char* text, size_t size) {
    std::snprintf(text, size, "%lld%s", static_cast<long long>(row->value), row->unit);
    return text;
}
