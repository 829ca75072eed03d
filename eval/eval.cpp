// Placeholder until evaluation lands.
#include "eval/eval.h"

SimStatus simStatus = {};
bool scanBusy = false;

void scanTick() {}
int evaluateItem(int32_t) { return 0; }
int conditionTrue(uint8_t, int32_t) { return 0; }
void blankItem(int32_t) {}
const char* buildDisplayText(int32_t, int* mode) { *mode = 0; return ""; }
