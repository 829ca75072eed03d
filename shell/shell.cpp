// Placeholder until the shell lands.
#include "shell/shell.h"

int runNorvalume() { return 0; }
