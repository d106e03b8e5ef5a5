// Build-time tool: writes the program's artwork (resources/artwork.cpp) as
// files, each kind chosen by the file's ending: an 8-bit palette .bmp of the
// background picture and a 16-colour .ico of the icon, which the Windows
// resource compiler takes, and a .png of the icon for the Linux desktop
// entry.
//
//   artwork_tool FILE.bmp|FILE.ico|FILE.png...
#include "resources/artwork.h"
#include "tools/artwork/icon_png.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

constexpr uint32_t FILE_HEADER_BYTES = 14;
constexpr uint32_t INFO_HEADER_BYTES = 40;
constexpr uint32_t ICON_DIRECTORY_BYTES = 6 + 16; // header and one entry
constexpr int32_t PIXELS_PER_METRE = 2835;        // 72 dots per inch
static_assert(ICON_SIZE % 8 == 0, "icon rows are whole bytes of two pixels and of the mask");

void put_u16(Bytes* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value & 0xFF));
    out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void put_u32(Bytes* out, uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

void put_i32(Bytes* out, int32_t value) {
    put_u32(out, static_cast<uint32_t>(value));
}

// Rows of a device-independent bitmap are padded to whole 32-bit words.
uint32_t row_bytes(int32_t width, int32_t bits_per_pixel) {
    return static_cast<uint32_t>((width * bits_per_pixel + 31) / 32 * 4);
}

struct InfoHeader {
    int32_t width;
    int32_t height; // an icon's counts its image and its mask
    uint32_t bits_per_pixel;
    uint32_t image_bytes;
    uint32_t colors_used;
};

void put_info_header(Bytes* out, const InfoHeader& info) {
    put_u32(out, INFO_HEADER_BYTES);
    put_i32(out, info.width);
    put_i32(out, info.height);
    put_u16(out, 1); // planes
    put_u16(out, info.bits_per_pixel);
    put_u32(out, 0); // uncompressed
    put_u32(out, info.image_bytes);
    put_i32(out, PIXELS_PER_METRE);
    put_i32(out, PIXELS_PER_METRE);
    put_u32(out, info.colors_used);
    put_u32(out, 0); // all colours important
}

void put_palette(Bytes* out, const PaletteEntry* palette, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        out->push_back(palette[i].blue);
        out->push_back(palette[i].green);
        out->push_back(palette[i].red);
        out->push_back(0);
    }
}

Bytes background_bmp() {
    uint32_t stride = row_bytes(BACKGROUND_WIDTH, 8);
    uint32_t image_bytes = stride * BACKGROUND_HEIGHT;
    uint32_t pixel_offset = FILE_HEADER_BYTES + INFO_HEADER_BYTES + 4 * BACKGROUND_COLORS;
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    put_u32(&out, pixel_offset + image_bytes);
    put_u32(&out, 0); // reserved
    put_u32(&out, pixel_offset);
    put_info_header(&out, {BACKGROUND_WIDTH, BACKGROUND_HEIGHT, 8, image_bytes, BACKGROUND_COLORS});
    PaletteEntry palette[BACKGROUND_COLORS];
    background_palette(palette);
    put_palette(&out, palette, BACKGROUND_COLORS);
    for (int32_t y = BACKGROUND_HEIGHT - 1; y >= 0; --y) { // bottom row first
        for (uint32_t x = 0; x < stride; ++x) {
            auto column = static_cast<int32_t>(x);
            out.push_back(column < BACKGROUND_WIDTH ? background_pixel(column, y) : 0);
        }
    }
    return out;
}

Bytes icon_ico() {
    uint32_t image_stride = row_bytes(ICON_SIZE, 4);
    uint32_t mask_stride = row_bytes(ICON_SIZE, 1);
    uint32_t pixel_bytes = (image_stride + mask_stride) * ICON_SIZE;
    uint32_t entry_bytes = INFO_HEADER_BYTES + 4 * ICON_COLORS + pixel_bytes;
    Bytes out;
    put_u16(&out, 0); // reserved
    put_u16(&out, 1); // an icon, not a cursor
    put_u16(&out, 1); // one image
    out.push_back(ICON_SIZE);
    out.push_back(ICON_SIZE);
    out.push_back(ICON_COLORS);
    out.push_back(0);
    put_u16(&out, 1); // planes
    put_u16(&out, 4); // bits per pixel
    put_u32(&out, entry_bytes);
    put_u32(&out, ICON_DIRECTORY_BYTES); // the image follows the directory
    put_info_header(&out, {ICON_SIZE, 2 * ICON_SIZE, 4, pixel_bytes, 0});
    PaletteEntry palette[ICON_COLORS];
    icon_palette(palette);
    put_palette(&out, palette, ICON_COLORS);
    for (int32_t y = ICON_SIZE - 1; y >= 0; --y) {
        for (int32_t x = 0; x < ICON_SIZE; x += 2) {
            out.push_back(static_cast<uint8_t>(icon_pixel(x, y) << 4 | icon_pixel(x + 1, y)));
        }
    }
    out.insert(out.end(), mask_stride * ICON_SIZE, 0); // fully opaque
    return out;
}

bool write_file(const char* path, const Bytes& bytes) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path);
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: artwork_tool FILE.bmp|FILE.ico|FILE.png...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::string path = argv[i];
        std::string ending = path.size() >= 4 ? path.substr(path.size() - 4) : "";
        Bytes bytes = ending == ".bmp"   ? background_bmp()
                      : ending == ".ico" ? icon_ico()
                      : ending == ".png" ? icon_png()
                                         : Bytes{};
        if (bytes.empty()) {
            std::fprintf(stderr, "artwork_tool: %s: not a .bmp, .ico or .png file\n", argv[i]);
            return 2;
        }
        if (!write_file(argv[i], bytes)) {
            return 1;
        }
    }
    return 0;
}
