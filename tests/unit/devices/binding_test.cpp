// Finding, initialising and releasing the panel library, the callback registration and
// the unit counts.
#include <cstring>

#include "config/items.h"
#include "config/loader.h"
#include "fake_platform/fake_loop.h"
#include "test_support.h"

namespace {

const char APP_PATHS[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\GFConfig.exe";

class Binding : public ::testing::Test {
protected:
    void SetUp() override { fake::installFakeLibrary(); }
    void TearDown() override {
        unbindDeviceLibrary();
        fake::removeFakeLibrary();
    }
    static bool allCountsZero() {
        for (int32_t code = 0; code < DEVICE_COUNT_SLOTS; ++code)
            if (deviceCount(code) || deviceCounts()[code]) return false;
        return true;
    }
};

TEST_F(Binding, FallsBackToTheConfigurationProgramsFolder) {
    fake::setFakeLibraryPath("D:\\GoFlight\\GFDEV.DLL");
    const char value[] = "D:\\GoFlight";  // with its terminator, as the registry stores it
    fake::setFakeRegistryValue(APP_PATHS, "Path", value, sizeof value);
    EXPECT_TRUE(bindDeviceLibrary(nullptr));
    ASSERT_EQ(fake::dlLoadAttempts.size(), 2u);
    EXPECT_EQ(fake::dlLoadAttempts[0], "GFDEV.DLL");
    EXPECT_EQ(fake::dlLoadAttempts[1], "D:\\GoFlight\\GFDEV.DLL");
}

TEST_F(Binding, RegistryValueFillingTheWholeBufferUnterminatedStillMakesAPath) {
    std::string dir(260, 'x');
    fake::setFakeLibraryPath((dir + "\\GFDEV.DLL").c_str());
    fake::setFakeRegistryValue(APP_PATHS, "Path", dir.data(), 260);
    EXPECT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_EQ(fake::dlLoadAttempts.back(), dir + "\\GFDEV.DLL");
}

TEST_F(Binding, KeyWithoutPathValueFailsWithNothingBound) {
    fake::setFakeLibraryPath("D:\\GoFlight\\GFDEV.DLL");
    fake::setFakeRegistryValue(APP_PATHS, nullptr, nullptr, 0);
    fake::setFakeRegistryValue(APP_PATHS, "Other", "D:\\GoFlight", 12);
    EXPECT_FALSE(bindDeviceLibrary(nullptr));
    EXPECT_EQ(fake::dlLoadAttempts.size(), 1u);
    EXPECT_EQ(fake::registryReads.size(), 1u);
    EXPECT_EQ(fake::dlLogText(), "");
}

TEST_F(Binding, InitRefusedOrRequiredEntryMissingReleasesTheLibrary) {
    struct Case {
        const char* withheld;
        int initResult;
        LibraryFailure failure;
    } cases[] = {{nullptr, 1, LIBRARY_INIT_FAILED},
                 {"GFDev_Init", 0, LIBRARY_LACKS_ENTRY_POINT},
                 {"GFDev_Terminate", 0, LIBRARY_LACKS_ENTRY_POINT}};
    for (const Case& c : cases) {
        fake::installFakeLibrary();
        fake::setFakeUnits(DEV_GFMCP, 2);
        fake::setFakeInitResult(c.initResult);
        if (c.withheld) fake::withholdEntryPoint(c.withheld);
        EXPECT_FALSE(bindDeviceLibrary(nullptr));
        EXPECT_EQ(fake::dlFreeCount, 1);
        EXPECT_TRUE(allCountsZero());
        EXPECT_EQ(fake::registeredCallback(), nullptr);
        EXPECT_EQ(fake::dlLogText(), c.initResult ? "GFDev_Init" : "");
        EXPECT_EQ(libraryFailure(), c.failure);
        unbindDeviceLibrary();  // nothing left to release
        EXPECT_EQ(fake::dlFreeCount, 1);
    }
}

// A copy for the other bitness is found but cannot load: that is not "not found", by name
// or through the registry, unless a later attempt finds nothing at all.
TEST_F(Binding, FailureToLoadSaysWhetherACopyOfTheOtherBitnessWasFound) {
    const char value[] = "D:\\GoFlight";
    struct Case {
        const char* otherBitness;  // where the copy of the other bitness lies
        bool registry;
        LibraryFailure failure;
    } cases[] = {
        {nullptr, true, LIBRARY_NOT_FOUND},
        {"GFDEV.DLL", false, LIBRARY_OTHER_BITNESS},
        {"GFDEV.DLL", true, LIBRARY_OTHER_BITNESS},
        {"D:\\GoFlight\\GFDEV.DLL", true, LIBRARY_OTHER_BITNESS},
    };
    for (const Case& c : cases) {
        fake::removeFakeLibrary();
        if (c.otherBitness) fake::otherBitnessPath = c.otherBitness;
        if (c.registry) fake::setFakeRegistryValue(APP_PATHS, "Path", value, sizeof value);
        EXPECT_FALSE(bindDeviceLibrary(nullptr));
        EXPECT_EQ(libraryFailure(), c.failure) << (c.otherBitness ? c.otherBitness : "none");
        EXPECT_EQ(fake::dlLoadAttempts.size(), c.registry ? 2u : 1u);
    }
    fake::installFakeLibrary();
    EXPECT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_EQ(libraryFailure(), LIBRARY_BOUND);
}

TEST_F(Binding, WithoutRegisterEntryExitNeverUnregisters) {
    fake::withholdEntryPoint("GFDev_RegisterConnectCallback");
    EXPECT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_FALSE(connectCallbackRefused());
    fake::clearDlLog();
    unbindDeviceLibrary();
    EXPECT_EQ(fake::dlLogText(), "GFDev_Terminate");
}

TEST_F(Binding, RefusedCallbackIsReportedAndStillUnregisteredAtExit) {
    fake::setFakeRegisterResult(0);
    EXPECT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_TRUE(connectCallbackRefused());
    fake::clearDlLog();
    unbindDeviceLibrary();
    EXPECT_EQ(fake::dlLogText(), "GFDev_UnregisterConnectCallback\nGFDev_Terminate");
}

TEST_F(Binding, CountsTakeLow16BitsCappedAtAddressableUnits) {
    fake::setFakeUnits(DEV_GF166, 0x10003);
    fake::setFakeUnits(DEV_GFP8, 0xFFFF);
    fake::setFakeUnits(DEV_GFT8, 256);
    fake::setFakeUnits(DEV_GFTQ6, 4);
    fake::setFakeUnits(DEV_GFLGT2, 0x20004);
    fake::setFakeUnits(DEV_GFEFIS, 4);
    fake::dlLogEnabled = false;  // the units' identities are another test's business
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    fake::dlLogEnabled = true;
    EXPECT_EQ(deviceCount(DEV_GF166), 3);
    EXPECT_EQ(deviceCount(DEV_GFP8), 256);
    EXPECT_EQ(deviceCount(DEV_GFT8), 256);
    EXPECT_EQ(deviceCount(DEV_GFTQ6), 0);
    EXPECT_EQ(deviceCount(DEV_GFLGT2), 4);
    EXPECT_EQ(deviceCount(DEV_GFEFIS), 0);
    EXPECT_EQ(deviceCount(0), 0);
    EXPECT_EQ(deviceCount(DEVICE_COUNT_SLOTS), 0);  // no model there: no slot is read
    EXPECT_EQ(deviceCount(DEV_CONDITION), 0);
    // The models are asked in a fixed order, once each; the models without a count entry
    // point of their own never, whatever the library exports.
    fake::clearDlLog();
    fake::setFakeUnits(DEV_GFP8, 0);
    fake::setFakeUnits(DEV_GFT8, 0);
    countDevices();
    EXPECT_EQ(fake::dlLogText(),
              "GF45_GetNumDevices\n"
              "GF46_GetNumDevices\nGFP8_GetNumDevices\nGFT8_GetNumDevices\n"
              "GFRP48_GetNumDevices\nGFLGT_GetNumDevices\nGF166_GetNumDevices\n"
              "GFMCP_GetNumDevices\nGFMCPPro_GetNumDevices\nGFATC_GetNumDevices\n"
              "GFLGT2_GetNumDevices\n"
              "GFDev_GetDeviceInfo2 5 0\nGFDev_GetDeviceInfo2 5 1\nGFDev_GetDeviceInfo2 5 2\n"
              "GFDev_GetDeviceInfo2 11 0\nGFDev_GetDeviceInfo2 11 1\n"
              "GFDev_GetDeviceInfo2 11 2\nGFDev_GetDeviceInfo2 11 3");
}

// What the library writes into the record is not trusted: a field without its zero is
// cut to what the program keeps, blanks around it go, and a control character cannot
// reach the settings file's report as a line break.
TEST_F(Binding, UnitIdentitiesAreBoundedTerminatedAndCleanWhateverTheLibraryWrites) {
    auto record = [](const std::string& location, const std::string& serial) {
        GfDeviceInfo2 info;
        std::memset(&info, 0, sizeof info);
        std::memcpy(info.szLocationID, location.data(), location.size());
        std::memcpy(info.szSerialNum, serial.data(), serial.size());
        return std::string(reinterpret_cast<const char*>(&info), sizeof info);
    };
    const struct Case {
        std::string bytes;
        int result;
        const char* serial;
        const char* location;
    } cases[] = {
        {record("1-4.2", "GF1660042"), 0, "GF1660042", "1-4.2"},
        {record("", "  GF1660042 "), 0, "GF1660042", ""},
        {record("1-4\r\n[x]", "A\nB\x7F"), 0, "A?B?", "1-4??[x]"},
        {record("1-4.2", "GF1660042"), 3, "", ""},  // the call failed: nothing is taken
        {record(std::string(260, 'L'), std::string(65, 'S')), 0, nullptr, nullptr},
        {std::string(sizeof(GfDeviceInfo2), '\xFF'), 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        fake::installFakeLibrary();
        fake::setFakeUnits(DEV_GF166, 2);
        fake::setFakeDeviceInfo(DEV_GF166, 1, c.bytes, c.result);
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        ASSERT_TRUE(serialsAvailable());
        const UnitIdentity* id = unitIdentity(DEV_GF166, 1);
        ASSERT_NE(id, nullptr);
        const std::string serial = id->serial, location = id->location;
        EXPECT_EQ(std::strlen(id->serial), serial.size());
        if (c.serial) {
            EXPECT_EQ(serial, c.serial);
            EXPECT_EQ(location, c.location);
        } else {  // filled to the brim: as much as the program keeps, and terminated
            EXPECT_EQ(serial.size(), sizeof id->serial - 1);
            EXPECT_EQ(location.size(), sizeof id->location - 1);
            EXPECT_EQ(serial.find_first_not_of(c.bytes[2] == 'L' ? "S" : "\xFF"),
                      std::string::npos);
        }
        EXPECT_STREQ(unitIdentity(DEV_GF166, 0)->serial, "GF1660001");  // its own answer
        EXPECT_EQ(unitIdentity(DEV_GF166, 2), nullptr);  // not counted
        EXPECT_EQ(unitIdentity(DEV_GFMCP, 0), nullptr);
        EXPECT_EQ(unitIdentity(0, 0), nullptr);
        unbindDeviceLibrary();
    }

    // An older library tells no serials: nothing is asked, and no unit has an identity.
    fake::installFakeLibrary();
    fake::setFakeUnits(DEV_GF166, 2);
    fake::withholdEntryPoint("GFDev_GetDeviceInfo2");
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_FALSE(serialsAvailable());
    EXPECT_EQ(unitIdentity(DEV_GF166, 0), nullptr);
    EXPECT_EQ(fake::dlLogText().find("GetDeviceInfo2"), std::string::npos);
}

int pluggedCalls = 0;
void onPlugged() { ++pluggedCalls; }

TEST_F(Binding, CallbackAnswersAtOnceAndHandsRecountAndReloadToTheLoop) {
    fake::resetLoop();
    static const platform::WindowHandlers handlers = {nullptr, nullptr, nullptr};
    ASSERT_TRUE(platform::registerMainClass("NORVALUME", &handlers));
    pluggedCalls = 0;
    ASSERT_TRUE(bindDeviceLibrary(onPlugged));
    fake::FakeConnectCallback cb = fake::registeredCallback();
    ASSERT_NE(cb, nullptr);
    fake::setFakeUnits(DEV_GFMCP, 1);
    fake::clearDlLog();
    EXPECT_EQ(cb(DEV_GFMCP, 0, 1), 1);
    EXPECT_EQ(cb(DEV_GFMCP, 0, 1), 1);  // a burst queues one recount
    EXPECT_EQ(deviceCount(DEV_GFMCP), 0);
    EXPECT_EQ(fake::dlLogText(), "");
    ASSERT_EQ(fake::posted.size(), 1u);

    fake::drainPosted();
    EXPECT_EQ(deviceCount(DEV_GFMCP), 1);
    EXPECT_EQ(pluggedCalls, 1);  // after the recount: the reload

    fake::postFails = true;  // a refused post must not block later ones
    EXPECT_EQ(cb(DEV_GFMCP, 0, 2), 1);
    fake::postFails = false;
    EXPECT_EQ(cb(DEV_GFMCP, 0, 2), 1);
    EXPECT_EQ(fake::posted.size(), 1u);
    fake::resetLoop();
}

TEST_F(Binding, ExitBlanksThenUnregistersTerminatesAndFrees) {
    ASSERT_TRUE(bindDeviceLibrary(nullptr));
    EXPECT_TRUE(deviceLibraryBound());
    setBrightness(5, DEV_GF45, 0);
    fake::clearDlLog();
    unbindDeviceLibrary();
    EXPECT_EQ(fake::dlLogText(),
              "GF45_SetBrightness 0 8\nGFDev_UnregisterConnectCallback\nGFDev_Terminate");
    EXPECT_EQ(fake::dlFreeCount, 1);
    EXPECT_EQ(fake::dlLogLinesAtFree, 3u);
    EXPECT_FALSE(deviceLibraryBound());
    unbindDeviceLibrary();  // a second release is harmless
    EXPECT_EQ(fake::dlFreeCount, 1);
}

TEST(DeviceTypeTable, SectionNamesAgreeWithTheItemCodes) {
    int n = 0;
    for (const DeviceType& t : deviceTypes) {
        EXPECT_EQ(t.code, ++n);
        EXPECT_STREQ(t.sectionName, deviceTypeName(t.code));
        EXPECT_EQ(findDeviceTypeByName(t.sectionName, std::strlen(t.sectionName)), &t);
    }
    EXPECT_EQ(findDeviceTypeByName("gfmcppro", 8), findDeviceType(DEV_GFMCPPRO));
    EXPECT_EQ(findDeviceTypeByName("GFMCP", 4), nullptr);
    EXPECT_EQ(deviceDisplayCount(DEV_GFMCPPRO), 6);
    EXPECT_EQ(deviceDisplayCount(DEV_GFMCP), 5);
    EXPECT_EQ(deviceDisplayCount(0), 0);
}

// The stand-in libraries serve each listed entry point as the row that names it says.
TEST(DeviceTypeTable, EntryPointsMapToTheModelAndDisplayTheirRowGivesThem) {
    auto is = [](EntryPointUse use, int32_t model, int display) {
        return use.model == model && use.display == display;
    };
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GF45_SetAlpha), DEV_GF45, 0));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GF45_SetNumeric), DEV_GF45, 1));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GF46_SetNumericSegments), DEV_GF46, 1));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFMCPPro_SetFDisplayText), DEV_GFMCPPRO, 5));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFMCP_SetEDisplaySegments), DEV_GFMCP, 4));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFMCPPro_SetIndicators), DEV_GFMCPPRO, -1));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFRP48_GetIndicators), DEV_GFRP48, -1));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFATC_GetNumDevices), DEV_GFATC, -1));
    EXPECT_TRUE(is(entryPointUse(&DeviceLibrary::GFDev_UnregisterConnectCallback), 0, -1));
}

}  // namespace
