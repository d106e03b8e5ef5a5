// Ardour's session file, the XML that Ardour 6, 7 and 8 write, read into a
// Session: each route's LV2 plugins in chain order, its internal sends and
// its port connections to other routes. Ardour's own processors, plugins of
// other formats, inactive sends and connections to hardware are kept as
// skipped items, each with why.
#pragma once

#include "session/session.h"

#include <cstdint>
#include <string>

// 6000 is Ardour 6's format; 7000 to 7003 are Ardour 7's and 8's.
constexpr int64_t OLDEST_ARDOUR_FORMAT = 6000;
constexpr int64_t NEWEST_ARDOUR_FORMAT = 7999;

// `text` is the file's XML and `folder` the folder it is in, under which a
// plugin's saved state is plugins/PROCESSOR-ID/STATE-DIR (its path is kept,
// never read). False, with `problem` set to one line, when the text is not
// well-formed XML, is not a session of those formats, or breaks a limit of
// session.h; nothing is thrown.
bool read_ardour_session(const std::string& text, const std::string& folder, Session* session,
                         std::string* problem);
