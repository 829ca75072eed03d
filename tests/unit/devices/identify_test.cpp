// Identify mode's texts: each display's label cut to what fits, the serial in its place
// every other phase (its last characters on seven segments, moving along a text display
// too narrow for it), and the section that drives each unit.
#include <map>
#include <string>
#include <tuple>

#include "test_support.h"

namespace {

TEST(IdentifyText, LabelsTakeTheWidestFormThatFits) {
    const struct {
        int32_t type;
        int section;
        uint16_t display;
        const char* label;
    } cases[] = {
        {DEV_GF166, 1, 0, "1 D0"},      {DEV_GF166, -1, 1, "- D1"},  // driven by no section
        {DEV_GFMCP, 2, 0, "2D0"},       {DEV_GFMCP, 12, 1, "D1"},
        {DEV_GFMCP, 12, 3, "12 D3"},    {DEV_GFATC, 3, 0, "3"},
        {DEV_GFMCPPRO, 0, 1, "0 D1"},   {DEV_GF45, 0, 0, "0 D0"},
        {DEV_GF166, 0, 2, ""},          {DEV_GFP8, 0, 0, ""},       {DEV_GFLGT2, 0, 0, ""},
    };
    for (const auto& c : cases) {
        char label[32] = "unchanged";
        identifyLabel(c.type, c.section, c.display, label, sizeof label);
        EXPECT_STREQ(label, c.label) << deviceTypeName(c.type) << " D" << c.display;
    }
}

TEST(IdentifyText, SerialsShowTheirEndOnSegmentsAndMoveAlongANarrowText) {
    const struct {
        int32_t type;
        uint16_t display;
        const char* serial;
        uint32_t elapsedMs;
        const char* shown;
    } cases[] = {
        {DEV_GF166, 0, "GF1660042", 0, "660042"},
        {DEV_GFMCP, 0, "GF1660042", 0, "042"},
        {DEV_GFATC, 0, "GF1660042", 0, "2"},
        {DEV_GF45, 1, "GF-45 00.42", 0, "50042"},  // only letters and digits take a place
        {DEV_GF166, 1, "42", 0, "42"},
        {DEV_GF45, 0, "AB12", 0, "AB12"},          // fits: shown whole, still
        {DEV_GFMCPPRO, 0, "AB", 5000, "AB"},
        // Too wide: it rests at its start, moves a character per step, rests at its end.
        {DEV_GF45, 0, "GF1660042", 0, "GF16"},
        {DEV_GF45, 0, "GF1660042", 799, "GF16"},
        {DEV_GF45, 0, "GF1660042", 800, "F166"},
        {DEV_GF45, 0, "GF1660042", 2000, "6004"},
        {DEV_GF45, 0, "GF1660042", 2400, "0042"},
        {DEV_GF45, 0, "GF1660042", 2800, "0042"},
        {DEV_GF45, 0, "GF1660042", 3200, "GF16"},
        {DEV_GFMCPPRO, 1, "SERIAL", 800, "ERIAL"},
        {DEV_GF166, 0, "", 0, ""},
        {DEV_GFP8, 0, "GF1660042", 0, ""},  // no display
    };
    for (const auto& c : cases) {
        char shown[32] = "unchanged";
        identifySerial(c.type, c.serial, c.display, c.elapsedMs, shown, sizeof shown);
        EXPECT_STREQ(shown, c.shown) << deviceTypeName(c.type) << " D" << c.display << " "
                                     << c.serial << " at " << c.elapsedMs;
    }
    char small[3];
    identifySerial(DEV_GF166, "GF1660042", 0, 0, small, sizeof small);
    EXPECT_STREQ(small, "66");  // cut to the room given, terminated
}

// What each display of each unit was last sent, by the output observer.
std::map<std::tuple<int32_t, int, int>, std::string> shownTexts;
void noteLights(int32_t, uint8_t, uint32_t) {}
void noteBrightness(int32_t, uint8_t, int32_t) {}
void noteDisplay(int32_t type, uint8_t unit, uint16_t display, const char* text,
                 const uint8_t*) {
    shownTexts[{type, unit, display}] = text;
}
const OutputObserver observer{noteLights, noteBrightness, noteDisplay};

std::string shown(int32_t type, int unit, int display) {
    std::string text = shownTexts[{type, unit, display}];
    return text.erase(0, text.find_first_not_of(' '));
}

int swapped(int32_t type, uint8_t unit) { return type == DEV_GF166 ? 1 - unit : unit; }

class Identify : public BoundLibrary {
protected:
    void TearDown() override {
        setOutputObserver(nullptr);
        BoundLibrary::TearDown();
    }
    void bindWithUnits(bool serials) {
        unbindDeviceLibrary();
        fake::installFakeLibrary();
        if (!serials) fake::withholdEntryPoint("GFDev_GetDeviceInfo2");
        fake::setFakeUnits(DEV_GF166, 2);
        fake::setFakeUnits(DEV_GF45, 1);
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        shownTexts.clear();
        setOutputObserver(&observer);
    }
};

TEST_F(Identify, LabelsThenSerialsPhaseByPhaseWithEachUnitsSection) {
    bindWithUnits(true);
    identifyUnits(0, swapped);
    EXPECT_EQ(shown(DEV_GF166, 0, 0), "1 D0");  // unit 0 is driven by [GF166.1]
    EXPECT_EQ(shown(DEV_GF166, 1, 1), "0 D1");
    EXPECT_EQ(shown(DEV_GF45, 0, 0), "0 D0");
    EXPECT_EQ(fake::fakeIndicators(DEV_GF166, 1), 0x07u);

    identifyUnits(IDENTIFY_PHASE_MS, swapped);  // the fake's serials: GF1660001, ...
    EXPECT_EQ(shown(DEV_GF166, 0, 0), "660001");
    EXPECT_EQ(shown(DEV_GF166, 1, 1), "660002");
    EXPECT_EQ(shown(DEV_GF45, 0, 0), "GF45");
    EXPECT_EQ(shown(DEV_GF45, 0, 1), "50001");
    identifyUnits(IDENTIFY_PHASE_MS + 2 * IDENTIFY_SCROLL_MS, swapped);
    EXPECT_EQ(shown(DEV_GF45, 0, 0), "F450");

    identifyUnits(2 * IDENTIFY_PHASE_MS, nullptr);  // labels again; by number without sections
    EXPECT_EQ(shown(DEV_GF166, 0, 0), "0 D0");

    // An older library tells no serials: the labels stay.
    bindWithUnits(false);
    identifyUnits(IDENTIFY_PHASE_MS, nullptr);
    EXPECT_EQ(shown(DEV_GF166, 1, 0), "1 D0");
}

}  // namespace
