// A file read whole, but never more than one byte past a limit, however
// large it is or grows while it is read: the readers of saved reports and
// of sessions take files from the user.
#pragma once

#include <cstdint>
#include <string>

enum BoundedRead { READ_WHOLE, READ_TOO_LARGE, READ_NOT_OPENED, READ_FAILED };

// `error_number` is errno where the file would not open or a read failed
// (0 when the system gave none).
BoundedRead read_bounded(const std::string& path, uint64_t limit, std::string* text,
                         int* error_number);
