// The mix test's memory traffic with no arithmetic to speak of: for one bus
// block, the same block of all 64 tracks read with 16-byte loads and the bus
// block read and written once. Its rate is what one core's memory system
// delivers for the mix's access pattern.
#pragma once

#include "engine/workers.h"

// Moves one block's traffic at bus position mix->position, then advances
// the position as mix_next_block does; returns a value to keep.
float mix_reference_block(MixBus* mix);
