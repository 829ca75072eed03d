// Stand-in for libFuzzer where the compiler lacks it: feeds every file named on the
// command line (seed files, or folders of them), then random inputs built from those
// seeds and from random bytes, until the time limit.
#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> seeds;

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

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-max_total_time=", 16) == 0) {
            seconds = std::atoi(argv[i] + 16);
        } else if (argv[i][0] != '-') {
            loadPath(argv[i]);
        }
    }
    for (const std::string& s : seeds) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    if (seeds.empty()) seeds.push_back("2X0BC4 U8 =1");

    uint32_t state = 0x9E3779B9u;
    const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long runs = 0;
    std::string input;
    while (std::chrono::steady_clock::now() < stop) {
        for (int batch = 0; batch < 256; ++batch, ++runs) {
            input = seeds[nextRandom(state) % seeds.size()];
            int edits = 1 + nextRandom(state) % 8;
            for (int e = 0; e < edits; ++e) {
                uint32_t r = nextRandom(state);
                size_t at = input.empty() ? 0 : r % (input.size() + 1);
                switch ((r >> 24) % 4) {
                    case 0:  // insert a random byte
                        input.insert(at, 1, static_cast<char>(nextRandom(state)));
                        break;
                    case 1:  // drop a byte
                        if (at < input.size()) input.erase(at, 1);
                        break;
                    case 2:  // splice in part of another seed
                        input.insert(at, seeds[nextRandom(state) % seeds.size()]);
                        break;
                    default:  // overwrite a byte
                        if (at < input.size()) input[at] = static_cast<char>(nextRandom(state));
                        break;
                }
            }
            if (input.size() > 700) input.resize(700);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        }
    }
    std::printf("random driver: %ld inputs in %d s, no fault\n", runs, seconds);
    return 0;
}
