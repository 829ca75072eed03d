// Client of the simulator interface protocol: requests are queued as records in a
// named shared-memory block and carried out by the interface module in one exchange.
// Also the supervision tick that keeps the link open and refuses old interfaces.
#pragma once

#include <cstdint>

#include "link/protocol.h"

enum LinkError : uint32_t {
    LINK_OK = 0,
    LINK_ALREADY_OPEN = 1,
    LINK_NO_INTERFACE_WINDOW = 2,
    LINK_MESSAGE_NOT_REGISTERED = 3,
    LINK_ATOM_FAILED = 4,
    LINK_MAPPING_FAILED = 5,
    LINK_VIEW_FAILED = 6,
    LINK_HANDSHAKE_FAILED = 7,
    LINK_WRONG_SIMULATOR = 8,
    LINK_NOT_OPEN = 9,
    LINK_NOTHING_QUEUED = 10,
    LINK_SEND_TIMED_OUT = 11,
    LINK_SEND_FAILED = 12,
    LINK_NOT_PROCESSED = 13,
    LINK_SIM_WINDOW_HANDSHAKE_FAILED = 14,
    LINK_BLOCK_FULL = 15,
    LINK_REPLY_DAMAGED = 16,  // the reply's records are not the ones queued
    LINK_GIVEN_UP = 17,       // a blocked exchange was abandoned: the program is stopping
};

bool linkOpen(uint32_t requiredSimVersion, LinkError* error);
void linkClose();
bool linkRead(uint32_t offset, uint32_t size, void* destination, LinkError* error);
bool linkWrite(uint32_t offset, uint32_t size, const void* source, LinkError* error);
bool linkProcess(LinkError* error);

// Whether the last exchange failed because the system refused to deliver our message
// for want of rights: the module runs with higher rights than this program (as
// administrator, say). Cleared by the next exchange that is sent.
bool linkSendRefused();

// Called between the tries of an exchange that gets no answer, which can block for
// seconds: the layers above keep their watchdog going there. Returning false gives the
// exchange up (LINK_GIVEN_UP). nullptr: no hook.
void setLinkWaitHook(bool (*stillWaiting)());

// Where a queued read's data goes. The record's destination word holds the entry's index
// + 1, never an address: the module could rewrite the field, and a 64-bit address does
// not fit. `position` (where the record starts in the block) and `size` are what we
// queued, so a changed reply cannot redirect or lengthen a copy.
struct LinkPendingRead {
    void* buffer;  // never null
    uint32_t position;
    uint32_t size;
};

// The walk over a reply: copies each read's data from `block` (LINK_BLOCK_SIZE bytes,
// written by another process) to its entry of `reads` (`readCount` entries). True when
// the walk reached the end mark and every queued read came back: only then is the
// exchange a good one. A record of no known type ends the walk and is marked as the
// block's end. linkProcess runs it on every answered exchange; it stands alone so that
// the tests can feed it any block.
bool linkCopyReplies(uint8_t* block, const LinkPendingRead* reads, uint32_t readCount);
// Told of every read of an exchange that came back whole, once its data has reached the
// caller's buffer: for a tool that records what a scan read (norvalume-watch). nullptr:
// nobody is told (the program).
typedef void (*LinkReadObserver)(uint32_t offset, const uint8_t* data, uint32_t size);
void setLinkReadObserver(LinkReadObserver observer);

// Reads prepared once and sent as often as wanted (the scan's plan): the records as they
// go into the block, back to back, and where each read's data goes. The destination word
// of the k-th read record holds k + 1, and reads[k] gives that record's place and size,
// as writeReadRecord lays them out; the link relies on them as linkRead relies on its
// destination, while it trusts nothing the module sends back.
struct LinkBatch {
    const uint8_t* records;
    uint32_t bytes;  // at most LINK_BLOCK_CAPACITY
    const LinkPendingRead* reads;
    uint32_t readCount;
    // Differs for every set of records the caller builds, even at the same address.
    uint32_t edition;
};
// Puts `batch` into the empty block and has the module carry it out: one copy of the
// records, one exchange, and the reply checked and copied as linkProcess does. While a
// reply comes back whole with every header as built, the data areas are zeroed again as
// they are copied, and the next exchange of the same batch (records and edition) needs
// no copy. Refused with LINK_BLOCK_FULL when something is queued already or the batch
// exceeds the block, and with LINK_NOTHING_QUEUED for an empty batch; nothing is sent
// then.
bool linkSendBatch(const LinkBatch& batch, LinkError* error);

// Handshake words of the last open attempt: cleared when an attempt starts, and after a
// successful open the simulator word keeps only its version (the low 16 bits).
uint32_t linkInterfaceVersion();
uint32_t linkSimulatorVersion();

// Supervision: the link's state, owned here. Whoever finds the link failed calls
// linkDrop; the next supervision tick opens it again.
struct LinkStatus {
    bool connected;
    bool versionTooOld;  // the last open found an interface module older than 3.465
    bool accessDenied;   // the last open failed because the module refused us for rights
};
const LinkStatus& linkStatus();
void linkSupervisionTick();
void linkDrop();
// Closes the link if open and forgets its state; for shutdown, tests and tools.
void resetLinkStatus();

// The interface module encodes its version at 0x3304 as four hexadecimal digits in the
// high word (3.465 is 0x3465) and a build letter in the low word.
constexpr uint32_t MIN_INTERFACE_VERSION_WORD = 0x34650000;
bool interfaceVersionAccepted(uint32_t interfaceWord);
