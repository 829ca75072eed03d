// What a panel's face shows the user, for the drawings and key tables of the settings
// guide: the legend of each display, and the legend, colour and place of lamps whose
// legend the panel fixes. Kept apart from the model table, which says what the program
// drives; a model without an entry here is drawn from the table alone (lamps by bit).
#pragma once

#include <cstdint>

#include "devices/models.h"

enum LampColour : uint8_t { LAMP_PLAIN, LAMP_GREEN, LAMP_RED };

struct FaceLamp {
    uint8_t bit;         // the light key L<bit>
    const char* legend;  // what the panel writes beside it
    uint8_t column;      // place in a grid of lamp slots, from the top left
    uint8_t row;
    LampColour colour;
};

struct PanelFace {
    int32_t code;
    // One legend per display key D0.., nullptr past the model's displays; all nullptr
    // when the guide knows no legends for the model.
    const char* displayLegend[MAX_DISPLAYS];
    // Every lamp of the model, or nullptr when their legends depend on the panel.
    const FaceLamp* lamps;
    int lampCount;
};

// The face of a model code, nullptr when the guide knows nothing beyond the model table.
const PanelFace* findPanelFace(int32_t code);

// Every face, for the test that holds them to the model table.
extern const PanelFace panelFaces[];
extern const int panelFaceCount;
