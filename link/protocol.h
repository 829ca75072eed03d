// The wire facts of the simulator interface protocol: the message and window names, the
// request block's size and record layout, and the handshake words. The link client and
// the module emulator both build on this one header, so the two cannot drift apart; it
// holds no OS includes, so the emulator's core and the tests can take it as it is.
#pragma once

#include <cstdint>
#include <cstring>

// The registered window message that hands a block over; the block's own name starts
// with it too.
inline constexpr char LINK_MESSAGE_NAME[] = "FsasmLib:IPC";

// The top-level window classes that answer the message, in the order the client looks
// for them. The module always answers on its own window, UIPCMAIN, wherever it runs.
// OMBXMAIN is the name earlier versions of this program looked for instead; it is still
// looked for second, so a setup that answers there keeps working. FS98MAIN is the
// simulator's main window, which answers when the module runs inside the simulator, and
// which the module's network client simulates on a second PC; a handshake refused there
// gets an error of its own, since on a second PC it means that the simulator is not
// running on the server.
inline constexpr char LINK_MODULE_WINDOW_CLASS[] = "UIPCMAIN";
inline constexpr char LINK_INTERFACE_WINDOW_CLASS[] = "OMBXMAIN";
inline constexpr char LINK_SIM_WINDOW_CLASS[] = "FS98MAIN";
inline constexpr const char* LINK_WINDOW_CLASSES[] = {
    LINK_MODULE_WINDOW_CLASS, LINK_INTERFACE_WINDOW_CLASS, LINK_SIM_WINDOW_CLASS};
constexpr int LINK_WINDOW_CLASS_COUNT =
    int(sizeof LINK_WINDOW_CLASSES / sizeof LINK_WINDOW_CLASSES[0]);

// Shared-memory layout of the request block.
constexpr uint32_t LINK_BLOCK_SIZE = 0x8000;
constexpr uint32_t LINK_BLOCK_CAPACITY = 0x7F00;  // records never reach the last 0x100 bytes

// A block is a run of records ended by a zero type word. Every record starts with its
// type, the offset and the size of its data, all little-endian 32-bit words; a read has
// a fourth word that the module hands back untouched, and its data follows the header.
constexpr uint32_t LINK_RECORD_END = 0;
constexpr uint32_t LINK_RECORD_READ = 1;
constexpr uint32_t LINK_RECORD_WRITE = 2;
constexpr uint32_t LINK_RECORD_TYPE_AT = 0;
constexpr uint32_t LINK_RECORD_OFFSET_AT = 4;
constexpr uint32_t LINK_RECORD_SIZE_AT = 8;
constexpr uint32_t LINK_RECORD_DESTINATION_AT = 12;  // reads only
constexpr uint32_t LINK_READ_HEADER = 16;
constexpr uint32_t LINK_WRITE_HEADER = 12;

// The header size of a record of `type` that our client sends (1 or 2), or 0 for any
// other type: the client's walk over a reply ends there.
constexpr uint32_t linkRecordHeader(uint32_t type) {
    return type == LINK_RECORD_READ ? LINK_READ_HEADER
           : type == LINK_RECORD_WRITE ? LINK_WRITE_HEADER
                                       : 0;
}

// The read of 64-bit clients of the module's own SDK: a packed 20-byte header whose
// destination is 8 bytes wide (the client's pointer), handed back untouched like the
// 4-byte one; the data follows the header. The module serves it beside types 1 and 2;
// our client never sends it, and a reply holding one is a damaged reply.
constexpr uint32_t LINK_RECORD_READ64 = 4;
constexpr uint32_t LINK_READ64_HEADER = 20;
constexpr uint32_t LINK_READ64_DESTINATION_SIZE = 8;

// The header size of a record of `type` as the module carries it out (1, 2 or 4), or 0:
// there the module's walk ends.
constexpr uint32_t linkServedRecordHeader(uint32_t type) {
    return type == LINK_RECORD_READ64 ? LINK_READ64_HEADER : linkRecordHeader(type);
}

// Handshake words in the module's offset space. The client reads the first two and
// writes its own version into the third, which lies inside the second word's span.
constexpr uint32_t LINK_OFFSET_INTERFACE_VERSION = 0x3304;
constexpr uint32_t LINK_OFFSET_SIM_VERSION = 0x3308;
constexpr uint32_t LINK_OFFSET_CLIENT_VERSION = 0x330A;
// A working module's interface word is at least this; anything lower is no handshake.
constexpr uint32_t LINK_VALID_INTERFACE_WORD = 0x19980005;
// The high half of the simulator word; the low half is the simulator's version.
constexpr uint32_t LINK_SIM_SIGNATURE = 0xFADE;

// Little-endian words at any byte position: the block's records are not aligned, and the
// module's byte order is fixed whatever the host's.
inline uint16_t readLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void writeLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void writeLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Writes the header of a read record at `at`; its data area is the caller's to zero.
inline void writeReadHeader(uint8_t* at, uint32_t offset, uint32_t size, uint32_t destination) {
    writeLe32(at + LINK_RECORD_TYPE_AT, LINK_RECORD_READ);
    writeLe32(at + LINK_RECORD_OFFSET_AT, offset);
    writeLe32(at + LINK_RECORD_SIZE_AT, size);
    writeLe32(at + LINK_RECORD_DESTINATION_AT, destination);
}

// Writes a read record at `at`: its header, and its data area zeroed as the module
// expects it. Returns the bytes it takes. The caller has checked that they fit.
inline uint32_t writeReadRecord(uint8_t* at, uint32_t offset, uint32_t size,
                                uint32_t destination) {
    writeReadHeader(at, offset, size, destination);
    for (uint32_t i = 0; i < size; ++i) at[LINK_READ_HEADER + i] = 0;
    return LINK_READ_HEADER + size;
}

// A read's data from or into the block. Most reads are of 1, 2, 4 or 8 bytes; those copy
// without a call.
inline void copyReadData(void* to, const uint8_t* from, uint32_t size) {
    switch (size) {
        case 1: std::memcpy(to, from, 1); break;
        case 2: std::memcpy(to, from, 2); break;
        case 4: std::memcpy(to, from, 4); break;
        case 8: std::memcpy(to, from, 8); break;
        default: std::memcpy(to, from, size); break;
    }
}
