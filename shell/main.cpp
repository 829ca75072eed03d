// Process entry: everything happens in runFromCommandLine.
#include "shell/shell.h"

int main(int argc, char** argv) { return runFromCommandLine(argc, argv); }
