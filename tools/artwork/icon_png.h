// The program's icon as the bytes of a PNG file.
#pragma once

#include <cstdint>
#include <vector>

std::vector<uint8_t> icon_png();
