// Placeholder until the line grammar lands.
#include "config/line_parser.h"

int parseItemLine(int32_t, int32_t, uint8_t, uint16_t, uint8_t, char*, uint16_t, uint16_t) {
    return 0;
}
