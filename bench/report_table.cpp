#include "bench/report_table.h"

#include "bench/benchmarks.h"
#include "bench/chains.h"
#include "engine/measure_state.h"
#include "engine/signals.h"

namespace {
constexpr double TRACK_BLOCK_BYTES = BLOCK_SAMPLES * sizeof(float);
// Memory traffic of one mix block: 64 track blocks read, the bus block read
// and written.
constexpr double MIX_BLOCK_BYTES = (MIX_TRACKS + 2) * TRACK_BLOCK_BYTES;
constexpr double NS_PER_S = 1e9;

// The core clock and the filters' bounds, from the chains; 0 when unknown.
struct Figures {
    double ghz;
    double bound_int; // cycles per sample: the sum of the path's latencies
    double bound_float;
    double output_int; // cycles per step of the path with the output work beside it
    double output_float;
};

bool best_of(const BestTimes& best, const char* name, double* ns) {
    auto found = best.find(name);
    if (found == best.end()) {
        return false;
    }
    *ns = found->second;
    return true;
}

// Cycles per step of a chain, or 0.
double chain_cycles(const BestTimes& best, const char* name, double ghz) {
    double ns = 0;
    return ghz > 0 && best_of(best, name, &ns) ? ns / CHAIN_STEPS * ghz : 0;
}

// The value in the format, or "n/a".
std::string number(const char* format, double value, bool known) {
    if (!known) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

Figures print_chains(const BestTimes& best, FILE* out) {
    Figures figures{};
    double add_ns = 0;
    if (best_of(best, CHAIN_ADD, &add_ns)) {
        figures.ghz = CHAIN_STEPS / add_ns;
    }
    const double ghz = figures.ghz;
    const char* names[] = {"imul (32-bit)", "sar", "mulss", "addss"};
    double cycles[] = {chain_cycles(best, CHAIN_IMUL, ghz), chain_cycles(best, CHAIN_SAR, ghz),
                       chain_cycles(best, CHAIN_MULSS, ghz), chain_cycles(best, CHAIN_ADDSS, ghz)};
    bool int_known = cycles[0] > 0 && cycles[1] > 0;
    bool float_known = cycles[2] > 0 && cycles[3] > 0;
    figures.bound_int = int_known ? cycles[0] + cycles[1] + 1.0 : 0;
    figures.bound_float = float_known ? cycles[2] + cycles[3] : 0;

    std::fprintf(out, "| Dependent chain | cycles per step |\n|---|---|\n");
    std::fprintf(out, "| add: the clock, 1 cycle per step | 1 (core clock %s GHz) |\n",
                 number("%.2f", ghz, ghz > 0).c_str());
    for (int i = 0; i < 4; ++i) {
        std::fprintf(out, "| %s | %s |\n", names[i],
                     number("%.2f", cycles[i], cycles[i] > 0).c_str());
    }
    double chain_int = chain_cycles(best, CHAIN_FILTER_INT, ghz);
    double chain_float = chain_cycles(best, CHAIN_FILTER_FLOAT, ghz);
    std::fprintf(out, "| imul + sar + add: filter_int's loop-carried path | %s (sum: %s) |\n",
                 number("%.2f", chain_int, chain_int > 0).c_str(),
                 number("%.2f", figures.bound_int, int_known).c_str());
    std::fprintf(out, "| mulss + addss: filter_float's loop-carried path | %s (sum: %s) |\n",
                 number("%.2f", chain_float, chain_float > 0).c_str(),
                 number("%.2f", figures.bound_float, float_known).c_str());
    figures.output_int = chain_cycles(best, CHAIN_FILTER_INT_OUTPUT, ghz);
    figures.output_float = chain_cycles(best, CHAIN_FILTER_FLOAT_OUTPUT, ghz);
    std::fprintf(out, "| the same with each step's output imul beside it | %s |\n",
                 number("%.2f", figures.output_int, figures.output_int > 0).c_str());
    std::fprintf(out, "| the same with each step's output mulss and store beside it | %s |\n\n",
                 number("%.2f", figures.output_float, figures.output_float > 0).c_str());
    return figures;
}

// A kernel's time per unit in ns and cycles; for the filters also the
// ratio to the bound of their loop-carried path and to that path with the
// output work beside it.
void print_kernel_row(FILE* out, const char* title, double ns_per_unit, bool known,
                      const Figures& figures, double bound, double with_output) {
    double cycles = ns_per_unit * figures.ghz;
    bool cycles_known = known && figures.ghz > 0;
    std::string ratio = number("%.3f", cycles / bound, cycles_known && bound > 0);
    std::string ratio_output =
        number("%.3f", cycles / with_output, cycles_known && with_output > 0);
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", title,
                 number("%.3f", ns_per_unit, known).c_str(),
                 number("%.2f", cycles, cycles_known).c_str(),
                 bound > 0 ? number("%.2f", bound, true).c_str() : "-",
                 bound > 0 ? ratio.c_str() : "-", with_output > 0 ? ratio_output.c_str() : "-");
}

void print_kernels(const BestTimes& best, const Figures& figures, FILE* out) {
    std::fprintf(out, "| Kernel alone, no yield | ns per sample | cycles per sample | "
                      "bound (cycles) | ratio to bound | ratio to the path with its output "
                      "work |\n|---|---|---|---|---|---|\n");
    double ns = 0;
    bool known = best_of(best, KERNEL_FILTER_INT, &ns);
    print_kernel_row(out, "filter_int", ns / BLOCK_SAMPLES, known, figures, figures.bound_int,
                     figures.output_int);
    known = best_of(best, KERNEL_FILTER_FLOAT, &ns);
    print_kernel_row(out, "filter_float", ns / BLOCK_SAMPLES, known, figures, figures.bound_float,
                     figures.output_float);
    known = best_of(best, KERNEL_MIX_ADD, &ns);
    print_kernel_row(out, "mix_add, one block in the first-level cache", ns / BLOCK_SAMPLES, known,
                     figures, 0, 0);
    known = best_of(best, KERNEL_CLEAR_BLOCK, &ns);
    print_kernel_row(out, "clear_block, per float cleared", ns / BLOCK_SAMPLES, known, figures, 0,
                     0);
    known = best_of(best, MIX_BLOCK, &ns);
    print_kernel_row(out, "mix unit (clear_block + 64 mix_add), per track-sample",
                     ns / MIX_BLOCK_WORK, known, figures, 0, 0);
    std::fprintf(out, "\n");
}

void print_memory(const BestTimes& best, FILE* out) {
    double mix_ns = 0;
    double reference_ns = 0;
    bool mix_known = best_of(best, MIX_BLOCK, &mix_ns);
    bool reference_known = best_of(best, MIX_REFERENCE, &reference_ns);
    std::fprintf(out,
                 "| One bus block: 64 track blocks read, the bus block read and written "
                 "(%.0f bytes) | µs per block | GB/s |\n|---|---|---|\n",
                 MIX_BLOCK_BYTES);
    std::fprintf(out, "| mix unit (clear_block + 64 mix_add) | %s | %s |\n",
                 number("%.2f", mix_ns / 1000, mix_known).c_str(),
                 number("%.2f", MIX_BLOCK_BYTES / mix_ns, mix_known).c_str());
    std::fprintf(out,
                 "| the same traffic, 16-byte loads, no arithmetic: memory's rate | %s | %s |\n",
                 number("%.2f", reference_ns / 1000, reference_known).c_str(),
                 number("%.2f", MIX_BLOCK_BYTES / reference_ns, reference_known).c_str());
    std::fprintf(
        out, "| mix unit's rate as a share of memory's | | %s |\n\n",
        number("%.0f %%", 100 * reference_ns / mix_ns, mix_known && reference_known).c_str());
}

void print_loop_row(FILE* out, const char* test, double kernel_ns, double loop_ns, bool known,
                    double units_per_block, const char* unit) {
    double other_ns = loop_ns - kernel_ns;
    double with_yield = units_per_block * NS_PER_S / loop_ns / SAMPLE_RATE_44100;
    double without = units_per_block * NS_PER_S / kernel_ns / SAMPLE_RATE_44100;
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s / %s %s |\n", test,
                 number("%.2f", kernel_ns / 1000, known).c_str(),
                 number("%.2f", loop_ns / 1000, known).c_str(),
                 number("%.2f", other_ns / 1000, known).c_str(),
                 number("%.0f %%", 100 * other_ns / loop_ns, known).c_str(),
                 number("%.0f", with_yield, known).c_str(), number("%.0f", without, known).c_str(),
                 unit);
}

void print_loops(const BestTimes& best, FILE* out) {
    std::fprintf(out, "| Timed loop, per block | kernel alone (µs) | whole loop (µs) | "
                      "not kernel work (µs) | share not kernel work | figure at 44100 Hz "
                      "with / without the yield |\n|---|---|---|---|---|---|\n");
    double kernel = 0;
    double loop = 0;
    bool known = best_of(best, KERNEL_FILTER_INT, &kernel) && best_of(best, LOOP_FILTER_INT, &loop);
    print_loop_row(out, "ZEM-1 (filter_int)", kernel, loop / LOOP_FILTER_BLOCKS, known,
                   BLOCK_SAMPLES, "cycles/smp.");
    known = best_of(best, KERNEL_FILTER_FLOAT, &kernel) && best_of(best, LOOP_FILTER_FLOAT, &loop);
    print_loop_row(out, "ZEM-2 (filter_float)", kernel, loop / LOOP_FILTER_BLOCKS, known,
                   BLOCK_SAMPLES, "cycles/smp.");
    known = best_of(best, MIX_BLOCK, &kernel) && best_of(best, LOOP_MIX, &loop);
    print_loop_row(out, "ZEM-M (mix unit)", kernel, loop / LOOP_MIX_BLOCKS, known, MIX_BLOCK_WORK,
                   "tracks");
    std::fprintf(out, "\n");
}

void print_other_costs(const BestTimes& best, FILE* out) {
    double yield_ns = 0;
    double preparation_ns = 0;
    bool yield_known = best_of(best, YIELD, &yield_ns);
    bool preparation_known = best_of(best, MIX_PREPARATION, &preparation_ns);
    std::fprintf(out, "| Other costs | |\n|---|---|\n");
    std::fprintf(out, "| one yield alone (sched_yield, no other thread ready) | %s |\n",
                 number("%.2f µs", yield_ns / 1000, yield_known).c_str());
    std::fprintf(out,
                 "| mix test's data preparation (allocation, 64 × 102400 sines, freeing) | "
                 "%s |\n",
                 number("%.0f ms", preparation_ns / 1e6, preparation_known).c_str());
}
} // namespace

void print_report(const BestTimes& best, FILE* out) {
    Figures figures = print_chains(best, out);
    print_kernels(best, figures, out);
    print_memory(best, out);
    print_loops(best, out);
    print_other_costs(best, out);
}
