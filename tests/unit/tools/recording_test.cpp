// The watch's recordings: each set line gives back exactly the bytes read, in the form
// the settings file reads them where it can; blocks, waits and the full first block; a
// disk that fills up ends the recording on a whole line, with the place it failed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/items.h"
#include "tools/common/common.h"
#include "tools/watch/recording.h"

namespace {

using watch::ValueForm;

std::vector<uint8_t> bytesOf(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + n);
}

std::vector<uint8_t> held(const sim::SimModule& m, uint32_t offset, size_t n) {
    std::vector<uint8_t> out(n);
    sim::readSpace(&m, offset, out.data(), uint32_t(n));
    return out;
}

TEST(Recording, SetLinesGiveBackTheBytesReadInTheirFormOrAsHex) {
    const double volts = 28.0, nan = std::nan(""), third = 1.0 / 3;
    const float tenth = 0.1f;
    const uint8_t packed[] = {0x45, 0x23}, minus700[] = {0x44, 0xFD}, big[] = {0, 0, 0, 0x80};
    const char stall[16] = "** STALL **", blankFirst[8] = " 7000", junkBehind[8] = "AB\0X";
    const struct {
        std::vector<uint8_t> bytes;
        ValueForm form;
        const char* line;
    } cases[] = {
        {bytesOf(&volts, 8), ValueForm::F64, "set 0100 f64 28"},
        {bytesOf(&third, 8), ValueForm::F64, "set 0100 f64 0.33333333333333331"},
        {bytesOf(&nan, 8), ValueForm::F64, nullptr},
        {bytesOf(&tenth, 4), ValueForm::F32, "set 0100 f32 0.100000001"},
        {bytesOf(packed, 2), ValueForm::PACKED, "set 0100 u16 0x2345"},
        {bytesOf(minus700, 2), ValueForm::S16, "set 0100 s16 -700"},
        {bytesOf(minus700, 2), ValueForm::U16, "set 0100 u16 64836"},
        {bytesOf(big, 4), ValueForm::U32, "set 0100 u32 2147483648"},
        {bytesOf(big, 4), ValueForm::S32, "set 0100 s32 -2147483648"},
        {bytesOf(big, 4), ValueForm::U16, nullptr},  // a form of another size
        {bytesOf(stall, 16), ValueForm::TEXT, "set 0100 str ** STALL **"},
        {bytesOf(blankFirst, 8), ValueForm::TEXT, nullptr},  // the command skips blanks
        {bytesOf(junkBehind, 8), ValueForm::TEXT, nullptr},  // bytes behind the text's end
        {bytesOf("ABCDEFGH", 8), ValueForm::TEXT, nullptr},  // no end within the read
    };
    for (const auto& c : cases) {
        static sim::SimModule m;
        sim::resetModule(&m);
        const std::string line = watch::setLine(&m, 0x100, c.bytes, c.form);
        std::string hex = "set 0100 hex ";
        for (uint8_t b : c.bytes) {
            hex += "0123456789ABCDEF"[b >> 4];
            hex += "0123456789ABCDEF"[b & 15];
        }
        EXPECT_EQ(line, c.line ? c.line : hex);
        EXPECT_EQ(held(m, 0x100, c.bytes.size()), c.bytes) << line;
    }
}

TEST(Recording, FormsFollowTheTypeWhenItsSizeFits) {
    EXPECT_EQ(watch::formFor(2, VT_R2), ValueForm::PACKED);
    EXPECT_EQ(watch::formFor(1, VT_S8), ValueForm::S8);
    EXPECT_EQ(watch::formFor(8, VT_STR), ValueForm::TEXT);
    EXPECT_EQ(watch::formFor(4, VT_U16), ValueForm::U32);  // by size: another line's type
    EXPECT_EQ(watch::formFor(8, VALUE_TYPE_COUNT), ValueForm::F64);
    EXPECT_EQ(watch::formFor(128, VALUE_TYPE_COUNT), ValueForm::TEXT);
    EXPECT_EQ(watch::formFor(3, VALUE_TYPE_COUNT), ValueForm::HEX);
}

TEST(Recording, FirstBlockSetsEverythingLaterOnesTheChangesAfterTheirWait) {
    const std::string path = ::testing::TempDir() + "recording_test.script";
    watch::Recording r;
    ASSERT_TRUE(watch::startRecording(r, path.c_str(), "demo.ini", "2024-05-01 10:00:00"));
    std::vector<uint8_t> zero = {0, 0}, gear = {0, 0, 0, 0}, up = {0xFF, 0x3F, 0, 0};
    const std::vector<watch::RecordedRead> first = {
        {0x0BEC, &gear, ValueForm::U32}, {0x3102, &zero, ValueForm::HEX},
        {0x0BEC, &gear, ValueForm::U32}};
    const std::vector<watch::RecordedRead> later = {{0x0BEC, &up, ValueForm::U32},
                                                    {0x3102, &zero, ValueForm::HEX}};
    watch::recordScan(r, first, 1000);
    watch::recordScan(r, first, 1220);  // nothing changed: nothing written
    watch::recordScan(r, later, 1440);
    watch::finishRecording(r, 2000);
    EXPECT_EQ(tools::readFile(path.c_str()),
              "# norvalume-watch recording: the values demo.ini reads, as norvalume-sim commands\n"
              "# recorded 2024-05-01 10:00:00\n"
              "# replay: norvalume-sim --script FILE [--loop] [--speed FACTOR]\n"
              "set 0BEC u32 0\n"
              "set 3102 hex 0000\n"
              "wait 440\n"
              "set 0BEC u32 16383\n"
              "wait 560\n");
    std::remove(path.c_str());
}

// The same flight, every scan changing a value: into `path`, until the recording fails.
void recordFlight(watch::Recording& r, const std::string& path, int scans) {
    ASSERT_TRUE(watch::startRecording(r, path.c_str(), "demo.ini", "2024-05-01 10:00:00"));
    for (int n = 0; n < scans && !r.failed; ++n) {
        std::vector<uint8_t> altitude = {uint8_t(n), uint8_t(n >> 8), 0, 0};
        watch::recordScan(r, {{0x0570, &altitude, ValueForm::U32}}, 1000 + 220 * n);
    }
}

// A disk that fills up mid-flight, played by a limit on the file's size: the recording
// stops at the first write that fails, says what failed and where, and keeps exactly the
// whole lines that reached the file before it.
TEST(Recording, AFullDiskEndsTheRecordingOnAWholeLineAndSaysWhere) {
    const std::string whole = ::testing::TempDir() + "recording_whole.script";
    const std::string cut = ::testing::TempDir() + "recording_cut.script";
    watch::Recording unlimited;
    recordFlight(unlimited, whole, 40);
    ASSERT_TRUE(watch::finishRecording(unlimited, 20000));
    const std::string all = tools::readFile(whole.c_str());

    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 300;  // the header and a few blocks; one ends in the middle of a line
    watch::Recording r;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    recordFlight(r, cut, 40);
    const bool finished = watch::finishRecording(r, 20000);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(finished);
    EXPECT_TRUE(r.failed);
    const std::string kept = tools::readFile(cut.c_str());
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), '\n');
    EXPECT_EQ(kept.size(), r.keptBytes);
    EXPECT_EQ(uint64_t(std::count(kept.begin(), kept.end(), '\n')), r.keptLines);
    EXPECT_EQ(all.compare(0, kept.size(), kept), 0) << "not the flight's first lines";
    EXPECT_LT(kept.size(), 300u);
    const std::string line = std::to_string(r.keptLines + 1);
    EXPECT_NE(r.failure.find("recording " + cut + ": "), std::string::npos) << r.failure;
    EXPECT_NE(r.failure.find(" failed at line " + line), std::string::npos) << r.failure;
    EXPECT_NE(r.failure.find(std::strerror(EFBIG)), std::string::npos) << r.failure;
    EXPECT_NE(r.failure.find("keeps the first " + std::to_string(r.keptLines) + " lines"),
              std::string::npos)
        << r.failure;
    std::remove(whole.c_str());
    std::remove(cut.c_str());
}

TEST(Recording, AFileThatCannotBeOpenedSaysSo) {
    const std::string path = ::testing::TempDir() + "no/such/folder/flight.script";
    watch::Recording r;
    EXPECT_FALSE(watch::startRecording(r, path.c_str(), "demo.ini", "today"));
    EXPECT_NE(r.failure.find("recording " + path + ": opening failed"), std::string::npos)
        << r.failure;
    EXPECT_FALSE(watch::finishRecording(r, 0));
}

}  // namespace
