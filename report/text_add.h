// Reports built as text: printf-formatted pieces appended to a string.
#pragma once

#include <string>

// gnu_printf: MinGW's printf checks would refuse %zu, which its C++ stdio takes.
__attribute__((format(gnu_printf, 2, 3))) void text_add(std::string* text_out, const char* format,
                                                        ...);
