// A session's file taken in safely, whichever format it is in.
#pragma once

#include "session/session.h"

#include <string>

// The whole file. False, with `problem` set to one line, when it is not a
// regular file, is larger than MAX_SESSION_BYTES or cannot be read; no more
// than one byte past the limit is ever read, however the file grows.
bool read_session_file(const std::string& path, std::string* text, std::string* problem);

// The session at `path`: Ardour's XML for a name ending in ".ardour",
// else our own JSON. False, with `problem` set to one line, when it cannot
// be read or is not a session this program takes.
bool read_session_path(const std::string& path, Session* session, std::string* problem);
