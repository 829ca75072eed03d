// The faces of the panel models as the settings guide draws them. Only what is known of
// the panels goes here; a lamp whose legend the user chooses (the push buttons of the
// GFP8, the lamps beside an autopilot's keys) is left to be drawn by its bit.
#include "devices/faces.h"

namespace {

// The gear panel: the nose pair above, the left and right pairs below, as in the cockpit.
const FaceLamp gearLamps[] = {
    {7, "nose green", 2, 0, LAMP_GREEN}, {6, "nose red", 3, 0, LAMP_RED},
    {3, "left green", 0, 1, LAMP_GREEN}, {2, "left red", 1, 1, LAMP_RED},
    {5, "right green", 4, 1, LAMP_GREEN}, {4, "right red", 5, 1, LAMP_RED},
};

// The GF-LGT II: the same lamps in the same places, on other bits.
const FaceLamp gear2Lamps[] = {
    {4, "nose green", 2, 0, LAMP_GREEN}, {5, "nose red", 3, 0, LAMP_RED},
    {6, "left green", 0, 1, LAMP_GREEN}, {7, "left red", 1, 1, LAMP_RED},
    {2, "right green", 4, 1, LAMP_GREEN}, {3, "right red", 5, 1, LAMP_RED},
};

}  // namespace

const PanelFace panelFaces[] = {
    {DEV_GF45, {"alphanumeric display", "numeric display"}, nullptr, 0},
    {DEV_GFLGT, {}, gearLamps, int(sizeof gearLamps / sizeof gearLamps[0])},
    {DEV_GF166, {"left display", "right display"}, nullptr, 0},
    {DEV_GFMCP, {"course", "speed", "heading", "altitude", "vertical speed"}, nullptr, 0},
    {DEV_GF46, {"alphanumeric display", "numeric display"}, nullptr, 0},
    {DEV_GFATC, {"digit"}, nullptr, 0},
    {DEV_GFLGT2, {}, gear2Lamps, int(sizeof gear2Lamps / sizeof gear2Lamps[0])},
    {DEV_GFMCPPRO,
     {"course (left)", "speed", "heading", "altitude", "vertical speed", "course (right)"},
     nullptr, 0},
};
const int panelFaceCount = int(sizeof panelFaces / sizeof panelFaces[0]);

const PanelFace* findPanelFace(int32_t code) {
    for (const PanelFace& face : panelFaces)
        if (face.code == code) return &face;
    return nullptr;
}
