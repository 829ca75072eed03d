// The link client against the in-process interface module: block layout and capacity,
// the handshake, the send retries, and replies that another process may have altered.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_platform/fake_ipc.h"
#include "fake_platform/fake_time.h"
#include "link/link.h"

namespace {

struct SeenRecord {
    uint32_t type, offset, size, destination;
    std::vector<uint8_t> data;
};
std::vector<std::vector<SeenRecord>> seenBlocks;
std::vector<uint8_t> lastBlock;

void recordBlock(const uint8_t* block, uint32_t size) {
    lastBlock.assign(block, block + size);
    std::vector<SeenRecord> records;
    uint32_t pos = 0;
    while (pos + LINK_READ_HEADER <= size) {
        const uint8_t* rec = block + pos;
        SeenRecord r{readLe32(rec + LINK_RECORD_TYPE_AT), readLe32(rec + LINK_RECORD_OFFSET_AT),
                     readLe32(rec + LINK_RECORD_SIZE_AT), 0, {}};
        uint32_t header = linkRecordHeader(r.type);
        if (header == 0) break;
        if (r.type == LINK_RECORD_READ) r.destination = readLe32(rec + LINK_RECORD_DESTINATION_AT);
        r.data.assign(rec + header, rec + header + r.size);
        records.push_back(r);
        pos += header + r.size;
    }
    seenBlocks.push_back(records);
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        linkClose();
        fake::resetIpc();
        fake::resetTime();
        seenBlocks.clear();
        lastBlock.clear();
    }
    void TearDown() override {
        linkClose();
        fake::resetIpc();
    }
    void openOk() {
        fake::installModule("FS98MAIN");
        LinkError e;
        ASSERT_TRUE(linkOpen(0, &e));
        ASSERT_EQ(e, LINK_OK);
        fake::ipcBlockObserver = recordBlock;
        seenBlocks.clear();
    }
};

TEST_F(LinkTest, RequestsWhileClosedAreNotOpenAndSendNothing) {
    LinkError e;
    uint32_t v;
    EXPECT_FALSE(linkRead(0x100, 4, &v, &e));
    EXPECT_EQ(e, LINK_NOT_OPEN);
    EXPECT_FALSE(linkWrite(0x100, 4, &v, &e));
    EXPECT_EQ(e, LINK_NOT_OPEN);
    EXPECT_FALSE(linkProcess(&e));
    EXPECT_EQ(e, LINK_NOT_OPEN);
    EXPECT_EQ(fake::ipcSends, 0u);
}

TEST_F(LinkTest, ProcessWithNothingQueuedSendsNothing) {
    openOk();
    uint32_t sends = fake::ipcSends;
    LinkError e;
    EXPECT_FALSE(linkProcess(&e));
    EXPECT_EQ(e, LINK_NOTHING_QUEUED);
    EXPECT_EQ(fake::ipcSends, sends);
}

TEST_F(LinkTest, ReadsAndWritesReachTheModuleInOneExchange) {
    openOk();
    fake::setU32(0x0100, 0xDEADBEEF);
    fake::setU16(0x0200, 0x1234);
    uint32_t a = 0;
    uint16_t b = 0;
    const uint8_t out[3] = {7, 8, 9};
    LinkError e;
    ASSERT_TRUE(linkRead(0x0100, 4, &a, &e));
    ASSERT_TRUE(linkWrite(0x0300, 3, out, &e));
    ASSERT_TRUE(linkRead(0x0200, 2, &b, &e));
    uint32_t sends = fake::ipcSends;
    ASSERT_TRUE(linkProcess(&e));
    EXPECT_EQ(e, LINK_OK);
    EXPECT_EQ(fake::ipcSends, sends + 1);
    EXPECT_EQ(a, 0xDEADBEEFu);
    EXPECT_EQ(b, 0x1234u);
    EXPECT_EQ(fake::getU8(0x0300), 7);
    EXPECT_EQ(fake::getU8(0x0302), 9);
    // The block is empty again afterwards.
    EXPECT_FALSE(linkProcess(&e));
    EXPECT_EQ(e, LINK_NOTHING_QUEUED);
}

// Capacity counts a 16-byte header for both kinds; the block ends with the zero word.
TEST_F(LinkTest, CapacityEdgesOnBothSides) {
    static std::vector<uint8_t> big(32600, 0x5A);
    struct Case {
        uint32_t taken;      // bytes taken by one write before the 1-byte read
        bool readAccepted;
    } cases[] = {{32495, true}, {32496, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.taken);
        openOk();
        LinkError e;
        ASSERT_TRUE(linkWrite(0x1000, c.taken - 12, big.data(), &e));
        uint8_t byte = 0;
        EXPECT_EQ(linkRead(0x0100, 1, &byte, &e), c.readAccepted);
        EXPECT_EQ(e, c.readAccepted ? LINK_OK : LINK_BLOCK_FULL);
        ASSERT_TRUE(linkProcess(&e));
        ASSERT_EQ(seenBlocks.size(), 1u);
        // A refused record leaves no trace: the end word follows the write directly.
        EXPECT_EQ(seenBlocks[0].size(), c.readAccepted ? 2u : 1u);
        uint32_t end = c.taken + (c.readAccepted ? 17 : 0);
        EXPECT_EQ(readLe32(lastBlock.data() + end), LINK_RECORD_END);
        linkClose();
    }
    openOk();
    LinkError e;
    EXPECT_TRUE(linkWrite(0x0000, 32496, big.data(), &e));
    EXPECT_EQ(e, LINK_OK);
    linkClose();
    openOk();
    EXPECT_FALSE(linkWrite(0x0000, 32497, big.data(), &e));
    EXPECT_EQ(e, LINK_BLOCK_FULL);
    EXPECT_FALSE(linkRead(0x0000, 0xFFFFFFF8u, big.data(), &e));  // must not wrap to "fits"
    EXPECT_EQ(e, LINK_BLOCK_FULL);
}

// Each size copies exactly its bytes, and a block the module answers without touching
// hands back zeros, not what the last exchange left at the same places.
TEST_F(LinkTest, ReadsOfEverySizeLandExactlyAndAnUntouchedBlockReadsZero) {
    openOk();
    for (uint32_t i = 0; i < 64; i++) fake::setU8(0x0100 + i, uint8_t(0x40 + i));
    const uint32_t sizes[] = {1, 2, 3, 4, 5, 8, 9, 16};
    for (bool untouched : {false, true}) {
        SCOPED_TRACE(untouched ? "untouched block" : "processed block");
        if (untouched) fake::setFault(sim::FAULT_RESULT, 1);
        std::vector<std::vector<uint8_t>> buffers;
        for (uint32_t size : sizes) buffers.emplace_back(size + 2, 0xEE);  // a guard each side
        LinkError e;
        for (size_t k = 0; k < buffers.size(); k++)
            ASSERT_TRUE(linkRead(0x0100 + 4 * uint32_t(k), sizes[k], buffers[k].data() + 1, &e));
        ASSERT_TRUE(linkProcess(&e));
        for (size_t k = 0; k < buffers.size(); k++) {
            std::vector<uint8_t> expected(buffers[k].size(), 0xEE);
            for (size_t b = 1; b + 1 < expected.size(); b++)
                expected[b] = untouched ? 0 : uint8_t(0x40 + 4 * k + b - 1);
            EXPECT_EQ(buffers[k], expected) << "size " << sizes[k];
        }
    }
}

TEST_F(LinkTest, ZeroDestinationOrSizeTravelsButCopiesNothing) {
    openOk();
    fake::setU32(0x0100, 0x11223344);
    uint8_t untouched[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t after = 0;
    LinkError e;
    ASSERT_TRUE(linkRead(0x0100, 0, untouched, &e));
    ASSERT_TRUE(linkRead(0x0100, 4, nullptr, &e));
    ASSERT_TRUE(linkRead(0x0100, 4, &after, &e));
    ASSERT_TRUE(linkProcess(&e));
    ASSERT_EQ(seenBlocks[0].size(), 3u);
    EXPECT_EQ(seenBlocks[0][1].destination, 0u);
    EXPECT_EQ(untouched[0], 0xAA);
    EXPECT_EQ(after, 0x11223344u);
}

TEST_F(LinkTest, UnknownRecordTypeEndsTheWalk) {
    openOk();
    fake::setU32(0x0100, 1);
    fake::setU32(0x0104, 2);
    fake::setU32(0x0108, 3);
    uint32_t v[3] = {0, 0, 0};
    LinkError e;
    for (int i = 0; i < 3; i++) ASSERT_TRUE(linkRead(0x0100 + 4 * i, 4, &v[i], &e));
    fake::setFault(sim::FAULT_TYPE, 1);
    // Data came back for the first read only: not an exchange to count as good.
    EXPECT_FALSE(linkProcess(&e));
    EXPECT_EQ(e, LINK_REPLY_DAMAGED);
    EXPECT_EQ(v[0], 1u);
    EXPECT_EQ(v[1], 0u);
    EXPECT_EQ(v[2], 0u);
}

TEST_F(LinkTest, OpenWhileOpenIsAlreadyOpenAndLeavesTheLinkAlone) {
    openOk();
    uint32_t created = fake::ipcMappingsCreated;
    LinkError e;
    EXPECT_FALSE(linkOpen(0, &e));
    EXPECT_EQ(e, LINK_ALREADY_OPEN);
    EXPECT_EQ(fake::ipcMappingsCreated, created);
    uint32_t v = 0;
    ASSERT_TRUE(linkRead(0x3304, 4, &v, &e));
    ASSERT_TRUE(linkProcess(&e));
    EXPECT_EQ(v, sim::DEFAULT_INTERFACE_WORD);
}

TEST_F(LinkTest, EachOpenNamesANewBlockFromProcessIdAndCounter) {
    fake::ipcProcessId = 0xABC;
    fake::installModule("FS98MAIN");
    LinkError e;
    ASSERT_TRUE(linkOpen(0, &e));
    std::string first = fake::ipcLastAtomName;
    linkClose();
    ASSERT_TRUE(linkOpen(0, &e));
    std::string second = fake::ipcLastAtomName;
    const std::string prefix = "FsasmLib:IPC:ABC:";
    ASSERT_EQ(first.compare(0, prefix.size(), prefix), 0) << first;
    ASSERT_EQ(second.compare(0, prefix.size(), prefix), 0) << second;
    unsigned long n1 = std::stoul(first.substr(prefix.size()), nullptr, 16);
    unsigned long n2 = std::stoul(second.substr(prefix.size()), nullptr, 16);
    EXPECT_EQ(n2, n1 + 1);
    EXPECT_EQ(second.find_first_of("abcdef", prefix.size()), std::string::npos);
}

TEST_F(LinkTest, ClientVersionIsWrittenInTheFirstHandshakeBlockOnly) {
    fake::installModule("FS98MAIN");
    fake::setFault(sim::FAULT_HANDSHAKE);
    fake::ipcBlockObserver = recordBlock;
    LinkError e;
    EXPECT_FALSE(linkOpen(0, &e));
    ASSERT_EQ(seenBlocks.size(), 5u);
    ASSERT_EQ(seenBlocks[0].size(), 3u);
    EXPECT_EQ(seenBlocks[0][0].offset, 0x3304u);
    EXPECT_EQ(seenBlocks[0][1].offset, 0x3308u);
    const SeenRecord& w = seenBlocks[0][2];
    EXPECT_EQ(w.type, 2u);
    EXPECT_EQ(w.offset, 0x330Au);
    EXPECT_EQ(w.data, (std::vector<uint8_t>{0xEC, 0x03}));
    for (size_t i = 1; i < 5; i++) {
        ASSERT_EQ(seenBlocks[i].size(), 2u);
        EXPECT_EQ(seenBlocks[i][0].type, 1u);
        EXPECT_EQ(seenBlocks[i][1].type, 1u);
    }
}

// The classes are looked for in a fixed order and the first one found is used; a refused
// handshake is 14 on the simulator's window only.
TEST_F(LinkTest, WindowLookupOrderAndEachClassHandshakeError) {
    struct Case {
        std::vector<const char*> present;
        const char* used;
        uint32_t lookups;
        LinkError refused;
    } cases[] = {
        {{"UIPCMAIN"}, "UIPCMAIN", 1, LINK_HANDSHAKE_FAILED},
        {{"OMBXMAIN"}, "OMBXMAIN", 2, LINK_HANDSHAKE_FAILED},
        {{"FS98MAIN"}, "FS98MAIN", 3, LINK_SIM_WINDOW_HANDSHAKE_FAILED},
        {{"FS98MAIN", "UIPCMAIN"}, "UIPCMAIN", 1, LINK_HANDSHAKE_FAILED},
        {{"FS98MAIN", "OMBXMAIN"}, "OMBXMAIN", 2, LINK_HANDSHAKE_FAILED},
        {{"OMBXMAIN", "FS98MAIN", "UIPCMAIN"}, "UIPCMAIN", 1, LINK_HANDSHAKE_FAILED},
        {{}, "", 3, LINK_NO_INTERFACE_WINDOW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.used);
        for (bool valid : {true, false}) {
            fake::resetIpc();
            for (const char* window : c.present) fake::installModule(window);
            if (!valid) fake::setU32(0x3308, 0x12340009);  // no 0xFADE signature
            LinkError e;
            EXPECT_EQ(linkOpen(0, &e), valid && !c.present.empty());
            EXPECT_EQ(e, valid && !c.present.empty() ? LINK_OK : c.refused);
            EXPECT_STREQ(fake::ipcLastSendClass, c.used);
            EXPECT_EQ(fake::ipcWindowLookups, c.lookups);
            linkClose();
            EXPECT_EQ(fake::ipcMappingsLive + fake::ipcAtomsLive + fake::ipcViewsLive, 0u);
        }
    }
}

TEST_F(LinkTest, HandshakeStopsOnceBothWordsAreNonZero) {
    struct Case {
        const char* name;
        uint32_t interfaceWord, simWord;
        uint32_t exchanges, sleptMs;
        LinkError expected;
    } cases[] = {
        {"zero words ask five times", 0, 0, 5, 500, LINK_SIM_WINDOW_HANDSHAKE_FAILED},
        {"non-zero invalid stops after one", 1, 0x00010009, 1, 100,
         LINK_SIM_WINDOW_HANDSHAKE_FAILED},
        {"valid stops after one", 0x34650000, 0xFADE0009, 1, 100, LINK_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::resetIpc();
        fake::resetTime();
        fake::installModule("FS98MAIN");
        fake::setU32(0x3304, c.interfaceWord);
        fake::setU32(0x3308, c.simWord);
        LinkError e;
        linkOpen(0, &e);
        EXPECT_EQ(e, c.expected);
        EXPECT_EQ(fake::ipcDelivered, c.exchanges);
        EXPECT_EQ(fake::totalSleptMs, c.sleptMs);
        linkClose();
    }
}

TEST_F(LinkTest, SimulatorVersionKeepsItsLowWordAndIsCheckedWhenRequired) {
    fake::installModule("OMBXMAIN");
    fake::setU32(0x3308, 0xFADE0123);
    LinkError e;
    ASSERT_TRUE(linkOpen(0, &e));
    EXPECT_EQ(linkSimulatorVersion(), 0x0123u);
    linkClose();
    EXPECT_TRUE(linkOpen(0x0123, &e));
    linkClose();
    EXPECT_FALSE(linkOpen(0x0124, &e));
    EXPECT_EQ(e, LINK_WRONG_SIMULATOR);
    EXPECT_EQ(fake::ipcMappingsLive, 0u);
}

TEST_F(LinkTest, OpenFailuresReleaseEverythingTheyTook) {
    struct Case {
        const char* name;
        void (*arrange)();
        LinkError expected;
    } cases[] = {
        {"no window", [] {}, LINK_NO_INTERFACE_WINDOW},
        {"message", [] { fake::ipcFail.registerFails = true; }, LINK_MESSAGE_NOT_REGISTERED},
        {"atom", [] { fake::ipcFail.atomFails = true; }, LINK_ATOM_FAILED},
        {"mapping", [] { fake::ipcFail.mappingFails = true; }, LINK_MAPPING_FAILED},
        {"mapping exists", [] { fake::ipcFail.mappingExists = true; }, LINK_MAPPING_FAILED},
        {"view", [] { fake::ipcFail.viewFails = true; }, LINK_VIEW_FAILED},
        {"send times out", [] { fake::ipcFail.sendTimesOut = true; }, LINK_SEND_TIMED_OUT},
        {"send fails", [] { fake::ipcFail.sendError = 5; }, LINK_SEND_FAILED},
        {"answer 2", [] { fake::ipcFail.answer = 2; }, LINK_NOT_PROCESSED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::resetIpc();
        if (std::strcmp(c.name, "no window") != 0) fake::installModule("FS98MAIN");
        c.arrange();
        LinkError e = LINK_OK;
        EXPECT_FALSE(linkOpen(0, &e));
        EXPECT_EQ(e, c.expected);
        EXPECT_EQ(fake::ipcAtomsLive, 0u);
        EXPECT_EQ(fake::ipcMappingsLive, 0u);
        EXPECT_EQ(fake::ipcViewsLive, 0u);
        // The link is really closed: a request says so.
        uint32_t v;
        EXPECT_FALSE(linkRead(0, 4, &v, &e));
        EXPECT_EQ(e, LINK_NOT_OPEN);
    }
}

TEST_F(LinkTest, FailedExchangeRetriesNineTimesAndForgetsTheBatch) {
    struct Case {
        sim::Fault fault;
        uint32_t sendError;
        LinkError expected;
        uint32_t sends;
    } cases[] = {{sim::FAULT_SILENT, 0, LINK_SEND_TIMED_OUT, 9},
                 {sim::FAULT_NONE, 1460, LINK_SEND_FAILED, 9},
                 {sim::FAULT_RESULT, 0, LINK_NOT_PROCESSED, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        fake::resetIpc();
        openOk();
        fake::setU32(0x0100, 42);
        uint32_t v = 7;
        LinkError e;
        ASSERT_TRUE(linkRead(0x0100, 4, &v, &e));
        fake::setFault(c.fault, 0);
        fake::ipcFail.sendError = c.sendError;
        uint32_t sends = fake::ipcSends;
        uint32_t slept = fake::totalSleptMs;
        EXPECT_FALSE(linkProcess(&e));
        EXPECT_EQ(e, c.expected);
        EXPECT_EQ(fake::ipcSends - sends, c.sends);
        if (c.sends == 9) {
            EXPECT_EQ(fake::totalSleptMs - slept, 900u);
        }
        EXPECT_EQ(v, 7u);  // the caller's buffer keeps its old content
        EXPECT_FALSE(linkProcess(&e));
        EXPECT_EQ(e, LINK_NOTHING_QUEUED);
        linkClose();
    }
}

// The module's reply can hold anything; these checks run under AddressSanitizer too, and
// every buffer is heap-allocated at exactly its size so an overrun is caught.
uint32_t tamperValue;
uint32_t tamperField;  // byte offset within the first record's header
void tamperFirstRecord(uint8_t* block, uint32_t) {
    block[tamperField] = uint8_t(tamperValue);
    block[tamperField + 1] = uint8_t(tamperValue >> 8);
    block[tamperField + 2] = uint8_t(tamperValue >> 16);
    block[tamperField + 3] = uint8_t(tamperValue >> 24);
}

TEST_F(LinkTest, AlteredReplyCopiesNothingForTheAlteredRecord) {
    struct Case {
        const char* name;
        sim::Fault fault;
        uint32_t field, value;  // used when fault is FAULT_NONE
        bool secondCopied;
    } cases[] = {
        {"size one larger", sim::FAULT_SIZE, 0, 0, false},
        {"destination of the next read", sim::FAULT_DESTINATION, 0, 0, true},
        {"huge size", sim::FAULT_NONE, 8, 0xFFFFFFF0u, false},
        {"size past the block end", sim::FAULT_NONE, 8, 0x7FF0, false},
        {"destination out of the table", sim::FAULT_NONE, 12, 999, true},
        {"type of a write on a read", sim::FAULT_NONE, 0, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::resetIpc();
        openOk();
        fake::setU32(0x0100, 0x01020304);
        fake::setU32(0x0200, 0x05060708);
        std::vector<uint8_t> first(4, 0xEE), second(4, 0xEE);
        LinkError e;
        ASSERT_TRUE(linkRead(0x0100, 4, first.data(), &e));
        ASSERT_TRUE(linkRead(0x0200, 4, second.data(), &e));
        fake::setFault(c.fault, 0);
        if (c.fault == sim::FAULT_NONE) {
            tamperField = c.field;
            tamperValue = c.value;
            fake::ipcReplyTamper = tamperFirstRecord;
        }
        EXPECT_FALSE(linkProcess(&e));
        EXPECT_EQ(e, LINK_REPLY_DAMAGED);
        EXPECT_EQ(first, std::vector<uint8_t>(4, 0xEE));
        EXPECT_EQ(second, c.secondCopied ? (std::vector<uint8_t>{8, 7, 6, 5})
                                         : std::vector<uint8_t>(4, 0xEE));
        linkClose();
    }
}

// A write between two reads, its header rewritten into the very header the second read
// had: type, size and destination all match, only the place differs.
void disguiseWriteAsRead(uint8_t* block, uint32_t) {
    uint8_t* write = block + LINK_READ_HEADER + 4;
    writeLe32(write + LINK_RECORD_TYPE_AT, LINK_RECORD_READ);
    writeLe32(write + LINK_RECORD_DESTINATION_AT, 2);
}

TEST_F(LinkTest, AWriteDisguisedAsTheNextReadCopiesNothingIntoIt) {
    openOk();
    fake::setU32(0x0100, 0x01020304);
    fake::setU32(0x0200, 0x05060708);
    std::vector<uint8_t> first(4, 0xEE), second(4, 0xEE);
    const uint8_t out[4] = {9, 9, 9, 9};
    LinkError e;
    ASSERT_TRUE(linkRead(0x0100, 4, first.data(), &e));
    ASSERT_TRUE(linkWrite(0x0300, 4, out, &e));
    ASSERT_TRUE(linkRead(0x0200, 4, second.data(), &e));
    fake::ipcReplyTamper = disguiseWriteAsRead;
    EXPECT_FALSE(linkProcess(&e));
    EXPECT_EQ(e, LINK_REPLY_DAMAGED);
    EXPECT_EQ(first, (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(second, std::vector<uint8_t>(4, 0xEE));
}

std::vector<std::string> heardReads;
void hearRead(uint32_t offset, const uint8_t* data, uint32_t size) {
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04X", unsigned(offset));
    for (uint32_t i = 0; i < size && n < 60; i++)
        n += std::snprintf(text + n, sizeof text - n, " %02X", data[i]);
    heardReads.push_back(text);
}

TEST_F(LinkTest, ReadObserverHearsAWholeExchangeAtTheOffsetsAskedFor) {
    struct Case {
        const char* name;
        uint32_t field, value;  // tampered with in the first record's reply; 0: none
        std::vector<std::string> heard;
    } cases[] = {
        {"a plain reply", 0, 0, {"0100 04 03 02 01", "0200 08"}},
        {"the reply names another offset", 4, 0x0300, {"0100 04 03 02 01", "0200 08"}},
        {"the first record's size grew", 8, 5, {}},
        {"the first read's destination moved", 12, 7, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::resetIpc();
        openOk();
        setLinkReadObserver(hearRead);
        heardReads.clear();
        fake::setU32(0x0100, 0x01020304);
        fake::setU8(0x0200, 8);
        uint8_t first[4], second[1];
        const uint8_t one = 1;
        LinkError e;
        ASSERT_TRUE(linkWrite(0x0204, 1, &one, &e));  // writes are not reads
        ASSERT_TRUE(linkRead(0x0100, 4, first, &e));
        ASSERT_TRUE(linkRead(0x0200, 1, second, &e));
        if (c.field) {
            tamperField = LINK_WRITE_HEADER + 1 + c.field;  // behind the write record
            tamperValue = c.value;
            fake::ipcReplyTamper = tamperFirstRecord;
        }
        linkProcess(&e);
        EXPECT_EQ(heardReads, c.heard);
        setLinkReadObserver(nullptr);
        fake::ipcReplyTamper = nullptr;
        linkClose();
    }
}

}  // namespace

namespace {

// A reply whose headers are scrambled at random, many times over: every buffer ends up
// either untouched or holding exactly its own data, never another record's, and nothing
// outside the block or the buffers is touched (AddressSanitizer watches that).
uint32_t scrambleSeed;
std::vector<uint32_t> headerStarts;
uint32_t nextRandom() {
    scrambleSeed = scrambleSeed * 1664525u + 1013904223u;
    return scrambleSeed >> 8;
}
void scrambleReply(uint8_t* block, uint32_t) {
    int changes = 1 + int(nextRandom() % 3);
    for (int i = 0; i < changes; i++) {
        uint32_t at = headerStarts[nextRandom() % headerStarts.size()] + 4 * (nextRandom() % 3);
        if (nextRandom() % 2) at += 4;  // type, offset, size or destination
        uint32_t word = nextRandom() % 2 ? nextRandom() << 8 | nextRandom() : nextRandom() % 40;
        for (int b = 0; b < 4; b++) block[at + b] = uint8_t(word >> (8 * b));
    }
}

TEST_F(LinkTest, RandomlyScrambledRepliesNeverMisdirectData) {
    openOk();
    for (uint32_t i = 0; i < 256; i++) fake::setU8(0x0100 + i, uint8_t(i));
    fake::ipcReplyTamper = scrambleReply;
    scrambleSeed = 12345;
    const uint32_t sizes[] = {4, 4, 2, 4, 2, 4};  // equal sizes, so only position tells them apart
    int copies = 0, skips = 0;
    for (int round = 0; round < 2000; round++) {
        std::vector<std::vector<uint8_t>> buffers;
        for (uint32_t s : sizes) buffers.emplace_back(s, 0xEE);
        LinkError e;
        uint32_t offset = 0x0100, position = 0;
        std::vector<uint32_t> offsets;
        headerStarts.clear();
        for (size_t k = 0; k < buffers.size(); k++) {
            offsets.push_back(offset);
            headerStarts.push_back(position);
            ASSERT_TRUE(linkRead(offset, sizes[k], buffers[k].data(), &e));
            position += 16 + sizes[k];
            if (k == 2) {
                const uint8_t w[2] = {0, 0};
                headerStarts.push_back(position);
                ASSERT_TRUE(linkWrite(0x2000, 2, w, &e));
                position += 14;
            }
            offset += sizes[k];
        }
        // Good only when every read came back as queued.
        const bool good = linkProcess(&e);
        EXPECT_TRUE(good || e == LINK_REPLY_DAMAGED);
        for (size_t k = 0; k < buffers.size(); k++) {
            std::vector<uint8_t> own(sizes[k]);
            for (uint32_t b = 0; b < sizes[k]; b++) own[b] = uint8_t(offsets[k] - 0x0100 + b);
            bool untouched = buffers[k] == std::vector<uint8_t>(sizes[k], 0xEE);
            ASSERT_TRUE(untouched || buffers[k] == own) << "round " << round << " read " << k;
            ASSERT_TRUE(!good || !untouched) << "round " << round << " read " << k;
            (untouched ? skips : copies)++;
        }
    }
    // Both outcomes occur, or the scrambling proved nothing.
    EXPECT_GT(copies, 1000);
    EXPECT_GT(skips, 1000);
}

}  // namespace

namespace {

// Two reads as the scan prepares them once per load: the records and where each lands.
struct PreparedReads {
    uint8_t records[64];
    LinkPendingRead reads[2];
    uint8_t first[4];
    uint8_t second[4];
    LinkBatch batch;

    void build(uint32_t firstOffset, uint32_t secondOffset, uint32_t edition) {
        const uint32_t second_at = writeReadRecord(records, firstOffset, 4, 1);
        const uint32_t end = second_at + writeReadRecord(records + second_at, secondOffset, 4, 2);
        reads[0] = LinkPendingRead{first, 0, 4};
        reads[1] = LinkPendingRead{second, second_at, 4};
        batch = LinkBatch{records, end, reads, 2, edition};
    }
    // The block as the module got it last, up to the batch's end, is the batch as built.
    bool blockWasTheBatch() const {
        return lastBlock.size() >= batch.bytes &&
               std::memcmp(lastBlock.data(), records, batch.bytes) == 0;
    }
};

void moveFirstOffset(uint8_t* block, uint32_t) { writeLe32(block + LINK_RECORD_OFFSET_AT, 0x0300); }

}  // namespace

// A prepared batch goes out as built and its data lands where it was told. Its reply is
// zeroed again as it is copied, so the next exchange of the same batch finds it in the
// block as built; a header the module changed, a request queued between, or a new
// edition of the records puts the batch in afresh.
TEST_F(LinkTest, PreparedBatchGoesOutAsBuiltEveryTime) {
    openOk();
    PreparedReads p;
    p.build(0x0100, 0x0200, 1);
    LinkError e;
    for (uint32_t n = 1; n <= 3; ++n) {
        fake::setU32(0x0100, n);
        fake::setU32(0x0200, 0x100 + n);
        if (n == 3) fake::ipcReplyTamper = moveFirstOffset;  // offsets are not checked
        ASSERT_TRUE(linkSendBatch(p.batch, &e)) << n;
        fake::ipcReplyTamper = nullptr;
        EXPECT_TRUE(p.blockWasTheBatch()) << n;
        EXPECT_EQ(readLe32(p.first), n);
        EXPECT_EQ(readLe32(p.second), 0x100 + n);
    }
    ASSERT_TRUE(linkSendBatch(p.batch, &e));
    EXPECT_TRUE(p.blockWasTheBatch()) << "the moved offset went out again";

    uint32_t other = 0;
    ASSERT_TRUE(linkRead(0x0400, 4, &other, &e));
    EXPECT_FALSE(linkSendBatch(p.batch, &e));  // never behind what is queued
    EXPECT_EQ(e, LINK_BLOCK_FULL);
    ASSERT_TRUE(linkProcess(&e));
    ASSERT_TRUE(linkSendBatch(p.batch, &e));
    EXPECT_TRUE(p.blockWasTheBatch()) << "after another exchange";

    p.build(0x0200, 0x0100, 2);  // the same place, other records
    ASSERT_TRUE(linkSendBatch(p.batch, &e));
    EXPECT_TRUE(p.blockWasTheBatch()) << "a new edition";
    EXPECT_EQ(readLe32(p.first), 0x103u);

    const LinkBatch empty{p.records, 0, p.reads, 0, 3};
    EXPECT_FALSE(linkSendBatch(empty, &e));
    EXPECT_EQ(e, LINK_NOTHING_QUEUED);
    const LinkBatch huge{p.records, LINK_BLOCK_CAPACITY + 1, p.reads, 2, 4};
    EXPECT_FALSE(linkSendBatch(huge, &e));
    EXPECT_EQ(e, LINK_BLOCK_FULL);
    linkClose();
    EXPECT_FALSE(linkSendBatch(p.batch, &e));
    EXPECT_EQ(e, LINK_NOT_OPEN);
}
