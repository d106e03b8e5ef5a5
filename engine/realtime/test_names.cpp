// The tests' names, apart from the streams so that the report reader can be
// built without the engine (tests/fuzz/).
#include "engine/realtime/stream_set.h"

const char* const RT_TEST_NAMES[RT_TESTS] = {"ZEM-1", "ZEM-2", "ZEM-M"};
const char* const RT_TEST_JSON_NAMES[RT_TESTS] = {"zem1", "zem2", "zemm"};
