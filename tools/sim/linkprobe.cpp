// norvalume-linkprobe: a small client of the link for the end-to-end tests. It opens the
// link with the program's own client code, or with --layout64 as a 64-bit client of the
// module's own SDK would (probe64.h), runs the steps given on its command line and prints
// every LinkError code, so a test can check the protocol against another process.
//   norvalume-linkprobe [--layout64] [--required N]
//                       [read OFF SIZE | write OFF HEXBYTES | bad TYPE | process]...
// Offsets are hexadecimal. Pending requests are processed at the end. `bad` (64-bit
// layout only) queues a record of a type the module does not know.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/link.h"
#include "tools/common/common.h"
#include "tools/sim/probe64.h"

namespace {

// The client the steps run on: the program's own, or the 64-bit layout.
struct Client {
    bool (*open)(uint32_t, LinkError*);
    void (*close)();
    bool (*read)(uint32_t, uint32_t, void*, LinkError*);
    bool (*write)(uint32_t, uint32_t, const void*, LinkError*);
    bool (*process)(LinkError*);
    bool (*queue)(uint32_t, LinkError*);  // nullptr: no `bad` step
    uint32_t (*interfaceWord)();
    uint32_t (*simulatorWord)();
};
const Client LINK_CLIENT = {linkOpen,    linkClose, linkRead,             linkWrite,
                            linkProcess, nullptr,   linkInterfaceVersion, linkSimulatorVersion};
const Client LAYOUT64_CLIENT = {probe64Open,    probe64Close,   probe64Read,
                                probe64Write,   probe64Process, probe64Queue,
                                [] { return probe64InterfaceWord; },
                                [] { return probe64SimulatorWord; }};
const Client* client = &LINK_CLIENT;

struct Pending {
    unsigned offset;
    std::vector<unsigned char> data;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(const char* text, std::vector<unsigned char>* out) {
    size_t n = std::strlen(text);
    if (n == 0 || n % 2) return false;
    for (size_t i = 0; i < n; i += 2) {
        int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back((unsigned char)(hi << 4 | lo));
    }
    return true;
}

bool parseNumber(const char* text, int base, unsigned long* out) {
    char* end = nullptr;
    *out = std::strtoul(text, &end, base);
    return *text && !*end;
}

// The reads of the current batch; each buffer is its own allocation, so none moves
// while the link holds on to it.
std::vector<Pending*> batch;
bool allOk = true;

void process() {
    LinkError e;
    bool ok = client->process(&e);
    std::printf("process %u\n", unsigned(e));
    if (!ok) allOk = false;
    for (Pending* p : batch) {
        if (ok) {
            std::printf("data %04X ", p->offset);
            for (unsigned char b : p->data) std::printf("%02X", b);
            std::printf("\n");
        }
        delete p;
    }
    batch.clear();
}

constexpr char USAGE[] =
    "usage: norvalume-linkprobe [--layout64] [--required N]\n"
    "                           [read OFF SIZE | write OFF HEX | bad TYPE | process]...\n"
    "       norvalume-linkprobe --help | --version\n";

int usage() {
    std::fputs(USAGE, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && tools::answerInfoOption(argv[1], "norvalume-linkprobe", USAGE)) return 0;
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "--layout64") == 0) {
        client = &LAYOUT64_CLIENT;
        i++;
    }
    unsigned long required = 0;
    if (i + 1 < argc && std::strcmp(argv[i], "--required") == 0) {
        if (!parseNumber(argv[i + 1], 0, &required)) return usage();
        i += 2;
    }
    LinkError e;
    bool opened = client->open(uint32_t(required), &e);
    std::printf("open %u interface=%08X simulator=%04X\n", unsigned(e),
                unsigned(client->interfaceWord()), unsigned(client->simulatorWord() & 0xFFFF));
    if (!opened) return 1;
    bool queued = false;
    for (; i < argc; i++) {
        unsigned long offset, size, type;
        if (std::strcmp(argv[i], "read") == 0 && i + 2 < argc &&
            parseNumber(argv[i + 1], 16, &offset) && parseNumber(argv[i + 2], 10, &size) &&
            size <= LINK_BLOCK_SIZE) {
            Pending* p = new Pending{unsigned(offset), std::vector<unsigned char>(size)};
            bool ok = client->read(uint32_t(offset), uint32_t(size), p->data.data(), &e);
            std::printf("read %u\n", unsigned(e));
            if (ok) {
                batch.push_back(p);
                queued = true;
            } else {
                delete p;
                allOk = false;
            }
            i += 2;
        } else if (std::strcmp(argv[i], "write") == 0 && i + 2 < argc &&
                   parseNumber(argv[i + 1], 16, &offset)) {
            std::vector<unsigned char> bytes;
            if (!parseHexBytes(argv[i + 2], &bytes)) return usage();
            bool ok = client->write(uint32_t(offset), uint32_t(bytes.size()), bytes.data(), &e);
            std::printf("write %u\n", unsigned(e));
            if (ok) queued = true;
            else allOk = false;
            i += 2;
        } else if (std::strcmp(argv[i], "bad") == 0 && client->queue && i + 1 < argc &&
                   parseNumber(argv[i + 1], 0, &type)) {
            bool ok = client->queue(uint32_t(type), &e);
            std::printf("bad %u\n", unsigned(e));
            if (ok) queued = true;
            else allOk = false;
            i += 1;
        } else if (std::strcmp(argv[i], "process") == 0) {
            process();
            queued = false;
        } else {
            client->close();
            return usage();
        }
    }
    if (queued) process();
    client->close();
    std::fflush(stdout);
    return allOk ? 0 : 1;
}
