// A session report's own fields read into a plain record: its session
// (name, rate, routes and their plugins' URIs) and each buffer size held,
// each field of its kind and in its range, each count of routes, plugins,
// sizes and threads within what a run can hold, and each route named by
// index one the session has.
#pragma once

#include "report/report_json.h"
#include "report/report_reader.h"

// Reads `doc`'s "session", "sizes", "verdict", "failure" and
// "stop_signal"; the session's name, rate and hold length also go to
// `report->settings` ("session.name", ...), so that they are compared as
// the other reports' plans are. A problem is noted in `reader`.
void read_session_figures(FieldReader* reader, const ReportJson& doc, ReportRecord* report);

// The length of the hold at a size, in seconds: the periods asked, each a
// period long.
double session_hold_seconds(const SessionSizeFigures* size);
