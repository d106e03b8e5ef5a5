// Code page 1252 text turned into UTF-8 for FLTK.
#include "platform/fltk/text_1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string utf8_of(const std::string& text, size_t out_size = 64) {
    std::string out(out_size, 'x');
    size_t bytes = text_1252_to_utf8(text.data(), text.size(), out.data(), out.size());
    EXPECT_EQ(out[bytes], '\0');
    return out.substr(0, bytes);
}
} // namespace

TEST(Text1252, AsciiLatinAndTheWindowsRangeBecomeUtf8) {
    EXPECT_EQ(utf8_of("Test ZEM (Dorvantic)"), "Test ZEM (Dorvantic)");
    EXPECT_EQ(utf8_of("cr\xE9"
                      "er"),
              "cr\xC3\xA9"
              "er");
    EXPECT_EQ(utf8_of("\x80\x85\x9F\xFF"), "\xE2\x82\xAC\xE2\x80\xA6\xC5\xB8\xC3\xBF");
    EXPECT_EQ(utf8_of("\x81\x8D"), "\xC2\x81\xC2\x8D"); // undefined: same code point
    EXPECT_EQ(utf8_of(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Text1252, TextThatDoesNotFitIsCutBetweenCharacters) {
    EXPECT_EQ(utf8_of("a\xE9", 3), "a"); // the two-byte é does not fit with its NUL
    EXPECT_EQ(utf8_of("a\xE9", 4), "a\xC3\xA9");
    EXPECT_EQ(utf8_of("\x80", 3), ""); // nor the three-byte euro sign
    EXPECT_EQ(utf8_of("abc", 1), "");
}
