// norvalume-keys: prints every panel model's keys as the model table and the faces give
// them, one tab-separated record a line, for scripts/panel-docs, which draws the panels
// and writes the key tables of the settings guide from it. A developer's tool.
#include <cstdio>
#include <cstring>

#include "devices/faces.h"
#include "devices/models.h"
#include "tools/common/common.h"

namespace {

// The loader reads the light keys L0 to L23; a bit above them has no key.
constexpr int LIGHT_KEYS = 24;

const char* const USAGE =
    "usage: norvalume-keys\n"
    "       norvalume-keys --help | --version\n"
    "Prints, for every panel model in code order:\n"
    "  model    NAME CODE counted|uncounted brightness|-\n"
    "  display  INDEX segments|numeric|text|alpha WIDTH LEGEND\n"
    "  lamp     BIT COLUMN ROW plain|green|red LEGEND\n"
    "  end\n"
    "fields separated by tabs; '-' where the faces give no place or legend.\n";

const char* formName(DisplayForm form) {
    switch (form) {
    case FORM_SEGMENTS: return "segments";
    case FORM_NUMERIC: return "numeric";
    case FORM_TEXT: return "text";
    case FORM_ALPHA: return "alpha";
    }
    return "?";
}

const char* colourName(LampColour colour) {
    switch (colour) {
    case LAMP_PLAIN: return "plain";
    case LAMP_GREEN: return "green";
    case LAMP_RED: return "red";
    }
    return "?";
}

const FaceLamp* faceLamp(const PanelFace* face, int bit) {
    if (!face || !face->lamps) return nullptr;
    for (int i = 0; i < face->lampCount; ++i)
        if (face->lamps[i].bit == bit) return &face->lamps[i];
    return nullptr;
}

void printModel(const DeviceType& model) {
    const PanelFace* face = findPanelFace(model.code);
    std::printf("model\t%s\t%d\t%s\t%s\n", model.sectionName, int(model.code),
                model.count ? "counted" : "uncounted", model.brightness ? "brightness" : "-");
    for (int d = 0; d < model.displays; ++d) {
        const char* legend = face ? face->displayLegend[d] : nullptr;
        std::printf("display\t%d\t%s\t%d\t%s\n", d, formName(model.display[d].form),
                    int(model.display[d].width), legend ? legend : "-");
    }
    // The lamps are the bits the program may light; the faces only name and place them.
    for (int bit = 0; bit < LIGHT_KEYS; ++bit) {
        if (!(model.indicatorWriteMask >> bit & 1u)) continue;
        if (const FaceLamp* lamp = faceLamp(face, bit))
            std::printf("lamp\t%d\t%d\t%d\t%s\t%s\n", bit, int(lamp->column), int(lamp->row),
                        colourName(lamp->colour), lamp->legend);
        else
            std::printf("lamp\t%d\t-\t-\tplain\t-\n", bit);
    }
    std::printf("end\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && tools::answerInfoOption(argv[1], "norvalume-keys", USAGE)) return 0;
    if (argc != 1) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    for (const DeviceType& model : deviceTypes) printModel(model);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
