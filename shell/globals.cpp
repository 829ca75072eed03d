// Process-wide settings that every subsystem reads; the shell fills them at start-up.
#include "shell/shell.h"

char iniPath[INI_PATH_SIZE] = "";
uint32_t scanPeriod = 220;
uint32_t revisionPeriod = 2500;
