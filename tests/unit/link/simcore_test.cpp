// The emulated module on its own: the command language that scenarios are written in,
// and block processing that must stay inside a block whatever the client put in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sim/simcore.h"

namespace {

sim::SimModule m;
std::vector<std::string> printed;
void collect(const char* line) { printed.push_back(line); }

std::string hexOf(const uint8_t* bytes, uint32_t size) {
    std::string hex;
    char two[3];
    for (uint32_t i = 0; i < size; i++) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        hex += two;
    }
    return hex;
}

std::string bytesAt(uint32_t offset, uint32_t size) { return hexOf(m.space + offset, size); }

// Records of a block laid out one after another, as a client queues them.
struct BlockWriter {
    std::vector<uint8_t> block = std::vector<uint8_t>(LINK_BLOCK_SIZE, 0);
    uint32_t used = 0;

    // A record's header; returns where its data starts. A record behind one that ran
    // past the block's end is not written (NOWHERE).
    static constexpr uint32_t NOWHERE = 0xFFFFFFFFu;
    uint32_t add(uint32_t type, uint32_t offset, uint32_t size) {
        uint32_t header = linkServedRecordHeader(type) ? linkServedRecordHeader(type) : 12;
        if (uint64_t(used) + header + size > block.size()) return NOWHERE;
        writeLe32(&block[used], type);
        writeLe32(&block[used + 4], offset);
        writeLe32(&block[used + 8], size);
        uint32_t data = used + header;
        used = data + size;
        return data;
    }
    std::string hexAt(uint32_t at, uint32_t size) const { return hexOf(&block[at], size); }
};

class SimCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetModule(&m);
        printed.clear();
    }
};

TEST_F(SimCoreTest, SetStoresEachTypeLittleEndian) {
    struct Case {
        const char* line;
        uint32_t offset;
        const char* bytes;
    } cases[] = {
        {"set 10 u8 255", 0x10, "FF"},
        {"set 0x10 s8 -2", 0x10, "FE"},
        {"set 20 u16 0x1234", 0x20, "3412"},
        {"set 20 s16 -32768", 0x20, "0080"},
        {"set 30 u32 4294967295", 0x30, "FFFFFFFF"},
        {"set 30 s32 -1", 0x30, "FFFFFFFF"},
        {"set 40 f32 1.5", 0x40, "0000C03F"},
        {"set 40 f64 -2", 0x40, "00000000000000C0"},
        {"set 50 str AB C", 0x50, "4142204300"},
        {"set 60 hex 0A1b2C", 0x60, "0A1B2C"},
        {"set FFFF u8 1", 0xFFFF, "01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        sim::CommandResult r = sim::runCommand(&m, c.line, nullptr);
        ASSERT_EQ(r.kind, sim::COMMAND_DONE) << r.message;
        EXPECT_EQ(bytesAt(c.offset, uint32_t(std::strlen(c.bytes) / 2)), c.bytes);
    }
}

TEST_F(SimCoreTest, MalformedCommandsAreRefusedAndChangeNothing) {
    const char* lines[] = {
        "set 10 u8 256",    "set 10 s8 -129",  "set 10 u16 -1",   "set 10000 u8 1",
        "set FFFF u16 1",   "set 10 u32 12x",  "set 10 f32 abc",  "set 10 hex 0A1",
        "set 10 hex 0G",    "set 10 q8 1",     "set zz u8 1",     "set 10 u8",
        "dump 10 0",        "dump FFFF 2",     "fault bogus",     "wait -5",
        "jump 10",          "set 10 u8 1 2",
    };
    sim::SimModule before = m;
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(sim::runCommand(&m, line, collect).kind, sim::COMMAND_ERROR);
    }
    EXPECT_EQ(std::memcmp(&before, &m, sizeof m), 0);
    EXPECT_TRUE(printed.empty());
}

// A word longer than its buffer must not be read as its first characters: a long run
// of leading zeros would otherwise turn offset 0x10 into 0 and the value 7 into 0.
TEST_F(SimCoreTest, OverlongWordsAreRefusedNotCutShort) {
    const std::string zeros(70, '0');
    const std::string lines[] = {
        "set 0x" + zeros + "10 u8 5",
        "set 20 u8 " + zeros + "7",
        "set 20 u32 " + zeros + "7",
        "dump 10 " + zeros + "1",
        "wait " + zeros + "5",
        "fault result " + zeros + "3",
        "set" + zeros + " 10 u8 1",
    };
    sim::SimModule before = m;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(sim::runCommand(&m, line.c_str(), collect).kind, sim::COMMAND_ERROR);
    }
    EXPECT_EQ(std::memcmp(&before, &m, sizeof m), 0);
    EXPECT_TRUE(printed.empty());
    // A comment is still a comment however long its first word.
    EXPECT_EQ(sim::runCommand(&m, ("#" + zeros).c_str(), nullptr).kind, sim::COMMAND_DONE);
}

TEST_F(SimCoreTest, DumpPrintsSixteenBytesPerLineAsBlocksWouldReadThem) {
    sim::runCommand(&m, "set 100 hex 000102030405060708090A0B0C0D0E0F10", nullptr);
    sim::runCommand(&m, "dump 100 17", collect);
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0], "0100: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    EXPECT_EQ(printed[1], "0110: 10");
    printed.clear();
    sim::runCommand(&m, "fault old", nullptr);
    sim::runCommand(&m, "dump 3304 4", collect);
    EXPECT_EQ(printed.at(0), "3304: 00 00 64 34");
}

TEST_F(SimCoreTest, WaitQuitAndCommentsAreReportedToTheCaller) {
    sim::CommandResult r = sim::runCommand(&m, "wait 250", nullptr);
    EXPECT_EQ(r.kind, sim::COMMAND_WAIT);
    EXPECT_EQ(r.waitMs, 250u);
    EXPECT_EQ(sim::runCommand(&m, "quit", nullptr).kind, sim::COMMAND_QUIT);
    EXPECT_EQ(sim::runCommand(&m, "# set 10 u8 1", nullptr).kind, sim::COMMAND_DONE);
    EXPECT_EQ(m.space[0x10], 0);
    // A script played at another speed: to the nearest millisecond, never wrapping.
    const struct {
        uint32_t ms;
        double speed;
        uint32_t scaled;
    } waits[] = {{250, 1.0, 250},  {250, 2.0, 125},        {250, 0.5, 500},        {3, 2.0, 2},
                 {1, 4.0, 0},      {0, 0.001, 0},          {0xFFFFFFFFu, 0.5, 0xFFFFFFFFu},
                 {1000, 3.0, 333}, {0xFFFFFFFFu, 1.0, 0xFFFFFFFFu}};
    for (const auto& w : waits)
        EXPECT_EQ(sim::scaledWaitMs(w.ms, w.speed), w.scaled) << w.ms << " at " << w.speed;
}

// --help's example script runs as written, and the help names every type and fault.
TEST_F(SimCoreTest, TheHelpsExampleRunsAndItNamesEveryTypeAndFault) {
    const std::string help = sim::COMMAND_HELP;
    const size_t example = help.find("A script:\n");
    ASSERT_NE(example, std::string::npos);
    size_t lines = 0;
    for (size_t at = help.find('\n', example) + 1; at < help.size(); lines++) {
        const size_t end = help.find('\n', at);
        const std::string line = help.substr(at + 2, end - at - 2);
        ASSERT_EQ(help.compare(at, 2, "  "), 0) << line;
        sim::CommandResult r = sim::runCommand(&m, line.c_str(), nullptr);
        EXPECT_NE(r.kind, sim::COMMAND_ERROR) << line << ": " << r.message;
        at = end + 1;
    }
    EXPECT_GE(lines, 5u);
    double volts;
    std::memcpy(&volts, &m.space[0x2834], sizeof volts);
    EXPECT_EQ(volts, 28.0);
    EXPECT_EQ(bytesAt(0x3102, 2), "0101");
    EXPECT_STREQ(reinterpret_cast<const char*>(&m.space[0x3380]), "** STALL **");

    for (const char* type : {"u8", "s8", "u16", "s16", "u32", "s32", "f32", "f64", "str", "hex"}) {
        const std::string line = std::string("set 10 ") + type + " 01";
        EXPECT_EQ(sim::runCommand(&m, line.c_str(), nullptr).kind, sim::COMMAND_DONE) << type;
        EXPECT_NE(help.find(std::string(" ") + type), std::string::npos) << type;
    }
    for (const char* name : {"none", "silent", "result", "type", "size", "destination",
                             "handshake", "old"}) {
        sim::Fault fault;
        EXPECT_TRUE(sim::faultFromName(name, &fault)) << name;
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

TEST_F(SimCoreTest, ClientVersionWriteKeepsTheSignatureWordIntact) {
    BlockWriter w;
    writeLe16(&w.block[w.add(LINK_RECORD_WRITE, 0x330A, 2)], 1004);
    uint32_t back = w.add(LINK_RECORD_READ, 0x3308, 4);  // then read 0x3308 back
    uint32_t result = 0;
    ASSERT_TRUE(sim::processBlock(&m, w.block.data(), LINK_BLOCK_SIZE, &result));
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(m.clientVersion, 1004);
    EXPECT_EQ(m.clientVersionWrites, 1u);
    EXPECT_EQ(w.hexAt(back + 2, 2), "DEFA");
}

// The block is heap memory of exactly LINK_BLOCK_SIZE: AddressSanitizer flags any overrun.
TEST_F(SimCoreTest, RecordsThatRunPastTheBlockAreNotCarriedOut) {
    struct Case {
        const char* name;
        uint32_t position, type, size;
        bool stops;  // the walk reports where it stopped
    } cases[] = {
        {"read data past the end", LINK_BLOCK_SIZE - 20, LINK_RECORD_READ, 8, true},
        {"huge read size", 0, LINK_RECORD_READ, 0xFFFFFFF0u, true},
        {"write header cut by the end", LINK_BLOCK_SIZE - 8, LINK_RECORD_WRITE, 0, true},
        {"read at the very end", LINK_BLOCK_SIZE - 16, LINK_RECORD_READ, 0, false},
        {"64-bit read data past the end", LINK_BLOCK_SIZE - 24, LINK_RECORD_READ64, 8, true},
        {"64-bit read header cut by the end", LINK_BLOCK_SIZE - 16, LINK_RECORD_READ64, 0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::resetModule(&m);
        std::memset(m.space, 0x77, 0x100);
        uint8_t* block = new uint8_t[LINK_BLOCK_SIZE]();
        // Fill the block up to the case's position with one write record of zeros.
        if (c.position >= LINK_WRITE_HEADER) {
            writeLe32(block + LINK_RECORD_TYPE_AT, LINK_RECORD_WRITE);
            writeLe32(block + LINK_RECORD_OFFSET_AT, 0x1000);
            writeLe32(block + LINK_RECORD_SIZE_AT, c.position - LINK_WRITE_HEADER);
        }
        uint8_t* rec = block + c.position;
        writeLe32(rec + LINK_RECORD_TYPE_AT, c.type);
        if (c.position + LINK_WRITE_HEADER <= LINK_BLOCK_SIZE) {
            writeLe32(rec + LINK_RECORD_OFFSET_AT, 0);
            writeLe32(rec + LINK_RECORD_SIZE_AT, c.size);
        }
        uint32_t result = 0;
        EXPECT_TRUE(sim::processBlock(&m, block, LINK_BLOCK_SIZE, &result));
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(m.lastStop.stopped, c.stops);
        if (c.stops) {
            EXPECT_EQ(m.lastStop.position, c.position);
        }
        // Not even the part that would fit was filled.
        for (uint32_t i = c.position + LINK_READ_HEADER; i < LINK_BLOCK_SIZE; i++)
            ASSERT_NE(block[i], 0x77) << i;
        delete[] block;
    }
}

// A 64-bit client of the module's own SDK mixes its reads (type 4, 8-byte destination)
// with writes, and our client's reads may share a block with them: every read lands
// behind its own header, every header comes back as it went, the write lands in order.
TEST_F(SimCoreTest, ReadsOfBothWidthsAndWritesAreCarriedOutInOrder) {
    sim::runCommand(&m, "set 100 hex 0102030405060708", nullptr);
    BlockWriter w;
    uint32_t wide = w.add(LINK_RECORD_READ64, 0x100, 8);
    writeLe32(&w.block[wide - 8], 0x89ABCDEF);  // the destination, both halves
    writeLe32(&w.block[wide - 4], 0x01234567);
    uint32_t narrow = w.add(LINK_RECORD_READ, 0x102, 2);
    writeLe32(&w.block[narrow - 4], 7);
    uint32_t write = w.add(LINK_RECORD_WRITE, 0x200, 3);
    std::memcpy(&w.block[write], "\xAA\xBB\xCC", 3);
    uint32_t after = w.add(LINK_RECORD_READ64, 0x1FF, 5);
    sim::runCommand(&m, "set FFFE u16 0x2211", nullptr);
    uint32_t edge = w.add(LINK_RECORD_READ, 0xFFFE, 4);  // half past the space: zeros
    sim::runCommand(&m, "fault old", nullptr);
    uint32_t handshake = w.add(LINK_RECORD_READ, 0x3302, 8);  // the fault's word within
    const std::vector<uint8_t> headers(w.block.begin(), w.block.begin() + 20);
    uint32_t result = 0;
    ASSERT_TRUE(sim::processBlock(&m, w.block.data(), LINK_BLOCK_SIZE, &result));
    EXPECT_EQ(result, 1u);
    EXPECT_FALSE(m.lastStop.stopped);
    EXPECT_EQ(w.hexAt(wide, 8), "0102030405060708");
    EXPECT_EQ(w.hexAt(wide - 8, 8), "EFCDAB8967452301");
    EXPECT_EQ(w.hexAt(narrow, 2), "0304");
    EXPECT_EQ(w.hexAt(narrow - 4, 4), "07000000");
    EXPECT_EQ(w.hexAt(after, 5), "00AABBCC00");
    EXPECT_EQ(w.hexAt(edge, 4), "11220000");
    // The fault's word as a read a byte at a time gives it.
    printed.clear();
    sim::runCommand(&m, "dump 3302 8", collect);
    std::string dumped = printed.at(0).substr(6);
    dumped.erase(std::remove(dumped.begin(), dumped.end(), ' '), dumped.end());
    EXPECT_EQ(w.hexAt(handshake, 8), dumped);
    EXPECT_EQ(dumped.substr(4, 8), "00006434");
    EXPECT_EQ(std::vector<uint8_t>(w.block.begin(), w.block.begin() + 20), headers);
}

// A record the module cannot carry out ends the walk: what came before it is done, what
// follows is not, the block is still answered, and the stop says where and why.
TEST_F(SimCoreTest, AWalkThatStopsShortSaysWhereAndWhy) {
    struct Case {
        uint32_t type, size;
        const char* said;
    } cases[] = {
        {3, 0, "block walk stopped at byte 21: unknown record type 3"},
        {0xFFFFFFFFu, 4, "block walk stopped at byte 21: unknown record type 4294967295"},
        {LINK_RECORD_READ64, 0x7FF0,
         "block walk stopped at byte 21: a record of type 4 runs past the block's end"},
        {LINK_RECORD_END, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        sim::resetModule(&m);
        BlockWriter w;
        uint32_t first = w.add(LINK_RECORD_WRITE, 0x300, 9);
        std::memset(&w.block[first], 0x11, 9);
        if (w.add(c.type, 0x100, c.size) == BlockWriter::NOWHERE) {
            writeLe32(&w.block[w.used], c.type);  // only its head fits, and nothing after it
            writeLe32(&w.block[w.used + 8], c.size);
        } else {
            w.block[w.add(LINK_RECORD_WRITE, 0x310, 1)] = 0x22;
        }
        uint32_t result = 0;
        ASSERT_TRUE(sim::processBlock(&m, w.block.data(), LINK_BLOCK_SIZE, &result));
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(m.space[0x308], 0x11);
        EXPECT_EQ(m.space[0x310], 0);
        char said[128];
        sim::describeStop(m.lastStop, said, sizeof said);
        EXPECT_STREQ(said, c.said);
    }
}

}  // namespace
