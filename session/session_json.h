// Our own session file: the record as one JSON document (docs/sessions.md),
// so that a record written and read back is the same record.
#pragma once

#include "session/session.h"

#include <cstdint>
#include <string>

constexpr int64_t SESSION_SCHEMA = 1;

// The record as a pretty-printed document ending in a newline; text that
// is not UTF-8 is written with U+FFFD in its place.
std::string session_json_text(const Session& session);

// False, with `problem` set to one line naming the field, when the text is
// not JSON, nests deeper than MAX_SESSION_DEPTH, holds more than
// MAX_SESSION_NODES values, is of another schema, lacks a field or holds one
// of the wrong kind or range, or breaks check_session; nothing is thrown.
bool read_session_json(const std::string& text, Session* session, std::string* problem);
