// Adding, deleting and re-filing sensors: the two runs of the device tables (in-use by
// number, found by serial) must stay ordered and aligned across all six tables, and a
// sensor's history must survive a change of folder. No network is started here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "acq/sensor_editing.h"
#include "app/app_core.h"
#include "db/wifi_sensor_db.h"
#include "support/station_files.h"
#include "support/temp_dir.h"

namespace hygro {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class SensorRuns : public ::testing::Test {
  protected:
    void SetUp() override { Db().InitAllDB(); }
    CWiFiSensorDatabase& Db() { return m_app.Database(); }

    // In-use sensors with these numbers (serials 100, 101, ...), then found sensors with
    // these serials; every row carries its serial in all six tables' worth of columns.
    void Build(const std::vector<int>& numbers, const std::vector<int>& foundSerials) {
        int serial = 100;
        for (int number : numbers) {
            const int i = m_app.AddDev(Address(serial), serial);
            Db().GetTableDB()->GetRow(i)->SetValue(Db().GetTableDB(), "No.", number);
            Db().GetDevDB()->GetRow(i)->SetValue(Db().GetDevDB(), "Name", "in" + std::to_string(number));
            ++Db().m_totalCount;
            ++Db().m_realCount;
            ++serial;
        }
        for (int s : foundSerials) {
            m_app.AddDev(Address(s), s);
            ++Db().m_totalCount;
        }
    }
    // The serial's low byte as the last octet, so Net rows can be matched to Dev rows.
    static std::uint32_t Address(int serial) { return static_cast<std::uint32_t>(serial) << 24 | 0x0012C6u; }
    void SetSerial(int row, int serial) {
        Db().GetDevDB()->GetRow(row)->SetValue(Db().GetDevDB(), "Serial", serial);
        Db().GetNetDB()->GetRow(row)->SetValue(Db().GetNetDB(), "RemoteIP", static_cast<int>(Address(serial)));
    }
    std::vector<int> Column(CTable_WiFiSensorDB* t, const char* column, int from, int to) {
        std::vector<int> v;
        for (int i = from; i < to; ++i)
            v.push_back(CellValue<int>(t, i, column));
        return v;
    }
    std::vector<int> FoundSerials() {
        return Column(Db().GetDevDB(), "Serial", Db().m_realCount, Db().m_totalCount);
    }
    std::vector<int> Numbers() { return Column(Db().GetTableDB(), "No.", 0, Db().m_realCount); }
    // Every table has one row per counted sensor, and the Net row belongs to the Dev row.
    void ExpectAligned() {
        for (CTable_WiFiSensorDB* t : {Db().GetDevDB(), Db().GetPicDB(), Db().GetLumoDB(), Db().GetNetDB(),
                                       Db().GetTableDB(), Db().GetTreeDB()})
            EXPECT_EQ(t->GetRowCount(), Db().m_totalCount);
        for (int i = 0; i < Db().m_totalCount; ++i) {
            const int serial = CellValue<int>(Db().GetDevDB(), i, "Serial");
            EXPECT_EQ(static_cast<std::uint32_t>(CellValue<int>(Db().GetNetDB(), i, "RemoteIP")) >> 24,
                      static_cast<std::uint32_t>(serial) & 0xFF)
                << "row " << i;
        }
    }

    CAppForNimbo1App m_app;
};

TEST_F(SensorRuns, CandidateNumbers) {
    struct Case {
        std::vector<int> inUse;
        int count;
        std::vector<int> expected;
    } cases[] = {
        {{}, 2, {1, 2}},
        {{}, 0, {1}},
        {{1, 2, 5}, 2, {3, 4, 6, 7}},
        {{1, 2, 3}, 1, {4}},
        {{4}, 3, {1, 2, 3, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        Db().ClearAllMem();
        Db().InitAllDB();
        Db().m_totalCount = Db().m_realCount = 0;
        Build(c.inUse, {});
        EXPECT_THAT(GetANotUsingNo(Db(), c.count), ElementsAreArray(c.expected)) << c.inUse.size();
    }
}

TEST_F(SensorRuns, InsertionIndexByNumber) {
    struct Case {
        std::vector<int> inUse;
        int number;
        int expected;
    } cases[] = {
        {{}, 7, 0}, {{1, 3, 5}, 4, 2}, {{1, 3, 5}, 1, 0}, {{1, 3, 5}, 6, 3}, {{1, 3, 5}, 3, 1},
    };
    for (const Case& c : cases) {
        Db().ClearAllMem();
        Db().InitAllDB();
        Db().m_totalCount = Db().m_realCount = 0;
        Build(c.inUse, {50});
        EXPECT_EQ(GetAddDevIndex(Db(), c.number), c.expected) << c.number;
    }
}

TEST_F(SensorRuns, PlacingTwoOfThreeThenCancellingReturnsTheThirdInSerialOrder) {
    Build({1, 3}, {3, 5, 7, 9});
    PendingSensors pending;
    // Chosen out of order, with an in-use index and a duplicate that must be ignored.
    EXPECT_EQ(pending.Take(Db(), {5, 2, 0, 4, 5}), 3); // serials 3, 7, 9
    EXPECT_EQ(Db().m_totalCount, 3);
    EXPECT_THAT(FoundSerials(), ElementsAre(5));
    EXPECT_EQ(pending.Serial(0), 3);
    EXPECT_EQ(pending.Serial(2), 9);

    PlacedSensorValues v;
    v.name = "Cold room";
    v.folder = "COLD";
    v.number = 2;
    v.x = 0.25;
    v.y = 0.75;
    v.r = 10, v.g = 20, v.b = 30;
    EXPECT_EQ(pending.Place(Db(), 1, v), 1); // serial 7 between numbers 1 and 3
    EXPECT_EQ(CellValue<int>(Db().GetDevDB(), 1, "Serial"), 7);
    EXPECT_EQ(CellValue<std::string>(Db().GetDevDB(), 1, "Name"), "Cold room");
    EXPECT_EQ(CellValue<std::string>(Db().GetDevDB(), 1, "Folder"), "COLD");
    EXPECT_EQ(CellValue<int>(Db().GetDevDB(), 1, "OnPic"), 1);
    EXPECT_EQ(CellValue<int>(Db().GetLumoDB(), 1, "ColorG"), 20);
    EXPECT_EQ(CellValue<int>(Db().GetLumoDB(), 1, "Show"), 1);
    EXPECT_DOUBLE_EQ(CellValue<double>(Db().GetPicDB(), 1, "PosY"), 0.75);
    v.number = 9;
    v.name = "Lab";
    EXPECT_EQ(pending.Place(Db(), 0, v), 3); // serial 3 last in the in-use run
    EXPECT_THAT(Numbers(), ElementsAre(1, 2, 3, 9));
    EXPECT_EQ(pending.Count(), 1);
    EXPECT_EQ(Db().m_realCount, 4);

    pending.ReturnAll(m_app);
    EXPECT_TRUE(pending.Empty());
    EXPECT_EQ(Db().m_totalCount, 6);
    EXPECT_THAT(FoundSerials(), ElementsAre(5, 9));
    ExpectAligned();
}

TEST_F(SensorRuns, PlacingAnUnknownPositionChangesNothing) {
    Build({1}, {3});
    PendingSensors pending;
    EXPECT_EQ(pending.Take(Db(), {1}), 1);
    EXPECT_EQ(pending.Place(Db(), 1, {}), -1);
    EXPECT_EQ(pending.Place(Db(), -1, {}), -1);
    EXPECT_EQ(Db().m_totalCount, 1);
    EXPECT_EQ(pending.Count(), 1);
}

TEST_F(SensorRuns, LongNamesAreCutAtACharacterBoundary) {
    Build({}, {3});
    PendingSensors pending;
    pending.Take(Db(), {0});
    PlacedSensorValues v;
    v.name = std::string(98, 'a') + "\xC3\xA9"; // 'é' would straddle byte 99
    v.folder = "F";
    pending.Place(Db(), 0, v);
    EXPECT_EQ(CellValue<std::string>(Db().GetDevDB(), 0, "Name"), std::string(98, 'a'));
}

TEST_F(SensorRuns, DeletedSensorGoesBetweenTheFoundSerials) {
    Build({1, 2}, {3, 200});
    // Serial of the second in-use sensor is 101: it must land between 3 and 200.
    Db().GetLumoDB()->GetRow(1)->SetValue(Db().GetLumoDB(), "ColorR", 77);
    EXPECT_EQ(DeleteDevice(m_app, 1), 2);
    EXPECT_EQ(Db().m_realCount, 1);
    EXPECT_EQ(Db().m_totalCount, 4);
    EXPECT_THAT(FoundSerials(), ElementsAre(3, 101, 200));
    EXPECT_EQ(CellValue<std::string>(Db().GetDevDB(), 2, "Name"), "in2");
    EXPECT_EQ(CellValue<int>(Db().GetLumoDB(), 2, "ColorR"), 77);
    ExpectAligned();
    EXPECT_EQ(DeleteDevice(m_app, 1), -1) << "a found sensor is not deleted again";
}

TEST_F(SensorRuns, DeletedSensorWithTheLargestSerialGoesLast) {
    Build({1, 2}, {3, 9});
    SetSerial(0, 7);
    EXPECT_EQ(DeleteDevice(m_app, 0), 2);
    EXPECT_THAT(FoundSerials(), ElementsAre(3, 7, 9));
    SetSerial(0, 500);
    EXPECT_EQ(DeleteDevice(m_app, 0), 3);
    EXPECT_THAT(FoundSerials(), ElementsAre(3, 7, 9, 500));
    ExpectAligned();
}

TEST_F(SensorRuns, RemovingAFoundSensorLeavesTheInUseRunAlone) {
    Build({1, 2}, {3, 9});
    DeleteFoundSensor(m_app, 1); // in use: refused
    EXPECT_EQ(Db().m_totalCount, 4);
    DeleteFoundSensor(m_app, 2);
    EXPECT_EQ(Db().m_totalCount, 3);
    EXPECT_EQ(Db().m_realCount, 2);
    EXPECT_THAT(FoundSerials(), ElementsAre(9));
    ExpectAligned();
    DeleteFoundSensor(m_app, 3); // past the end
    EXPECT_EQ(Db().m_totalCount, 3);
}

class SensorFolderMove : public ::testing::Test {
  protected:
    std::filesystem::path Data() const { return m_dir.path(); }
    test::TempDir m_dir;
};

TEST_F(SensorFolderMove, HistoryMovesWhole) {
    std::filesystem::create_directories(Data() / "abc" / "2026" / "12");
    test::WriteFile(Data() / "abc" / "2026" / "12" / "Avg.cvs", "x");
    test::WriteFile(Data() / "abc" / "Alarm.txt", "Count=00000\r\n");
    ASSERT_TRUE(MoveSensorFolder(Data(), "abc", "NEW"));
    EXPECT_FALSE(std::filesystem::exists(Data() / "abc"));
    EXPECT_EQ(test::ReadFile(Data() / "NEW" / "2026" / "12" / "Avg.cvs"), "x");
    EXPECT_EQ(test::ReadFile(Data() / "NEW" / "Alarm.txt"), "Count=00000\r\n");
}

TEST_F(SensorFolderMove, ASensorWithoutFolderGetsAnEmptyOneAndNothingElseIsTouched) {
    std::filesystem::create_directories(Data() / "other");
    test::WriteFile(Data() / "other" / "f", "keep");
    ASSERT_TRUE(MoveSensorFolder(Data(), "", "X"));
    EXPECT_TRUE(std::filesystem::is_directory(Data() / "X"));
    EXPECT_TRUE(std::filesystem::is_empty(Data() / "X"));
    EXPECT_EQ(test::ReadFile(Data() / "other" / "f"), "keep");
}

TEST_F(SensorFolderMove, IntoAnExistingFolderMergesAndKeepsTheOldOneWhenTheCopyFails) {
    std::filesystem::create_directories(Data() / "abc");
    std::filesystem::create_directories(Data() / "NEW");
    test::WriteFile(Data() / "abc" / "h.cvs", "reading");
    ASSERT_TRUE(MoveSensorFolder(Data(), "abc", "NEW"));
    EXPECT_EQ(test::ReadFile(Data() / "NEW" / "h.cvs"), "reading");
    EXPECT_FALSE(std::filesystem::exists(Data() / "abc"));

    // Something that cannot be copied: the history stays where it was.
    std::filesystem::create_directories(Data() / "def");
    test::WriteFile(Data() / "def" / "h.cvs", "kept");
    ASSERT_EQ(::mkfifo((Data() / "def" / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(MoveSensorFolder(Data(), "def", "NEW"));
    EXPECT_EQ(test::ReadFile(Data() / "def" / "h.cvs"), "kept");
}

} // namespace
} // namespace hygro
