// The simulator interface module as a plain state record: a 64 KiB offset space, the
// handshake words, the processing of one request block and the command language.
// No OS calls here, so the unit tests run the same module in-process that
// norvalume-sim serves to other processes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/protocol.h"

namespace sim {

constexpr uint32_t SPACE_SIZE = 0x10000;

// Interface 3.470, no build letter; the simulator's own version in the low word.
constexpr uint32_t DEFAULT_INTERFACE_WORD = 0x34700000;
constexpr uint16_t DEFAULT_SIM_VERSION = 0x000A;
// What `fault old` reports unless told otherwise: one step below the accepted minimum.
constexpr uint32_t DEFAULT_OLD_INTERFACE_WORD = 0x34640000;

enum Fault : uint32_t {
    FAULT_NONE = 0,
    FAULT_SILENT,       // never answers the message
    FAULT_RESULT,       // answers `faultArg` (default 0) instead of 1, block untouched
    // These three process the block and then alter one header of the reply, as a broken
    // module might; `faultArg` counts records from 0 (reads only, for the destination).
    FAULT_TYPE,         // the record's type becomes 7
    FAULT_SIZE,         // its size grows by one
    FAULT_DESTINATION,  // its destination grows by one
    FAULT_HANDSHAKE,    // 0x3304..0x330B read as zero
    FAULT_OLD,          // 0x3304 reads `faultArg` (default DEFAULT_OLD_INTERFACE_WORD)
};

struct BlockStop {
    bool stopped;
    uint32_t position;  // byte position of the record in the block
    uint32_t type;
};

struct SimModule {
    uint8_t space[SPACE_SIZE];
    Fault fault;
    uint32_t faultArg;
    uint32_t exchanges;            // blocks handed to processBlock, answered or not
    uint32_t clientVersionWrites;  // writes that reached 0x330A
    uint16_t clientVersion;        // last value written there
    // Where the last block's walk stopped short of its end word: at a record of a type
    // the module does not know, or one that runs past the block's end. The records
    // before it were carried out and the block is answered as usual; the front end
    // reports it, so a harness sees a malformed block.
    BlockStop lastStop;
};

// Zeroes everything and puts the handshake words in place.
void resetModule(SimModule* m, uint32_t interfaceWord = DEFAULT_INTERFACE_WORD,
                 uint16_t simVersion = DEFAULT_SIM_VERSION);

// Reads and writes the offset space as a block does (faults and the 0x330A diversion
// apply). Bytes past the end of the space read as zero and are dropped on write.
void readSpace(const SimModule* m, uint32_t offset, uint8_t* out, uint32_t size);
void writeSpace(SimModule* m, uint32_t offset, const uint8_t* data, uint32_t size);

// Carries out the records of `block` (`blockSize` bytes) in order up to the zero word,
// never touching anything outside the block: reads of either width (types 1 and 4) and
// writes (type 2). Returns false when the module does not
// answer at all (FAULT_SILENT); otherwise true with the message result in *result.
bool processBlock(SimModule* m, uint8_t* block, uint32_t blockSize, uint32_t* result);

enum CommandKind { COMMAND_DONE, COMMAND_WAIT, COMMAND_QUIT, COMMAND_ERROR };
struct CommandResult {
    CommandKind kind;
    uint32_t waitMs;     // for COMMAND_WAIT
    char message[96];    // for COMMAND_ERROR
};

// Receives each line of output (without its newline), e.g. the lines of `dump`.
typedef void (*PrintLine)(const char* line);

// Runs one command line: set, wait, dump, fault, quit; blank lines and lines starting
// with '#' do nothing. `print` may be null when no output is wanted.
CommandResult runCommand(SimModule* m, const char* line, PrintLine print);

// One line on the walk's stop (no newline), e.g. for standard error; "" when it did not.
void describeStop(const BlockStop& stop, char* out, size_t size);

// The command language as `norvalume-sim --help` explains it, with the offsets the
// program reads besides a settings file's own and an example script whose every command
// line runs as written.
extern const char COMMAND_HELP[];

// Maps a fault name of the command language ("silent", "none", ...) to its code.
bool faultFromName(const char* name, Fault* fault);

// How long a script's `wait ms` lasts when the script plays at `speed` (2: twice as
// fast), to the nearest millisecond. `speed` must be above 0.
uint32_t scaledWaitMs(uint32_t ms, double speed);

}  // namespace sim
