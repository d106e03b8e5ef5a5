#include "report/compare.h"

#include "report/svg_text.h"

#include "engine/realtime/stream_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <set>
#include <sstream>

using Json = nlohmann::ordered_json;

namespace {
enum Kind { TEXT, INTEGER, NUMBER, BOOLEAN, OBJECT, ARRAY };
const char* const KIND_NAMES[] = {"a string",      "an integer", "a number",
                                  "true or false", "an object",  "an array"};
enum Presence { REQUIRED, NULLABLE, OPTIONAL };

struct Reader {
    std::string problem; // the first problem met; empty while none
};

const Json NOTHING;

bool has_kind(const Json& value, Kind kind) {
    switch (kind) {
    case TEXT:
        return value.is_string();
    case INTEGER:
        return value.is_number_integer();
    case NUMBER:
        return value.is_number();
    case BOOLEAN:
        return value.is_boolean();
    case OBJECT:
        return value.is_object();
    case ARRAY:
        return value.is_array();
    }
    return false;
}

// object[key] when it has the kind asked, else null: absent or null where
// allowed, or a problem noted. A null parent (an optional object that was
// absent) has no fields; after a problem every field reads null.
const Json& field(Reader* reader, const Json& object, const std::string& where, const char* key,
                  Kind kind, Presence presence) {
    if (!reader->problem.empty() || object.is_null()) {
        return NOTHING;
    }
    std::string name = where.empty() ? key : where + "." + key;
    auto found = object.find(key);
    if (found == object.end()) {
        if (presence != OPTIONAL) {
            reader->problem = name + " is missing";
        }
        return NOTHING;
    }
    if (found->is_null() && presence != REQUIRED) {
        return NOTHING;
    }
    if (!has_kind(*found, kind)) {
        reader->problem = name + " is not " + KIND_NAMES[kind];
        return NOTHING;
    }
    return *found;
}

// An element of an array that must be an object.
const Json& element(Reader* reader, const Json& array, size_t index, const std::string& where) {
    if (reader->problem.empty() && !array[index].is_object()) {
        reader->problem = where + " is not an object";
    }
    return reader->problem.empty() ? array[index] : NOTHING;
}

std::string text_of(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz" → "Intel Core i7-8700".
std::string short_processor(const std::string& processor) {
    std::string text = processor.substr(0, processor.find(" @"));
    for (const char* noise : {"(R)", "(r)", "(TM)", "(tm)", " CPU", " Processor"}) {
        for (size_t at = text.find(noise); at != std::string::npos; at = text.find(noise)) {
            text.erase(at, std::strlen(noise));
        }
    }
    std::istringstream words(text);
    std::string word;
    std::string name;
    while (words >> word && name.size() + word.size() < 24) {
        name += (name.empty() ? "" : " ") + word;
    }
    return name.empty() ? "unknown processor" : name;
}

void read_machine(Reader* reader, const Json& doc, ReportRecord* report) {
    const Json& machine = field(reader, doc, "", "machine", OBJECT, REQUIRED);
    std::string* texts[] = {&report->processor, &report->os, &report->kernel, &report->program,
                            &report->date};
    const char* keys[] = {"processor", "os", "kernel", "program", "date"};
    for (size_t k = 0; k < std::size(keys); ++k) {
        *texts[k] = text_of(field(reader, machine, "machine", keys[k], TEXT, REQUIRED));
    }
    const Json& governor = field(reader, machine, "machine", "governor", TEXT, NULLABLE);
    report->governor = governor.is_null() ? "" : text_of(governor);
    const Json& host = field(reader, machine, "machine", "host", TEXT, OPTIONAL);
    report->name = host.is_null() || text_of(host).empty() ? short_processor(report->processor)
                                                           : text_of(host);
}

struct PlanSetting {
    const char* key;
    Kind kind;
    Presence presence;
    const char* null_text; // what a null stands for, where it may be null
};
const PlanSetting PLAN_SETTINGS[] = {{"rate", INTEGER, REQUIRED, nullptr},
                                     {"confirm_seconds", NUMBER, REQUIRED, nullptr},
                                     {"idle_seconds", NUMBER, REQUIRED, nullptr},
                                     {"allowed_miss_fraction", NUMBER, REQUIRED, nullptr},
                                     {"clock", TEXT, REQUIRED, nullptr},
                                     {"hold_idle_states", BOOLEAN, OPTIONAL, nullptr},
                                     {"streams", INTEGER, OPTIONAL, "searched"}};

uint32_t test_index(const std::string& name) {
    uint32_t test = 0;
    while (test < RT_TESTS && name != RT_TEST_JSON_NAMES[test]) {
        ++test;
    }
    return test;
}

void read_runs(Reader* reader, const Json& doc, ReportRecord* report) {
    const Json& runs = field(reader, doc, "", "runs", ARRAY, REQUIRED);
    for (size_t i = 0; i < runs.size() && reader->problem.empty(); ++i) {
        std::string where = "runs[" + std::to_string(i) + "]";
        const Json& run = element(reader, runs, i, where);
        const Json& buffer = field(reader, run, where, "buffer", INTEGER, REQUIRED);
        const Json& cores = field(reader, run, where, "cores", INTEGER, REQUIRED);
        const Json& dropouts = field(reader, run, where, "dropouts", OBJECT, OPTIONAL);
        const Json& per_minute =
            field(reader, dropouts, where + ".dropouts", "per_minute", NUMBER, REQUIRED);
        const Json& tests = field(reader, run, where, "tests", OBJECT, REQUIRED);
        for (const auto& item : tests.items()) {
            std::string test_where = where + ".tests." + item.key();
            uint32_t test = test_index(item.key());
            if (test == RT_TESTS && reader->problem.empty()) {
                reader->problem = test_where + " is not a test this program knows";
            }
            const Json& entry =
                field(reader, tests, where + ".tests", item.key().c_str(), OBJECT, REQUIRED);
            const Json& state = field(reader, entry, test_where, "state", TEXT, REQUIRED);
            const Json& streams = field(reader, entry, test_where, "streams", INTEGER, NULLABLE);
            if (!reader->problem.empty()) {
                return;
            }
            // A capacity only when searched and confirmed: a fixed load's
            // count (--streams) says nothing of what fits.
            const bool capacity = !streams.is_null() && state.get<std::string>() == "done";
            RtCell cell{capacity, capacity ? streams.get<int64_t>() : 0, state.get<std::string>(),
                        !per_minute.is_null(),
                        per_minute.is_null() ? 0.0 : per_minute.get<double>()};
            // Two runs of one size and core count ("--cores 1,all" on one
            // core): the first counts.
            report->cells.emplace(RtCellKey{buffer.get<int64_t>(), test, cores.get<int64_t>()},
                                  cell);
        }
    }
}

void read_realtime(Reader* reader, const Json& doc, ReportRecord* report) {
    read_machine(reader, doc, report);
    const Json& plan = field(reader, doc, "", "plan", OBJECT, REQUIRED);
    for (const PlanSetting& setting : PLAN_SETTINGS) {
        const Json& value =
            field(reader, plan, "plan", setting.key, setting.kind, setting.presence);
        std::string name = std::string("plan.") + setting.key;
        if (!value.is_null()) {
            report->settings.push_back({name, text_of(value)});
        } else if (setting.null_text != nullptr && plan.contains(setting.key)) {
            report->settings.push_back({name, setting.null_text});
        }
    }
    const Json& setup = field(reader, doc, "", "setup", OBJECT, REQUIRED);
    for (const auto& item : setup.items()) {
        const Json& step = field(reader, setup, "setup", item.key().c_str(), OBJECT, REQUIRED);
        const Json& done = field(reader, step, "setup." + item.key(), "done", BOOLEAN, REQUIRED);
        report->settings.push_back({"setup." + item.key(), done == true ? "done" : "not done"});
    }
    const Json& readiness = field(reader, doc, "", "readiness", ARRAY, OPTIONAL);
    for (size_t i = 0; i < readiness.size(); ++i) {
        std::string where = "readiness[" + std::to_string(i) + "]";
        const Json& item = element(reader, readiness, i, where);
        ReadinessEntry entry{};
        entry.name = text_of(field(reader, item, where, "name", TEXT, REQUIRED));
        entry.state = text_of(field(reader, item, where, "state", TEXT, REQUIRED));
        entry.value = text_of(field(reader, item, where, "value", TEXT, REQUIRED));
        report->readiness.push_back(entry);
    }
    read_runs(reader, doc, report);
}

struct ThroughputName {
    uint32_t test;
    const char* figure;
    const char* label;
};
const ThroughputName THROUGHPUT_NAMES[] = {{0, "cycles_44100", "cycles/smp. at 44100 Hz"},
                                           {0, "cycles_48000", "cycles/smp. at 48000 Hz"},
                                           {1, "cycles_44100", "cycles/smp. at 44100 Hz"},
                                           {1, "cycles_48000", "cycles/smp. at 48000 Hz"},
                                           {2, "tracks_44100", "tracks at 44100 Hz"},
                                           {2, "tracks_48000", "tracks at 48000 Hz"},
                                           {2, "mfloats_per_s", "Mfloat/s"}};
constexpr size_t THROUGHPUT_FIGURES = std::size(THROUGHPUT_NAMES);

struct ThroughputSamples {
    bool present[THROUGHPUT_FIGURES];
    std::vector<int64_t> values[THROUGHPUT_FIGURES]; // the runs' non-null figures
};

void read_throughput_run(Reader* reader, const Json& doc, ThroughputSamples* samples) {
    for (size_t f = 0; f < THROUGHPUT_FIGURES; ++f) {
        const char* test_key = RT_TEST_JSON_NAMES[THROUGHPUT_NAMES[f].test];
        const Json& test = field(reader, doc, "", test_key, OBJECT, REQUIRED);
        const char* figure = THROUGHPUT_NAMES[f].figure;
        if (test.contains(figure)) {
            samples->present[f] = true;
            const Json& value = field(reader, test, test_key, figure, INTEGER, NULLABLE);
            if (!value.is_null()) {
                samples->values[f].push_back(value.get<int64_t>());
            }
        }
    }
}

int64_t median_of(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The schema version (absent: 1), then the kind of report.
void read_kind(Reader* reader, const Json& doc, ReportRecord* report) {
    const Json& version = field(reader, doc, "", "schema_version", INTEGER, OPTIONAL);
    report->schema_version = version.is_null() ? 1 : version.get<int64_t>();
    if (report->schema_version > NEWEST_SCHEMA_VERSION) {
        reader->problem = "written by a newer program (schema_version " +
                          std::to_string(report->schema_version) + "; this program reads up to " +
                          std::to_string(NEWEST_SCHEMA_VERSION) + ")";
    } else if (report->schema_version < 1) {
        reader->problem =
            "schema_version " + std::to_string(report->schema_version) + " is not a version";
    }
    const Json& mode = field(reader, doc, "", "mode", TEXT, OPTIONAL);
    if (!reader->problem.empty()) {
        return;
    }
    if (mode.is_null()) {
        report->realtime = false;
        if (!doc.contains("zem1") && !doc.contains("zem2") && !doc.contains("zemm")) {
            reader->problem = "not a report of test_zem_cli (no \"mode\", no test figures)";
        }
    } else if (mode == "realtime" || mode == "throughput") {
        report->realtime = mode == "realtime";
    } else {
        reader->problem = "a \"" + text_of(mode) + "\" report, not a throughput or real-time one";
    }
}

// nlohmann's message without its "[json.exception...] " prefix.
std::string parse_message(const Json::parse_error& error) {
    std::string text = error.what();
    size_t end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

// One JSON document (a real-time report, pretty-printed or not), or one
// object per line (the throughput run, a line per run of --repeat). Each
// document comes with its line number, 0 for a whole-file document.
bool parse_documents(const std::string& text, std::vector<std::pair<size_t, Json>>* documents,
                     std::string* problem) {
    if (blank(text)) {
        *problem = "is empty";
        return false;
    }
    std::string whole_problem;
    try {
        documents->emplace_back(0, Json::parse(text));
        return true;
    } catch (const Json::parse_error& error) {
        whole_problem = "not a complete JSON document (" + parse_message(error) + ")";
    }
    std::istringstream lines(text);
    std::string line;
    for (size_t number = 1; std::getline(lines, line); ++number) {
        if (blank(line)) {
            continue;
        }
        try {
            documents->emplace_back(number, Json::parse(line));
        } catch (const Json::parse_error& error) {
            // A document that does not even open on a line of its own is
            // one broken document, not broken lines.
            *problem = documents->empty()
                           ? whole_problem
                           : "line " + std::to_string(number) + " is not a complete JSON object (" +
                                 parse_message(error) + ")";
            return false;
        }
    }
    return true;
}

// Throughput: the median of each figure over the file's runs that stored
// it, as the runner's own summary over --repeat gives; null when none did.
void take_medians(const ThroughputSamples* samples, ReportRecord* report) {
    for (size_t f = 0; f < THROUGHPUT_FIGURES; ++f) {
        if (samples->present[f]) {
            bool known = !samples->values[f].empty();
            report->throughput.push_back({THROUGHPUT_NAMES[f].test, THROUGHPUT_NAMES[f].figure,
                                          known, known ? median_of(samples->values[f]) : 0});
        }
    }
}

// False with errno set when the file cannot be opened or read (a folder).
bool read_text(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, got);
    }
    bool read = std::ferror(file) == 0;
    int error = errno;
    std::fclose(file);
    errno = error;
    return read;
}
} // namespace

bool read_report(const std::string& path, ReportRecord* report, std::string* problem) {
    *report = ReportRecord{};
    report->path = path;
    std::string text;
    errno = 0;
    if (!read_text(path, &text)) {
        *problem = std::string("cannot be read (") +
                   (errno != 0 ? std::strerror(errno) : "read error") + ")";
        return false;
    }
    std::vector<std::pair<size_t, Json>> documents;
    if (!parse_documents(text, &documents, problem)) {
        return false;
    }
    ThroughputSamples samples{};
    for (const auto& [line, doc] : documents) {
        Reader reader;
        ReportRecord one{};
        if (!doc.is_object()) {
            reader.problem = "not a report of test_zem_cli (not a JSON object)";
        }
        read_kind(&reader, doc, &one);
        if (reader.problem.empty() && one.realtime && documents.size() > 1) {
            reader.problem = "a real-time report among throughput lines";
        }
        if (reader.problem.empty() && one.realtime) {
            read_realtime(&reader, doc, &one);
        } else if (reader.problem.empty()) {
            read_machine(&reader, doc, &one);
            read_throughput_run(&reader, doc, &samples);
        }
        if (!reader.problem.empty()) {
            *problem =
                line == 0 ? reader.problem : "line " + std::to_string(line) + ": " + reader.problem;
            return false;
        }
        if (report->runs == 0) { // the first run describes the file
            one.path = path;
            *report = one;
        }
        ++report->runs;
    }
    if (!report->realtime) {
        take_medians(&samples, report);
    }
    return true;
}

namespace {
void add_differences(const std::vector<ReportRecord>& reports, Comparison* comparison) {
    std::vector<CompareDifference> all;
    auto note = [&](size_t r, const std::string& name, const std::string& value) {
        auto found = std::find_if(all.begin(), all.end(),
                                  [&](const CompareDifference& d) { return d.name == name; });
        if (found == all.end()) {
            all.push_back({name, std::vector<bool>(reports.size()),
                           std::vector<std::string>(reports.size())});
            found = all.end() - 1;
        }
        found->present[r] = true;
        found->values[r] = value;
    };
    for (size_t r = 0; r < reports.size(); ++r) {
        const ReportRecord* report = &reports[r];
        note(r, "processor", report->processor);
        note(r, "os", report->os);
        note(r, "kernel", report->kernel);
        note(r, "governor", report->governor.empty() ? "not readable" : report->governor);
        note(r, "program", report->program);
        for (const ReportSetting& setting : report->settings) {
            note(r, setting.name, setting.text);
        }
        for (const ReadinessEntry& item : report->readiness) {
            note(r, "readiness." + item.name, item.state + ", " + item.value);
        }
    }
    // Compared among the reports that have it: one missing is no difference.
    for (const CompareDifference& difference : all) {
        std::set<std::string> values;
        for (size_t r = 0; r < reports.size(); ++r) {
            if (difference.present[r]) {
                values.insert(difference.values[r]);
            }
        }
        if (values.size() > 1) {
            comparison->differences.push_back(difference);
        }
    }
}

// Files the row as compared when every report of its mode has the figure,
// with the ratio of each to the first of them; else as "only in some".
void file_row(const std::vector<ReportRecord>& reports, CompareRow row, Comparison* comparison) {
    bool in_every = true;
    row.base = -1;
    for (size_t r = 0; r < reports.size(); ++r) {
        if (reports[r].realtime == row.realtime) {
            in_every = in_every && row.cells[r].present;
            row.base = row.base < 0 && row.cells[r].present ? static_cast<int>(r) : row.base;
        }
    }
    if (!in_every) {
        row.base = -1;
        comparison->only_in_some.push_back(row);
        return;
    }
    const CompareCell base = row.cells[static_cast<size_t>(row.base)];
    for (CompareCell& cell : row.cells) {
        cell.ratio_known = cell.known && base.known && base.value > 0;
        cell.ratio = cell.ratio_known
                         ? static_cast<double>(cell.value) / static_cast<double>(base.value)
                         : 0.0;
    }
    comparison->rows.push_back(row);
}
} // namespace

Comparison compare_reports(const std::vector<ReportRecord>& reports) {
    Comparison comparison;
    add_differences(reports, &comparison);
    for (const ThroughputName& name : THROUGHPUT_NAMES) {
        CompareRow row{false, name.test, name.figure, {}, "", -1, {}};
        row.label = std::string(RT_TEST_NAMES[name.test]) + " " + name.label;
        bool any = false;
        for (const ReportRecord& report : reports) {
            CompareCell cell{};
            for (const ThroughputFigure& figure : report.throughput) {
                if (figure.test == name.test && std::strcmp(figure.figure, name.figure) == 0) {
                    cell =
                        CompareCell{true, figure.known, figure.value, "", false, 0.0, false, 0.0};
                }
            }
            any = any || cell.present;
            row.cells.push_back(cell);
        }
        if (any) {
            file_row(reports, row, &comparison);
        }
    }
    std::set<RtCellKey> keys;
    for (const ReportRecord& report : reports) {
        for (const auto& [key, cell] : report.cells) {
            keys.insert(key);
        }
    }
    for (const RtCellKey& key : keys) {
        CompareRow row{true, key.test, nullptr, key, "", -1, {}};
        row.label = std::to_string(key.buffer) + " samples, " + RT_TEST_NAMES[key.test] + ", " +
                    std::to_string(key.cores) + (key.cores == 1 ? " core" : " cores");
        for (const ReportRecord& report : reports) {
            auto found = report.cells.find(key);
            CompareCell cell{};
            if (found != report.cells.end()) {
                const RtCell* rt = &found->second;
                cell = CompareCell{true,  rt->known, rt->streams,        rt->state,
                                   false, 0.0,       rt->dropouts_known, rt->dropouts_per_minute};
            }
            row.cells.push_back(cell);
        }
        file_row(reports, row, &comparison);
    }
    return comparison;
}

namespace {
std::string printed(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string dropouts_text(const CompareCell* cell) {
    return cell->dropouts_known ? printed("%.3g/min", cell->dropouts_per_minute) : "-";
}

// A figure, its ratio to the base column and, in real time, the dropouts;
// empty for a report of the other mode, "-" for one without the figure.
std::string cell_text(const ReportRecord* report, const CompareRow* row, size_t column) {
    const CompareCell* cell = &row->cells[column];
    if (report->realtime != row->realtime) {
        return "";
    }
    if (!cell->present) {
        return "-";
    }
    std::string text = !cell->known ? (row->realtime ? cell->state : "no figure")
                       : cell->ratio_known && static_cast<int>(column) != row->base
                           ? std::to_string(cell->value) + " " + printed("%.2fx", cell->ratio)
                           : std::to_string(cell->value);
    return row->realtime ? text + "  " + dropouts_text(cell) : text;
}

constexpr size_t MAX_CELL_WIDTH = 26;

struct TextTable {
    std::vector<std::vector<std::string>> lines; // label, then a cell per report; {} : a heading
    std::vector<std::string> headings;
};

// The rows of one mode (`modes` 1: throughput, 2: real time, 3: both)
// under their heading, when there are any.
void add_rows(TextTable* table, const std::vector<ReportRecord>& reports,
              const std::vector<CompareRow>& rows, int modes, const std::string& heading) {
    bool headed = false;
    for (const CompareRow& row : rows) {
        if ((modes & (row.realtime ? 2 : 1)) == 0) {
            continue;
        }
        if (!headed) {
            table->headings.push_back(heading);
            table->lines.push_back({});
            headed = true;
        }
        std::vector<std::string> line{"  " + row.label};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(cell_text(&reports[r], &row, r));
        }
        table->lines.push_back(line);
    }
}

// A long value (a processor's name) over several lines of its column,
// broken at spaces where it can be.
std::vector<std::string> wrapped(const std::string& text, size_t width) {
    std::vector<std::string> pieces;
    size_t at = 0;
    while (text.size() - at > width) {
        size_t space = text.rfind(' ', at + width);
        size_t end = space != std::string::npos && space > at ? space : at + width;
        pieces.push_back(text.substr(at, end - at));
        at = text[end] == ' ' ? end + 1 : end;
    }
    pieces.push_back(text.substr(at));
    return pieces;
}

std::string base_name(const std::vector<CompareRow>& rows, bool realtime) {
    for (const CompareRow& row : rows) {
        if (row.realtime == realtime) {
            return "[" + std::to_string(row.base + 1) + "]";
        }
    }
    return "";
}
} // namespace

void print_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                           const Comparison* comparison) {
    std::fprintf(out, "Comparing %zu reports\n", reports.size());
    TextTable table;
    std::vector<std::string> names{""};
    std::vector<std::string> dates{""};
    for (size_t r = 0; r < reports.size(); ++r) {
        const ReportRecord* report = &reports[r];
        std::fprintf(out, "  [%zu] %s: %s, schema %lld, %s%s\n", r + 1, report->name.c_str(),
                     report->realtime ? "real-time" : "throughput",
                     static_cast<long long>(report->schema_version), report->path.c_str(),
                     report->realtime || report->runs == 1
                         ? ""
                         : (", median of " + std::to_string(report->runs) + " runs").c_str());
        names.push_back("[" + std::to_string(r + 1) + "] " + report->name);
        dates.push_back(report->date);
    }
    table.lines = {names, dates};
    table.headings.push_back(comparison->differences.empty()
                                 ? "Differences: none"
                                 : "Differences (only what differs; - : not in that report)");
    table.lines.push_back({});
    for (const CompareDifference& difference : comparison->differences) {
        std::vector<std::string> line{"  " + difference.name};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(difference.present[r] ? difference.values[r] : "-");
        }
        table.lines.push_back(line);
    }
    add_rows(&table, reports, comparison->rows, 1,
             "Throughput (median over each file's runs; higher is better; ratio to " +
                 base_name(comparison->rows, false) + ")");
    add_rows(&table, reports, comparison->rows, 2,
             "Real-time capacity: streams held, ratio to " + base_name(comparison->rows, true) +
                 ", dropouts per minute (- : not in a version-1 report)");
    add_rows(&table, reports, comparison->only_in_some, 3,
             "Only in some reports (not compared; - : not in that report)");
    std::vector<size_t> widths(reports.size() + 1, 0);
    for (const auto& line : table.lines) {
        for (size_t c = 0; c < line.size(); ++c) {
            widths[c] = std::max(widths[c], c == 0 ? line[c].size()
                                                   : std::min(line[c].size(), MAX_CELL_WIDTH));
        }
    }
    size_t heading = 0;
    for (const auto& line : table.lines) {
        if (line.empty()) {
            std::fprintf(out, "\n%s\n", table.headings[heading++].c_str());
            continue;
        }
        std::vector<std::vector<std::string>> cells;
        size_t height = 1;
        for (size_t c = 0; c < line.size(); ++c) {
            cells.push_back(wrapped(line[c], c == 0 ? line[c].size() : MAX_CELL_WIDTH));
            height = std::max(height, cells.back().size());
        }
        for (size_t l = 0; l < height; ++l) {
            std::string row;
            for (size_t c = 0; c < cells.size(); ++c) {
                std::string piece = l < cells[c].size() ? cells[c][l] : "";
                row += piece + std::string(widths[c] - piece.size() + 3, ' ');
            }
            row.erase(row.find_last_not_of(' ') + 1);
            std::fprintf(out, "%s\n", row.c_str());
        }
    }
}

namespace {
Json row_json(const std::vector<ReportRecord>& reports, const CompareRow* row) {
    Json object = Json::object();
    object["kind"] = row->realtime ? "realtime" : "throughput";
    if (row->realtime) {
        object["buffer"] = row->key.buffer;
        object["test"] = RT_TEST_JSON_NAMES[row->test];
        object["cores"] = row->key.cores;
    } else {
        object["test"] = RT_TEST_JSON_NAMES[row->test];
        object["figure"] = row->figure;
    }
    object["label"] = row->label;
    object["base"] = row->base >= 0 ? Json(row->base) : Json(nullptr);
    Json values = Json::array();
    for (size_t r = 0; r < reports.size(); ++r) {
        const CompareCell* cell = &row->cells[r];
        if (!cell->present) {
            values.push_back(nullptr);
            continue;
        }
        Json value{{"value", cell->known ? Json(cell->value) : Json(nullptr)}};
        if (row->realtime) {
            value["state"] = cell->state;
        }
        value["ratio"] = cell->ratio_known ? Json(cell->ratio) : Json(nullptr);
        if (row->realtime) {
            value["dropouts_per_minute"] =
                cell->dropouts_known ? Json(cell->dropouts_per_minute) : Json(nullptr);
        }
        values.push_back(value);
    }
    object["values"] = values;
    return object;
}
} // namespace

Json comparison_json(const std::vector<ReportRecord>& reports, const Comparison* comparison) {
    Json list = Json::array();
    for (const ReportRecord& report : reports) {
        list.push_back(
            {{"file", report.path},
             {"name", report.name},
             {"date", report.date},
             {"mode", report.realtime ? "realtime" : "throughput"},
             {"schema_version", report.schema_version},
             {"runs", report.runs},
             {"processor", report.processor},
             {"os", report.os},
             {"kernel", report.kernel},
             {"governor", report.governor.empty() ? Json(nullptr) : Json(report.governor)},
             {"program", report.program}});
    }
    Json differences = Json::array();
    for (const CompareDifference& difference : comparison->differences) {
        Json values = Json::array();
        for (size_t r = 0; r < reports.size(); ++r) {
            values.push_back(difference.present[r] ? Json(difference.values[r]) : Json(nullptr));
        }
        differences.push_back({{"name", difference.name}, {"values", values}});
    }
    Json rows = Json::array();
    for (const CompareRow& row : comparison->rows) {
        rows.push_back(row_json(reports, &row));
    }
    Json only = Json::array();
    for (const CompareRow& row : comparison->only_in_some) {
        only.push_back(row_json(reports, &row));
    }
    return Json{{"schema_version", NEWEST_SCHEMA_VERSION},
                {"mode", "compare"},
                {"reports", list},
                {"differences", differences},
                {"rows", rows},
                {"only_in_some", only}};
}

namespace {
constexpr int SVG_WIDTH = 960;
constexpr int SVG_LEFT = 20;
constexpr int SLOT = 44; // one bar and its gap
constexpr int BAR = 32;
constexpr int GROUP_MIN = 130;
constexpr int PLOT_HEIGHT = 120;
constexpr int GROUP_HEIGHT = PLOT_HEIGHT + 110; // figures above, labels below
constexpr size_t FILLS = 8;

// Black on a light tint: plain, hatch, cross-hatch, dots, lines across,
// lines down, grey, thick hatch. Reports after the eighth reuse them and are
// told apart by their numbers.
const char* const FILL_SHAPES[FILLS] = {
    "",
    "<path d=\"M-1,1 l2,-2 M0,8 l8,-8 M7,9 l2,-2\" stroke=\"#000\"/>",
    "<path d=\"M0,0 l8,8 M8,0 l-8,8\" stroke=\"#000\"/>",
    "<circle cx=\"4\" cy=\"4\" r=\"1.5\" fill=\"#000\"/>",
    "<path d=\"M0,4 h8\" stroke=\"#000\"/>",
    "<path d=\"M4,0 v8\" stroke=\"#000\"/>",
    "<rect width=\"8\" height=\"8\" fill=\"#888\"/>",
    "<path d=\"M0,8 l8,-8\" stroke=\"#000\" stroke-width=\"3\"/>"};
const char* const FILL_TINTS[FILLS] = {"#ffffff", "#dce8f5", "#f5e3d0", "#e0f0dc",
                                       "#efe0f2", "#f7f3cf", "#ffffff", "#dfe9ea"};

// One group: a bar per report of the row's mode on the group's own scale,
// its figure above, its number below and, in real time, a diamond with the
// dropouts per minute.
void add_group(std::string* svg, int x, int y, const std::vector<ReportRecord>& reports,
               const CompareRow* row) {
    int64_t top = 1;
    for (const CompareCell& cell : row->cells) {
        top = cell.known ? std::max(top, cell.value) : top;
    }
    svg_add(svg, "<g class=\"group\" transform=\"translate(%d,%d)\">\n", x, y);
    int bar = 0;
    for (size_t r = 0; r < reports.size(); ++r) {
        const CompareCell* cell = &row->cells[r];
        if (reports[r].realtime != row->realtime) {
            continue;
        }
        const int bx = bar++ * SLOT;
        const double height =
            cell->known ? PLOT_HEIGHT * static_cast<double>(cell->value) / static_cast<double>(top)
                        : 0.0;
        const std::string figure = !cell->present  ? "-"
                                   : cell->known   ? std::to_string(cell->value)
                                   : row->realtime ? cell->state
                                                   : "no figure";
        svg_add(svg,
                "<rect class=\"bar\" x=\"%d\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" "
                "fill=\"url(#fill%zu)\"><title>[%zu] %s</title></rect>\n",
                bx, PLOT_HEIGHT - height, BAR, height, r % FILLS, r + 1,
                svg_escaped(figure).c_str());
        if (cell->known) {
            svg_add(svg, "<text class=\"figure\" x=\"%d\" y=\"%.1f\">%s</text>\n", bx + BAR / 2,
                    PLOT_HEIGHT - height - 4, figure.c_str());
        } else {
            svg_add(svg,
                    "<text class=\"state\" transform=\"rotate(-90 %d %d)\" x=\"%d\" y=\"%d\">%s"
                    "</text>\n",
                    bx + BAR / 2 + 3, PLOT_HEIGHT - 4, bx + BAR / 2 + 3, PLOT_HEIGHT - 4,
                    svg_escaped(figure).c_str());
        }
        svg_add(svg, "<text class=\"number\" x=\"%d\" y=\"%d\">[%zu]</text>\n", bx + BAR / 2,
                PLOT_HEIGHT + 14, r + 1);
        if (row->realtime && cell->present) {
            svg_add(svg,
                    "<path class=\"dropout\" d=\"M%d,%d l4,4 l-4,4 l-4,-4 z\"/>"
                    "<text class=\"dropouts\" x=\"%d\" y=\"%d\">%s</text>\n",
                    bx + 4, PLOT_HEIGHT + 20, bx + 10, PLOT_HEIGHT + 28,
                    cell->dropouts_known ? printed("%.3g", cell->dropouts_per_minute).c_str()
                                         : "-");
        }
    }
    svg_add(svg, "<line class=\"axis\" x1=\"-4\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", PLOT_HEIGHT,
            bar * SLOT - SLOT + BAR + 4, PLOT_HEIGHT);
    // "1024 samples" over "ZEM-2, 1 core"; "ZEM-1 cycles/smp." over "at 44100 Hz".
    size_t split = row->realtime ? row->label.find(", ") : row->label.find(" at ");
    std::string first = row->label.substr(0, split);
    std::string second = split == std::string::npos ? "" : row->label.substr(split + 1);
    second.erase(0, second.find_first_not_of(' '));
    svg_add(svg,
            "<text class=\"group-label\" x=\"0\" y=\"%d\">%s</text>\n"
            "<text class=\"group-label\" x=\"0\" y=\"%d\">%s</text>\n</g>\n",
            PLOT_HEIGHT + 48, svg_escaped(first).c_str(), PLOT_HEIGHT + 62,
            svg_escaped(second).c_str());
}

// The groups of one mode left to right, wrapping; returns the y below them.
int add_chart(std::string* svg, int y, const char* title, const std::vector<ReportRecord>& reports,
              const std::vector<CompareRow>& rows, bool realtime) {
    int bars = 0;
    for (const ReportRecord& report : reports) {
        bars += report.realtime == realtime ? 1 : 0;
    }
    const int group_width = std::max(GROUP_MIN, bars * SLOT + 24);
    int x = SVG_LEFT;
    bool titled = false;
    for (const CompareRow& row : rows) {
        if (row.realtime != realtime) {
            continue;
        }
        if (!titled) {
            svg_add(svg, "<text class=\"heading\" x=\"%d\" y=\"%d\">%s</text>\n", SVG_LEFT, y + 16,
                    title);
            y += 50;
            titled = true;
        }
        if (x + group_width > SVG_WIDTH) {
            x = SVG_LEFT;
            y += GROUP_HEIGHT;
        }
        add_group(svg, x, y, reports, &row);
        x += group_width;
    }
    return titled ? y + GROUP_HEIGHT : y;
}
} // namespace

std::string compare_svg(const std::vector<ReportRecord>& reports, const Comparison* comparison) {
    std::string body;
    svg_add(&body, "<text class=\"heading\" x=\"%d\" y=\"24\">Comparison of %zu reports</text>\n",
            SVG_LEFT, reports.size());
    int y = 44;
    for (size_t r = 0; r < reports.size(); ++r, y += 20) {
        const ReportRecord* report = &reports[r];
        svg_add(&body,
                "<g class=\"legend\"><rect class=\"swatch\" x=\"%d\" y=\"%d\" width=\"24\" "
                "height=\"14\" "
                "fill=\"url(#fill%zu)\"/><text x=\"%d\" y=\"%d\">[%zu] %s, %s: %s</text></g>\n",
                SVG_LEFT, y, r % FILLS, SVG_LEFT + 32, y + 11, r + 1,
                svg_escaped(report->name).c_str(), svg_escaped(report->date).c_str(),
                report->realtime ? "real-time" : "throughput");
    }
    svg_add(&body,
            "<text x=\"%d\" y=\"%d\">Each group has its own scale; the figure is above its bar. "
            "Figures only some reports have are in the text comparison.</text>\n",
            SVG_LEFT, y + 12);
    y = add_chart(&body, y + 20,
                  "Real-time capacity: streams held; \xE2\x97\x86 dropouts per minute "
                  "(- : not in a version-1 report)",
                  reports, comparison->rows, true);
    y = add_chart(&body, y, "Throughput (median over each file's runs)", reports, comparison->rows,
                  false);
    std::string svg;
    svg_add(&svg,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
            "%d\" font-family=\"sans-serif\" font-size=\"11\">\n",
            SVG_WIDTH, y, SVG_WIDTH, y);
    svg += "<style>.bar,.swatch{stroke:#000}.axis{stroke:#000}.dropout{fill:#000}"
           ".figure,.number{text-anchor:middle;font-size:10px}.state{font-size:9px}"
           ".dropouts{font-size:9px}.heading{font-size:13px;font-weight:bold}</style>\n<defs>\n";
    for (size_t f = 0; f < std::min(FILLS, reports.size()); ++f) {
        svg_add(&svg,
                "<pattern id=\"fill%zu\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">"
                "<rect width=\"8\" height=\"8\" fill=\"%s\"/>%s</pattern>\n",
                f, FILL_TINTS[f], FILL_SHAPES[f]);
    }
    svg += "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += body;
    svg += "</svg>\n";
    return svg;
}
