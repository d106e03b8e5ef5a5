// The program's icon (resources/artwork.cpp) as a PNG file for the desktop
// entry: 32 x 32, 16-colour palette, 4 bits a pixel, stored without
// compression.
#include "tools/artwork/icon_png.h"

#include "resources/artwork.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

uint32_t crc32_of(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

uint32_t adler32_of(const std::vector<uint8_t>& data) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

void put_u32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out->push_back(static_cast<uint8_t>(value >> shift));
    }
}

void put_chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
    put_u32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out->insert(out->end(), typed.begin(), typed.end());
    put_u32(out, crc32_of(typed.data(), typed.size()));
}

// Each row: filter type 0, then two pixels a byte, high nibble first.
std::vector<uint8_t> icon_rows() {
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < ICON_SIZE; ++y) {
        rows.push_back(0);
        for (int32_t x = 0; x < ICON_SIZE; x += 2) {
            rows.push_back(static_cast<uint8_t>((icon_pixel(x, y) << 4) | icon_pixel(x + 1, y)));
        }
    }
    return rows;
}

// A zlib stream holding the data in one stored (uncompressed) block.
std::vector<uint8_t> stored_zlib(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out{0x78, 0x01, 0x01};
    auto length = static_cast<uint16_t>(data.size());
    auto inverse = static_cast<uint16_t>(~length);
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(inverse & 0xFF));
    out.push_back(static_cast<uint8_t>(inverse >> 8));
    out.insert(out.end(), data.begin(), data.end());
    put_u32(&out, adler32_of(data));
    return out;
}

} // namespace

std::vector<uint8_t> icon_png() {
    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put_u32(&header, ICON_SIZE);
    put_u32(&header, ICON_SIZE);
    header.insert(header.end(), {4, 3, 0, 0, 0}); // 4 bits, palette, no interlace
    put_chunk(&png, "IHDR", header);
    PaletteEntry palette[ICON_COLORS];
    icon_palette(palette);
    std::vector<uint8_t> colours;
    for (const PaletteEntry& entry : palette) {
        colours.insert(colours.end(), {entry.red, entry.green, entry.blue});
    }
    put_chunk(&png, "PLTE", colours);
    put_chunk(&png, "IDAT", stored_zlib(icon_rows()));
    put_chunk(&png, "IEND", std::vector<uint8_t>{});
    return png;
}
