// Stand-in for libFuzzer where the compiler lacks it: feeds every file named on the
// command line (seed files, or folders of them), then inputs mutated from those seeds,
// until the time or run limit. Takes the libFuzzer options the scripts use
// (-max_total_time, -runs, -max_len, -artifact_prefix) and ignores the others. A
// finding (a failed check, a sanitizer report, a crash) leaves the input that caused it
// in <artifact_prefix>crash-random, as libFuzzer leaves its crash-* files.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__has_include)
#if __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define HAVE_DEATH_CALLBACK 1
#endif
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> seeds;

// The input being run and where it goes on a finding; set up before any run, so the
// handlers below only call write(2).
const std::string* current = nullptr;
std::string crashPath = "crash-random";
long runs = 0;

void saveCurrent() {
    if (!current) return;
    int fd = open(crashPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < current->size()) {
        ssize_t n = write(fd, current->data() + done, current->size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    char note[160];
    int n = std::snprintf(note, sizeof note, "random driver: %ld inputs, the last one failed: %s\n",
                          runs + 1, crashPath.c_str());
    if (n > 0) (void)!write(2, note, static_cast<size_t>(n) < sizeof note ? n : sizeof note - 1);
}

void onSignal(int sig) {
    saveCurrent();
    signal(sig, SIG_DFL);
    raise(sig);
}

void loadFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) content.append(chunk, n);
    std::fclose(f);
    seeds.push_back(content);
}

void loadPath(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.') loadFile(path + "/" + e->d_name);
        }
        closedir(dir);
    } else {
        loadFile(path);
    }
}

uint32_t nextRandom(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// Words that headers and lengths like to hold: the edges of the common widths.
const uint32_t INTERESTING[] = {0, 1, 2, 3, 4, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000,
                                0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};

void mutate(std::string& input, uint32_t& state) {
    int edits = 1 + nextRandom(state) % 8;
    for (int e = 0; e < edits; ++e) {
        uint32_t r = nextRandom(state);
        size_t at = input.empty() ? 0 : r % (input.size() + 1);
        switch ((r >> 24) % 6) {
            case 0:  // insert a random byte
                input.insert(at, 1, static_cast<char>(nextRandom(state)));
                break;
            case 1:  // drop a run of bytes
                if (at < input.size()) input.erase(at, 1 + nextRandom(state) % 8);
                break;
            case 2:  // splice in part of another seed
            {
                const std::string& other = seeds[nextRandom(state) % seeds.size()];
                size_t from = other.empty() ? 0 : nextRandom(state) % other.size();
                input.insert(at, other, from, 1 + nextRandom(state) % 64);
                break;
            }
            case 3:  // a little-endian word of an interesting value, or a small one
                if (at + 4 <= input.size()) {
                    uint32_t w = nextRandom(state) % 2
                                     ? INTERESTING[nextRandom(state) % (sizeof INTERESTING / 4)]
                                     : nextRandom(state) % 64;
                    for (int b = 0; b < 4; ++b) input[at + b] = static_cast<char>(w >> (8 * b));
                }
                break;
            default:  // overwrite a byte
                if (at < input.size()) input[at] = static_cast<char>(nextRandom(state));
                break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 10;
    long runLimit = -1;
    size_t maxLength = 4096;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-max_total_time=", 16) == 0) {
            seconds = std::atol(argv[i] + 16);
        } else if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runLimit = std::atol(argv[i] + 6);
        } else if (std::strncmp(argv[i], "-max_len=", 9) == 0) {
            maxLength = static_cast<size_t>(std::atol(argv[i] + 9));
        } else if (std::strncmp(argv[i], "-artifact_prefix=", 17) == 0) {
            crashPath = std::string(argv[i] + 17) + "crash-random";
        } else if (argv[i][0] != '-') {
            loadPath(argv[i]);
        }
    }
#ifdef HAVE_DEATH_CALLBACK
    __sanitizer_set_death_callback(saveCurrent);
#endif
    signal(SIGABRT, onSignal);
    signal(SIGSEGV, onSignal);
    signal(SIGBUS, onSignal);
    signal(SIGFPE, onSignal);

    const auto start = std::chrono::steady_clock::now();
    for (const std::string& s : seeds) {
        if (runLimit >= 0 && runs >= runLimit) break;
        current = &s;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        ++runs;
    }
    if (seeds.empty()) seeds.push_back(std::string(16, '\0'));

    uint32_t state = 0x9E3779B9u;
    const auto stop = start + std::chrono::seconds(seconds);
    std::string input;
    current = &input;
    bool more = true;
    while (more && std::chrono::steady_clock::now() < stop) {
        for (int batch = 0; batch < 64; ++batch) {
            if (runLimit >= 0 && runs >= runLimit) {
                more = false;
                break;
            }
            input = seeds[nextRandom(state) % seeds.size()];
            mutate(input, state);
            if (input.size() > maxLength) input.resize(maxLength);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
            ++runs;
        }
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("random driver: %ld inputs in %.0f s, no fault\n", runs, elapsed);
    return 0;
}
