// Saved reports read back into plain records, every schema and mode.
#include "report/report_reader.h"

#include "report/median.h"
#include "report/report_json.h"
#include "report/session_figures.h"

#include "engine/test_names.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>

const ThroughputName THROUGHPUT_NAMES[THROUGHPUT_FIGURES] = {
    {0, "cycles_44100", "cycles/smp. at 44100 Hz"},
    {0, "cycles_48000", "cycles/smp. at 48000 Hz"},
    {1, "cycles_44100", "cycles/smp. at 44100 Hz"},
    {1, "cycles_48000", "cycles/smp. at 48000 Hz"},
    {2, "tracks_44100", "tracks at 44100 Hz"},
    {2, "tracks_48000", "tracks at 48000 Hz"},
    {2, "mfloats_per_s", "Mfloat/s"}};

namespace {
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

void read_machine(FieldReader* reader, const ReportJson& doc, ReportRecord* report) {
    const ReportJson& machine = field(reader, doc, "", "machine", FIELD_OBJECT, FIELD_REQUIRED);
    std::string* texts[] = {&report->processor, &report->os, &report->kernel, &report->program,
                            &report->date};
    const char* keys[] = {"processor", "os", "kernel", "program", "date"};
    for (size_t k = 0; k < std::size(keys); ++k) {
        *texts[k] = text_of(field(reader, machine, "machine", keys[k], FIELD_TEXT, FIELD_REQUIRED));
    }
    report->governor =
        text_of(field(reader, machine, "machine", "governor", FIELD_TEXT, FIELD_NULLABLE));
    const std::string host =
        text_of(field(reader, machine, "machine", "host", FIELD_TEXT, FIELD_OPTIONAL));
    report->name = host.empty() ? short_processor(report->processor) : host;
}

struct PlanSetting {
    const char* key;
    FieldKind kind;
    FieldPresence presence;
    const char* null_text; // what a null stands for, where it may be null
};
const PlanSetting PLAN_SETTINGS[] = {
    {"rate", FIELD_COUNT, FIELD_REQUIRED, nullptr},
    {"confirm_seconds", FIELD_NUMBER, FIELD_REQUIRED, nullptr},
    {"idle_seconds", FIELD_NUMBER, FIELD_REQUIRED, nullptr},
    {"allowed_miss_fraction", FIELD_NUMBER, FIELD_REQUIRED, nullptr},
    {"clock", FIELD_TEXT, FIELD_REQUIRED, nullptr},
    {"hold_idle_states", FIELD_BOOLEAN, FIELD_OPTIONAL, nullptr},
    {"memory_limit_bytes", FIELD_COUNT, FIELD_OPTIONAL, "none"},
    {"streams", FIELD_COUNT, FIELD_OPTIONAL, "searched"}};

// A load's name by its key: the plan's loads (schema 3), or one of the
// three tests; "" when neither knows it.
std::string load_name(const std::map<std::string, std::string>& loads, const std::string& key) {
    auto found = loads.find(key);
    if (found != loads.end()) {
        return found->second;
    }
    for (uint32_t test = 0; test < ZEM_TESTS; ++test) {
        if (key == TEST_JSON_NAMES[test]) {
            return TEST_NAMES[test];
        }
    }
    return "";
}

// The plan's loads, key to name (schema 3; older reports have only tests).
void read_loads(FieldReader* reader, const ReportJson& plan,
                std::map<std::string, std::string>* loads) {
    const ReportJson& list = field(reader, plan, "plan", "loads", FIELD_ARRAY, FIELD_OPTIONAL);
    for (size_t i = 0; i < list.size() && reader->problem.empty(); ++i) {
        const ReportJson& load = element(reader, list, i, "plan.loads", FIELD_OBJECT);
        const std::string where = "plan.loads[" + std::to_string(i) + "]";
        const ReportJson& key = field(reader, load, where, "key", FIELD_TEXT, FIELD_REQUIRED);
        const ReportJson& name = field(reader, load, where, "name", FIELD_TEXT, FIELD_REQUIRED);
        if (reader->problem.empty()) {
            (*loads)[text_of(key)] = text_of(name);
        }
    }
}

void read_tests(FieldReader* reader, const ReportJson& run, const std::string& where,
                const std::map<std::string, std::string>& loads, ReportRecord* report) {
    const int64_t buffer =
        count_of(field(reader, run, where, "buffer", FIELD_COUNT, FIELD_REQUIRED));
    const int64_t cores = count_of(field(reader, run, where, "cores", FIELD_COUNT, FIELD_REQUIRED));
    const ReportJson& dropouts =
        field(reader, run, where, "dropouts", FIELD_OBJECT, FIELD_OPTIONAL);
    const ReportJson& per_minute =
        field(reader, dropouts, where + ".dropouts", "per_minute", FIELD_NUMBER, FIELD_REQUIRED);
    const ReportJson& tests = field(reader, run, where, "tests", FIELD_OBJECT, FIELD_REQUIRED);
    for (const auto& item : tests.items()) {
        const std::string name = load_name(loads, item.key());
        if (name.empty() && reader->problem.empty()) {
            reader->problem =
                where + ".tests." + item.key() + " is neither a test nor a load of the plan";
        }
        const std::string test_where = where + ".tests." + item.key();
        const ReportJson& entry =
            field(reader, tests, where + ".tests", item.key(), FIELD_OBJECT, FIELD_REQUIRED);
        const ReportJson& state =
            field(reader, entry, test_where, "state", FIELD_TEXT, FIELD_REQUIRED);
        const ReportJson& streams =
            field(reader, entry, test_where, "streams", FIELD_COUNT, FIELD_NULLABLE);
        if (!reader->problem.empty()) {
            return;
        }
        // A capacity only when searched and confirmed: a fixed load's count
        // (--streams) says nothing of what fits.
        const bool capacity = !streams.is_null() && text_of(state) == "done";
        RtCell cell{capacity, capacity ? count_of(streams) : 0, text_of(state),
                    !per_minute.is_null(), number_of(per_minute)};
        // Two runs of one size and core count ("--cores 1,all" on one core):
        // the first counts.
        report->cells.emplace(RtCellKey{buffer, name, cores}, cell);
    }
}

void read_realtime(FieldReader* reader, const ReportJson& doc, ReportRecord* report) {
    read_machine(reader, doc, report);
    const ReportJson& plan = field(reader, doc, "", "plan", FIELD_OBJECT, FIELD_REQUIRED);
    std::map<std::string, std::string> loads;
    read_loads(reader, plan, &loads);
    for (const PlanSetting& setting : PLAN_SETTINGS) {
        const ReportJson& value =
            field(reader, plan, "plan", setting.key, setting.kind, setting.presence);
        std::string name = std::string("plan.") + setting.key;
        if (!value.is_null()) {
            report->settings.push_back({name, text_of(value)});
        } else if (setting.null_text != nullptr && plan.contains(setting.key)) {
            report->settings.push_back({name, setting.null_text});
        }
    }
    const ReportJson& setup = field(reader, doc, "", "setup", FIELD_OBJECT, FIELD_REQUIRED);
    for (const auto& item : setup.items()) {
        const ReportJson& step =
            field(reader, setup, "setup", item.key(), FIELD_OBJECT, FIELD_REQUIRED);
        const ReportJson& done =
            field(reader, step, "setup." + item.key(), "done", FIELD_BOOLEAN, FIELD_REQUIRED);
        report->settings.push_back({"setup." + item.key(), done == true ? "done" : "not done"});
    }
    const ReportJson& readiness = field(reader, doc, "", "readiness", FIELD_ARRAY, FIELD_OPTIONAL);
    for (size_t i = 0; i < readiness.size() && reader->problem.empty(); ++i) {
        const ReportJson& item = element(reader, readiness, i, "readiness", FIELD_OBJECT);
        const std::string where = "readiness[" + std::to_string(i) + "]";
        ReadinessEntry entry{};
        entry.name = text_of(field(reader, item, where, "name", FIELD_TEXT, FIELD_REQUIRED));
        entry.state = text_of(field(reader, item, where, "state", FIELD_TEXT, FIELD_REQUIRED));
        entry.value = text_of(field(reader, item, where, "value", FIELD_TEXT, FIELD_REQUIRED));
        report->readiness.push_back(entry);
    }
    const ReportJson& runs = field(reader, doc, "", "runs", FIELD_ARRAY, FIELD_REQUIRED);
    for (size_t i = 0; i < runs.size() && reader->problem.empty(); ++i) {
        const ReportJson& run = element(reader, runs, i, "runs", FIELD_OBJECT);
        read_tests(reader, run, "runs[" + std::to_string(i) + "]", loads, report);
    }
}

struct ThroughputSamples {
    bool present[THROUGHPUT_FIGURES];
    std::vector<int64_t> values[THROUGHPUT_FIGURES]; // the runs' non-null figures
};

void read_throughput_run(FieldReader* reader, const ReportJson& doc, ThroughputSamples* samples) {
    for (size_t f = 0; f < THROUGHPUT_FIGURES; ++f) {
        const char* test_key = TEST_JSON_NAMES[THROUGHPUT_NAMES[f].test];
        const ReportJson& test = field(reader, doc, "", test_key, FIELD_OBJECT, FIELD_REQUIRED);
        const char* figure = THROUGHPUT_NAMES[f].figure;
        if (test.contains(figure)) {
            samples->present[f] = true;
            const ReportJson& value =
                field(reader, test, test_key, figure, FIELD_COUNT, FIELD_NULLABLE);
            if (!value.is_null()) {
                samples->values[f].push_back(count_of(value));
            }
        }
    }
}

// The schema version (absent: 1), then the kind of report.
void read_kind(FieldReader* reader, const ReportJson& doc, ReportRecord* report) {
    const ReportJson& version =
        field(reader, doc, "", "schema_version", FIELD_COUNT, FIELD_OPTIONAL);
    report->schema_version = version.is_null() ? 1 : count_of(version);
    if (report->schema_version > NEWEST_SCHEMA_VERSION) {
        reader->problem = "written by a newer program (schema_version " +
                          std::to_string(report->schema_version) + "; this program reads up to " +
                          std::to_string(NEWEST_SCHEMA_VERSION) + ")";
    } else if (report->schema_version < 1 && reader->problem.empty()) {
        reader->problem =
            "schema_version " + std::to_string(report->schema_version) + " is not a version";
    }
    const ReportJson& mode = field(reader, doc, "", "mode", FIELD_TEXT, FIELD_OPTIONAL);
    if (!reader->problem.empty()) {
        return;
    }
    if (mode.is_null() && doc.contains("session") && doc.contains("sizes")) {
        report->session = true; // written before session reports said their mode
    } else if (mode.is_null()) {
        report->realtime = false;
        if (std::none_of(std::begin(TEST_JSON_NAMES), std::end(TEST_JSON_NAMES),
                         [&doc](const char* name) { return doc.contains(name); })) {
            reader->problem = "not a report of test_zem_cli (no \"mode\", no test figures)";
        }
    } else if (mode == "realtime" || mode == "throughput" || mode == "session") {
        report->realtime = mode == "realtime";
        report->session = mode == "session";
    } else {
        reader->problem =
            "a \"" + text_of(mode) + "\" report, not a throughput, real-time or session one";
    }
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

bool read_documents(const std::vector<std::pair<size_t, ReportJson>>& documents,
                    const std::string& path, ReportRecord* report, std::string* problem) {
    ThroughputSamples samples{};
    for (const auto& [line, doc] : documents) {
        FieldReader reader;
        ReportRecord one{};
        if (!doc.is_object()) {
            reader.problem = "not a report of test_zem_cli (not a JSON object)";
        }
        read_kind(&reader, doc, &one);
        if (reader.problem.empty() && (one.realtime || one.session) && documents.size() > 1) {
            reader.problem = one.realtime ? "a real-time report among throughput lines"
                                          : "a session report among throughput lines";
        }
        if (reader.problem.empty() && one.realtime) {
            read_realtime(&reader, doc, &one);
        } else if (reader.problem.empty() && one.session) {
            read_machine(&reader, doc, &one);
            read_session_figures(&reader, doc, &one);
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
    if (!report->realtime && !report->session) {
        take_medians(&samples, report);
    }
    return true;
}
} // namespace

bool read_report_text(const std::string& text, const std::string& path, ReportRecord* report,
                      std::string* problem) {
    *report = ReportRecord{};
    report->path = path;
    std::vector<std::pair<size_t, ReportJson>> documents;
    const bool read = parse_report_documents(text, &documents, problem) &&
                      read_documents(documents, path, report, problem);
    *problem = read ? "" : one_line(*problem);
    return read;
}

bool read_report(const std::string& path, ReportRecord* report, std::string* problem) {
    *report = ReportRecord{};
    report->path = path;
    std::string text;
    if (!read_report_file(path, &text, problem)) {
        *problem = one_line(*problem);
        return false;
    }
    return read_report_text(text, path, report, problem);
}
