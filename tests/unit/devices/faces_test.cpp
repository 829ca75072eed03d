// The faces the settings guide draws must fit the model table: a legend for each display
// the model has and none beyond, and, where the lamps are placed by hand, exactly the
// bits the program may light, each once and each in a slot of its own.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "devices/faces.h"

namespace {

TEST(Faces, EachNamesAModelOnce) {
    std::set<int32_t> seen;
    for (int i = 0; i < panelFaceCount; ++i) {
        const PanelFace& face = panelFaces[i];
        EXPECT_NE(findDeviceType(face.code), nullptr) << "code " << face.code;
        EXPECT_TRUE(seen.insert(face.code).second) << "two faces for code " << face.code;
        EXPECT_EQ(findPanelFace(face.code), &face);
    }
    EXPECT_EQ(findPanelFace(0), nullptr);
    EXPECT_EQ(findPanelFace(DEVICE_TYPE_COUNT + 1), nullptr);
}

TEST(Faces, DisplayLegendsCoverExactlyTheModelsDisplays) {
    for (int i = 0; i < panelFaceCount; ++i) {
        const PanelFace& face = panelFaces[i];
        const DeviceType* model = findDeviceType(face.code);
        if (!model) continue;
        bool any = false;
        for (int d = 0; d < MAX_DISPLAYS; ++d) any = any || face.displayLegend[d];
        if (!any) continue;
        for (int d = 0; d < MAX_DISPLAYS; ++d)
            EXPECT_EQ(face.displayLegend[d] != nullptr, d < model->displays)
                << model->sectionName << " D" << d;
    }
}

TEST(Faces, PlacedLampsAreExactlyTheBitsTheProgramMayLight) {
    for (int i = 0; i < panelFaceCount; ++i) {
        const PanelFace& face = panelFaces[i];
        const DeviceType* model = findDeviceType(face.code);
        if (!model || !face.lamps) continue;
        uint32_t bits = 0;
        std::set<std::pair<int, int>> slots;
        for (int l = 0; l < face.lampCount; ++l) {
            const FaceLamp& lamp = face.lamps[l];
            ASSERT_LT(lamp.bit, 24) << model->sectionName;  // keys end at L23
            EXPECT_FALSE(bits >> lamp.bit & 1u) << model->sectionName << " L" << int(lamp.bit);
            bits |= 1u << lamp.bit;
            EXPECT_TRUE(slots.insert({lamp.column, lamp.row}).second)
                << model->sectionName << " L" << int(lamp.bit) << " shares its place";
            EXPECT_NE(lamp.legend, nullptr);
        }
        EXPECT_EQ(bits, model->indicatorWriteMask) << model->sectionName;
    }
}

}  // namespace
