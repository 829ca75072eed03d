// norvalume-watch: beside the running program or alone, reads the simulator with the
// program's own link and evaluates the settings file with its own scan, changing nothing
// in the file. Shows a live table of every output, the derivation of one (--why), and
// records what the file reads as a norvalume-sim script (--record).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/items.h"
#include "eval/eval.h"
#include "tools/common/common.h"
#include "tools/common/files.h"
#include "tools/watch/recording.h"
#include "tools/watch/watch.h"

namespace {

enum ExitStatus : int {
    EXIT_DONE = 0,
    EXIT_NO_SIMULATOR = 1,
    EXIT_CANNOT_RUN = 2,
    EXIT_WRITE_FAILED = 3,
};

// Timing, in milliseconds: the program's own default ScanInterval, how often a link that
// is down is tried again, how long --once waits for the simulator, a step of the pause.
constexpr uint32_t DEFAULT_INTERVAL_MS = 220, LINK_RETRY_MS = 1000, ONCE_WAIT_MS = 5000,
                   PAUSE_STEP_MS = 20;
// --once shows the second scan that read the simulator: a flash is seen running only
// from its second evaluation on.
constexpr int ONCE_SCANS = 2;
// Beyond these, milliseconds would no longer fit the tick counter's range.
constexpr uint32_t MOST_SECONDS = 1000000, MOST_INTERVAL_MS = 3600000;

constexpr char USAGE[] =
    "usage: norvalume-watch [--units LIST] [--filter TEXT | --why SECTION KEY] [--once]\n"
    "                       [--record FILE [--quiet]] [--seconds N] [--interval MS] SETTINGS\n"
    "  --units     the panel units connected, as norvalume-check takes them (default: as\n"
    "              many units of each model as SETTINGS has sections for)\n"
    "  --filter    only the outputs whose section, key or line holds TEXT (any case)\n"
    "  --why       the whole derivation of one output, e.g. --why GFP8.0 L0\n"
    "  --once      print one frame after the first scans and exit\n"
    "  --record    write every value SETTINGS reads as a norvalume-sim script to FILE;\n"
    "              replay it with norvalume-sim --script FILE [--loop] [--speed FACTOR]\n"
    "  --quiet     no frames while recording\n"
    "  --seconds   stop after N seconds\n"
    "  --interval  milliseconds between scans (default 220)\n"
    "  --help, --version\n"
    "SETTINGS is only read, never written; a relative SETTINGS or FILE is taken from\n"
    "the current folder. Ctrl-C stops.\n"
    "exit status: 0 done, 1 no simulator answered (--once), 2 could not run, 3 a write\n"
    "  failed (the recording, or the frames on standard output): the message says which\n"
    "  and where; a recording keeps the whole lines written before it\n";

struct Options {
    const char* units = nullptr;
    std::string filter;
    bool why = false;
    std::string whySection, whyKey;
    bool once = false;
    const char* record = nullptr;
    bool quiet = false;
    uint32_t seconds = 0;
    uint32_t interval = DEFAULT_INTERVAL_MS;
};

int usage() {
    std::fputs(USAGE, stderr);
    return EXIT_CANNOT_RUN;
}

// A decimal number of 0..`most`, all of `text`.
bool wholeNumber(const char* text, uint32_t most, uint32_t* out) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (!(*text >= '0' && *text <= '9') || *end || value > most) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

// One option at argv[i] and its values; false for anything it does not know or a bad value.
bool takeOption(int argc, char** argv, int& i, Options& o) {
    const std::string arg = argv[i];
    const int values = argc - 1 - i;
    if (arg == "--once") {
        o.once = true;
    } else if (arg == "--quiet") {
        o.quiet = true;
    } else if (arg.compare(0, 8, "--units=") == 0) {
        o.units = argv[i] + 8;
    } else if (arg == "--why" && values >= 2) {
        o.why = true;
        o.whySection = argv[++i];
        o.whyKey = argv[++i];
    } else if (values < 1) {
        return false;
    } else if (arg == "--units") {
        o.units = argv[++i];
    } else if (arg == "--filter") {
        o.filter = argv[++i];
    } else if (arg == "--record") {
        o.record = argv[++i];
    } else if (arg == "--seconds") {
        return wholeNumber(argv[++i], MOST_SECONDS, &o.seconds);
    } else if (arg == "--interval") {
        return wholeNumber(argv[++i], MOST_INTERVAL_MS, &o.interval) && o.interval > 0;
    } else {
        return false;
    }
    return true;
}

// How the recording writes the values each place holds: as the line reading it says,
// the two power bytes as bytes, a pointer and the radios' extra digits as hexadecimal.
std::map<watch::Place, watch::ValueForm> recordedForms() {
    std::map<watch::Place, watch::ValueForm> forms;
    forms[{STATUS_POWER_OFFSET, 2}] = watch::ValueForm::HEX;
    forms[{RADIO_NAV_EXTRA_OFFSET, 2}] = watch::ValueForm::PACKED;
    forms[{RADIO_COM_EXTRA_OFFSET, 2}] = watch::ValueForm::PACKED;
    for (int32_t i = 0; i < itemCount(); ++i) {
        const ItemRecord& item = itemTable()[i];
        if (item.flags & FLAG_TYPE_FROM_SIM) forms[{item.typeOffset, 1}] = watch::ValueForm::U8;
        if (!(item.flags & FLAG_HAS_OFFSET)) continue;
        if (item.flags & FLAG_INDIRECT_OFFSET) {
            forms[{item.offset, 2}] = watch::ValueForm::PACKED;
        } else if (!(item.flags & FLAG_TYPE_FROM_SIM) && item.valueType < VALUE_TYPE_COUNT) {
            const uint32_t size = valueTypeBytes[item.valueType];
            forms.emplace(watch::Place(item.offset, size), watch::formFor(size, item.valueType));
        }
    }
    return forms;
}

void recordScan(watch::Recording& recording, uint32_t now) {
    static uint32_t formsOfLoad = 0;
    static std::map<watch::Place, watch::ValueForm> forms;
    if (formsOfLoad != watch::session.loads) {
        forms = recordedForms();
        formsOfLoad = watch::session.loads;
    }
    std::vector<watch::RecordedRead> reads;
    for (const watch::Read& read : watch::session.reads) {
        const uint32_t size = static_cast<uint32_t>(read.bytes.size());
        auto found = forms.find({read.offset, size});
        reads.push_back({read.offset, &read.bytes,
                         found != forms.end() ? found->second
                                              : watch::formFor(size, VALUE_TYPE_COUNT)});
    }
    watch::recordScan(recording, reads, now);
}

std::string today() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (!local || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local)) return "?";
    return text;
}

std::string frame(const Options& o) {
    std::string units;
    for (int32_t type = 1; type <= DEVICE_TYPE_COUNT; ++type)
        if (watch::session.units[type])
            units += std::string(" ") + deviceTypeName(type) + "=" +
                     std::to_string(watch::session.units[type]);
    std::string head = "settings: " + watch::session.path + " (units:" +
                       (units.empty() ? std::string(" none") : units) + ")\n";
    const std::string aircraft = watch::aircraftLine();
    if (!aircraft.empty()) head += aircraft + "\n";
    bool found = false;
    return head + (o.why ? watch::whyFrame(o.whySection, o.whyKey, &found)
                         : watch::tableFrame(o.filter));
}

// A frame goes out when it differs from the last: on a terminal drawn again in place,
// into a file or a pipe after the one before. False when it could not be written.
bool show(const std::string& text, bool terminal, std::string& last) {
    if (text == last) return true;
    if (terminal)
        std::printf("\x1b[H\x1b[2J%s(Ctrl-C stops)\n", text.c_str());
    else
        std::printf("%s\n", text.c_str());
    last = text;
    return tools::standardOutputWritten("norvalume-watch");
}

void pauseUntil(uint32_t start, uint32_t interval) {
    for (;;) {
        const uint32_t spent = platform::tickCount() - start;
        if (spent >= interval || platform::stopRequested()) return;
        const uint32_t left = interval - spent;
        platform::sleepMs(left < PAUSE_STEP_MS ? left : PAUSE_STEP_MS);
    }
}

// The recording's end: false, after saying what failed and where, when it failed.
bool recordingWritten(watch::Recording& recording) {
    if (!recording.file && !recording.failed) return true;  // none was asked for
    if (watch::finishRecording(recording, platform::tickCount())) return true;
    std::fprintf(stderr, "norvalume-watch: %s\n", recording.failure.c_str());
    return false;
}

int watchLoop(const Options& o, bool terminal) {
    watch::Recording recording;
    if (o.record && !watch::startRecording(recording, o.record, watch::session.path, today())) {
        std::fprintf(stderr, "norvalume-watch: %s\n", recording.failure.c_str());
        return EXIT_WRITE_FAILED;
    }
    const uint32_t started = platform::tickCount();
    int readScans = 0;
    int status = EXIT_DONE;
    std::string last;
    for (;;) {
        const uint32_t at = platform::tickCount();
        const uint32_t loads = watch::session.loads;
        if (watch::scanOnce(at, LINK_RETRY_MS)) ++readScans;
        // A scan that settled another aircraft loaded its profile: the frame waits for
        // scans of the table now in force.
        if (watch::session.loads != loads) readScans = 0;
        if (recording.file) recordScan(recording, at);
        if (recording.failed) break;
        if (o.once && readScans >= ONCE_SCANS) {
            std::fputs(frame(o).c_str(), stdout);
            if (!tools::standardOutputWritten("norvalume-watch")) status = EXIT_WRITE_FAILED;
            break;
        }
        if (o.once && at - started >= ONCE_WAIT_MS) {
            std::fprintf(stderr,
                         "norvalume-watch: no simulator answered within %u seconds: start the "
                         "simulator with its interface module (or norvalume-sim, to try "
                         "without it), then run this again\n",
                         static_cast<unsigned>(ONCE_WAIT_MS / 1000));
            status = EXIT_NO_SIMULATOR;
            break;
        }
        if (!o.once && !o.quiet && !show(frame(o), terminal, last)) {
            status = EXIT_WRITE_FAILED;
            break;
        }
        if (platform::stopRequested() || (o.seconds && at - started >= o.seconds * 1000u)) break;
        watch::reloadIfSaved();
        pauseUntil(at, o.interval);
    }
    return recordingWritten(recording) ? status : EXIT_WRITE_FAILED;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (tools::answerInfoOption(argv[i], "norvalume-watch", USAGE)) return EXIT_DONE;
        if (takeOption(argc, argv, i, o)) continue;
        if (argv[i][0] == '-' || file) return usage();
        file = argv[i];
    }
    if (!file || (o.why && !o.filter.empty())) return usage();
    std::string record;
    if (!tools::existingFile("norvalume-watch", file, &watch::session.path) ||
        (o.record && !tools::fullPathOf("norvalume-watch", o.record, &record)))
        return EXIT_CANNOT_RUN;
    if (o.record) o.record = record.c_str();
    if (o.units) {
        watch::session.unitsGiven = true;
        if (!tools::parseUnitsList("norvalume-watch", o.units, watch::session.units))
            return EXIT_CANNOT_RUN;
    }
    // Another user could stand in for the simulator in a run folder not ours: its
    // values would be shown as the simulator's.
    char why[512];
    if (!platform::prepareIpc(why, sizeof why)) {
        std::fprintf(stderr, "norvalume-watch: %s\n", why);
        return EXIT_CANNOT_RUN;
    }
    const bool terminal = platform::startConsole();
    if (!watch::loadSettings()) {
        std::fprintf(stderr, "norvalume-watch: %s: no such file\n", watch::session.path.c_str());
        return EXIT_CANNOT_RUN;
    }
    bool found = false;
    if (o.why) watch::whyFrame(o.whySection, o.whyKey, &found);
    if (o.why && !found) {
        std::fprintf(stderr, "norvalume-watch: [%s] %s: no such line is read from %s\n",
                     o.whySection.c_str(), o.whyKey.c_str(), watch::session.path.c_str());
        watch::stopWatching();
        return EXIT_CANNOT_RUN;
    }
    watch::startWatching();
    const int status = watchLoop(o, terminal);
    watch::stopWatching();
    return status;
}
