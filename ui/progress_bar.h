// The progress bar under the buttons, drawn by the run's tick through the
// sequencer's contract.
#pragma once

#include "sequencer/run_progress.h"
