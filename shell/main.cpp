// Process entry: everything happens in runNorvalume.
#include "shell/shell.h"

int main() { return runNorvalume(); }
