// The mix test's two kernels: one track scaled and added into a bus block,
// and the clearing of a bus block.
#include "engine/circular_filter.h"

void mix_add(const MixTrackBlock* block, uint32_t count) {
    float* const bus = block->bus;
    const float* const track = block->track;
    const float gain = block->track_gain;
    for (uint32_t i = 0; i < count; ++i) {
        bus[i] = bus[i] + track[i] * gain;
    }
}

// Clears in 8-byte groups, each group's two words read before both are
// written; the volatile accesses keep the reads and stop the loop from
// becoming a memset.
void clear_block(void* block, uint32_t bytes) {
    volatile uint32_t* word = static_cast<volatile uint32_t*>(block);
    for (uint32_t group = 0; group < bytes / 8; ++group) {
        uint32_t first = word[0];
        uint32_t second = word[1];
        static_cast<void>(first);
        static_cast<void>(second);
        word[0] = 0;
        word[1] = 0;
        word += 2;
    }
    volatile unsigned char* rest = reinterpret_cast<volatile unsigned char*>(word);
    for (uint32_t i = 0; i < bytes % 8; ++i) {
        rest[i] = 0;
    }
}
