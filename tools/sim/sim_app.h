// norvalume-sim, the program around the emulated module: its options, the one module it
// serves, and the command runner shared by the Linux and the Windows front ends.
#pragma once

#include <string>
#include <vector>

#include "tools/sim/simcore.h"

struct SimOptions {
    std::string windowClass = LINK_SIM_WINDOW_CLASS;
    std::vector<std::string> scriptLines;  // the --script file, read at start
    bool loop = false;    // the script starts over at its end, standard input runs beside it
    double speed = 1.0;   // the script's waits last 1/speed of their time
};

extern sim::SimModule simModule;

// Runs one command line (newline already stripped) on simModule. Dump lines go to
// stdout, errors to stderr, both flushed at once so a test sees them in time.
sim::CommandResult runSimLine(const std::string& line);

// Carries out one block (LINK_BLOCK_SIZE bytes) on simModule, as sim::processBlock does,
// and says on stderr where a malformed block's walk stopped. Called with the module held.
bool serveBlock(uint8_t* block, uint32_t* result);

// The platform's serving loop: answers the message on a window of options.windowClass,
// runs the script and then standard input. Returns the exit code.
int serveSim(const SimOptions& options);
