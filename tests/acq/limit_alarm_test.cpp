// A stored reading outside a sensor's limits raises its alarm: Table "Alarm" 2, a record
// in Alarm.txt, the views told; the operator's visit to the alarm list acknowledges or
// clears it; limits typed by the operator are checked. No network is started here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "acq/acquisition.h"
#include "acq/alarm_file.h"
#include "acq/sensor_alarms.h"
#include "db/db_lock.h"
#include "db/wifi_sensor_db.h"
#include "app/app_core.h"
#include "settings/profile_file.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace hygro {
namespace {

class RecordingEvents : public AcquisitionEvents {
  public:
    void AlarmRaised(int index) override { raised.push_back(index); }
    int SendAlarmMail(int index, const SystemTime&, double, double) override {
        mailed.push_back(index);
        return 1;
    }
    std::vector<int> raised, mailed;
};

class LimitAlarm : public ::testing::Test {
  protected:
    void SetUp() override {
        ProfileFile doc = test::ColdRoomSettings();
        doc.SetString(u"AlarmMail", u"SmtpServer", u"mail.example.org");
        test::WriteSealedSettings(m_dir.path(), doc);
        ASSERT_EQ(m_app.InitGlobalValue(m_dir.path()), 1);
        m_app.Database().InitAllDB();
        m_app.AddValueToDB();
        SystemTime t;
        t.wYear = 2026, t.wMonth = 12, t.wDay = 10, t.wHour = 9, t.wMinute = 5, t.wSecond = 7;
        m_acq.SetPollTime(t);
    }
    int Alarm() {
        int v = -1;
        m_app.Database().GetTableDB()->GetRow(0)->GetValue("Alarm", v);
        return v;
    }
    std::string AlarmFile() {
        return test::ReadFile(m_app.Settings().GetDataPath() / "cold" / "Alarm.txt");
    }
    CWiFiSensorDatabase& Db() { return m_app.Database(); }
    // An out-of-limits reading stored with the given poll time.
    void Breach(const SystemTime& poll) {
        m_acq.SetPollTime(poll);
        m_acq.SaveWiFiSensorData(0, "01 +85.0,+09.0\r\n", 16);
    }
    static std::string Record(const SystemTime& t) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +85.0,+09.0\r\n", t.wYear, t.wMonth, t.wDay,
                      t.wHour, t.wMinute, t.wSecond);
        return buf;
    }
    static std::string Head(int n) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "Count=%05d\r\n", n);
        return buf;
    }

    test::TempDir m_dir;
    CAppForNimbo1App m_app;
    RecordingEvents m_events;
    CAcquisition m_acq{m_app, &m_events};
};

TEST_F(LimitAlarm, OnlyReadingsBeyondALimitRaiseAnAlarm) {
    m_acq.SaveWiFiSensorData(0, "01 +80.0,+08.0\r\n", 16); // equal to a limit: no alarm
    m_acq.SaveWiFiSensorData(0, "01 +99.9,+04.0\r\n", 16); // invalid humidity is left out
    EXPECT_EQ(Alarm(), 0);
    EXPECT_TRUE(m_events.raised.empty());
    EXPECT_EQ(AlarmFile(), "");

    m_acq.SaveWiFiSensorData(0, "01 +85.0,+08.1\r\n", 16);
    EXPECT_EQ(Alarm(), 2);
    EXPECT_THAT(m_events.raised, ::testing::ElementsAre(0));
    EXPECT_THAT(m_events.mailed, ::testing::ElementsAre(0));
    EXPECT_EQ(AlarmFile(), "Count=00001\r\n2026-12-10 09:05:07 +85.0,+08.1\r\n");

    // It repeats every cycle while the reading stays out.
    m_acq.SaveWiFiSensorData(0, "01 +55.0,+05.0\r\n", 16);
    EXPECT_EQ(AlarmFile().substr(0, 13), "Count=00002\r\n");
}

bool SameTime(const SystemTime& a, const SystemTime& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

TEST_F(LimitAlarm, AlarmListOutcome) {
    const SystemTime t0 = test::At(2026, 12, 10, 10, 0, 0), t1 = test::At(2026, 12, 10, 10, 0, 10),
                     t2 = test::At(2026, 12, 10, 10, 0, 20), late = test::At(2026, 12, 10, 10, 0, 30);
    struct Case {
        const char* name;
        SystemTime listed; // newest record the list showed (year 0: it showed none)
        bool cleared;
        bool recordDuringList; // a reading of 10:00:30 arrives while the list is open
        std::string file;
        int state;
        SystemTime seen, clear;
    };
    const std::string all = Record(t0) + Record(t1) + Record(t2);
    const Case cases[] = {
        {"acknowledge", t2, false, false, Head(3) + all, 1, t2, {}},
        {"acknowledge, newer record arrived", t2, false, true, Head(4) + all + Record(late), 2, t2, {}},
        {"clear everything listed", t2, true, false, "Count=00000\r\n", 0, t2, t2},
        {"clear, newer record arrived", t2, true, true, Head(1) + Record(late), 2, t2, t2},
        {"nothing listed, clear pressed", {}, true, false, Head(3) + all, 2, {}, {}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(m_app.Settings().GetDataPath() / "cold" / "Alarm.txt");
        SetSeenTime(Db(), 0, {});
        SetClearTime(Db(), 0, {});
        Breach(t0);
        Breach(t1);
        Breach(t2);
        if (c.recordDuringList) Breach(late);
        const int state = ApplyAlarmListOutcome(Db(), m_app.Settings().GetDataPath(), 0, {c.listed, c.cleared});
        EXPECT_EQ(state, c.state) << c.name;
        EXPECT_EQ(Alarm(), c.state) << c.name << ": Table \"Alarm\" follows";
        EXPECT_EQ(AlarmFile(), c.file) << c.name;
        EXPECT_TRUE(SameTime(GetSeenTime(Db(), 0), c.seen)) << c.name;
        EXPECT_TRUE(SameTime(GetClearTime(Db(), 0), c.clear)) << c.name;
    }
}

TEST_F(LimitAlarm, AlarmTimesAreSavedWithTheDeviceList) {
    const SystemTime t = test::At(2026, 12, 10, 10, 0, 20);
    Breach(t);
    ApplyAlarmListOutcome(Db(), m_app.Settings().GetDataPath(), 0, {t, false});
    SetSensorLimits(Db(), 0, {70.0, 20.0, 30.0, -40.0});
    ASSERT_EQ(m_app.SaveAllDev(), 1);

    CAppForNimbo1App again;
    ASSERT_EQ(again.InitGlobalValue(m_dir.path()), 1);
    again.Database().InitAllDB();
    again.AddValueToDB();
    EXPECT_TRUE(SameTime(GetSeenTime(again.Database(), 0), t));
    EXPECT_EQ(GetSensorLimits(again.Database(), 0), (SensorLimits{70.0, 20.0, 30.0, -40.0}));
    EXPECT_EQ(CheckWiFiSensorAlarm(again.Database(), again.Settings().GetDataPath(), 0), 1);
}

TEST_F(LimitAlarm, UnknownSensorIndexChangesNothing) {
    for (int index : {-1, 1, 5000}) {
        EXPECT_EQ(ApplyAlarmListOutcome(Db(), m_app.Settings().GetDataPath(), index,
                                        {test::At(2026, 1, 1, 0, 0, 0), true}),
                  0);
        EXPECT_EQ(CheckWiFiSensorAlarm(Db(), m_app.Settings().GetDataPath(), index), 0);
        EXPECT_EQ(ClearAlarm(Db(), m_app.Settings().GetDataPath(), index), 0);
        EXPECT_EQ(GetSensorLimits(Db(), index), SensorLimits{});
        SetSensorLimits(Db(), index, {1, 1, 1, 1});
        SetSeenTime(Db(), index, test::At(2026, 1, 1, 0, 0, 0));
    }
    EXPECT_EQ(AlarmFile(), "");
}

TEST_F(LimitAlarm, FullFileShiftMovesTheSeenTimeOfTheSensor) {
    const std::filesystem::path file = m_app.Settings().GetDataPath() / "cold" / "Alarm.txt";
    std::string content = Head(kMaxAlarmRecords);
    for (int k = 0; k < kMaxAlarmRecords; ++k) content += Record(test::At(2025, 1 + k / 1000, 1, k / 60 % 24, k % 60, 0));
    std::filesystem::create_directories(file.parent_path());
    test::WriteFile(file, content);
    Breach(test::At(2026, 12, 10, 10, 0, 0));
    EXPECT_TRUE(SameTime(GetSeenTime(Db(), 0), test::At(2025, 1, 1, 0, 1, 0))) << "the new oldest record";
    EXPECT_EQ(AlarmFile().size(), 13u + 33u * kMaxAlarmRecords);
    EXPECT_EQ(CheckWiFiSensorAlarm(Db(), m_app.Settings().GetDataPath(), 0), 2);
}

// The receive check appends under the database lock while the operator lists and then
// clears: every record arriving after the listing survives exactly once.
TEST_F(LimitAlarm, ClearingWhileReadingsArriveLosesAndDuplicatesNothing) {
    constexpr int kReadings = 400;
    CDatabaseLock& lock = m_app.DatabaseLock();
    auto time = [](int i) { return test::At(2026, 12, 10, 10 + i / 3600, i / 60 % 60, i % 60); };
    std::atomic<int> stored{0};
    std::jthread receiver([&] {
        for (int i = 0; i < kReadings; ++i) {
            CDatabaseLock::Guard guard(lock, std::chrono::seconds(10));
            ASSERT_TRUE(guard.owns());
            Breach(time(i));
            stored = i + 1;
        }
    });
    while (stored < kReadings / 4) std::this_thread::yield();
    SystemTime listed;
    {
        CDatabaseLock::Guard guard(lock, std::chrono::seconds(10));
        ASSERT_TRUE(guard.owns());
        const auto records = ReadAlarmRecords(m_app.Settings().GetDataPath() / "cold" / "Alarm.txt");
        ASSERT_FALSE(records.empty());
        listed = records.back().time;
    }
    std::this_thread::yield(); // the list is open
    {
        CDatabaseLock::Guard guard(lock, std::chrono::seconds(10));
        ASSERT_TRUE(guard.owns());
        ApplyAlarmListOutcome(Db(), m_app.Settings().GetDataPath(), 0, {listed, true});
    }
    receiver.join();

    int first = 0;
    while (!SameTime(time(first), listed)) ++first;
    std::string want;
    for (int i = first + 1; i < kReadings; ++i) want += Record(time(i));
    EXPECT_EQ(AlarmFile(), Head(kReadings - first - 1) + want);
}

TEST(LimitDialogRules, RangesAndOrder) {
    struct Case {
        SensorLimits limits;
        const char* error; // null: accepted
    };
    const char* hHigh = "Humidity's hight limit is error!";
    const char* hLow = "Humidity's low limit is error!";
    const char* tHigh = "Temperature's hight limit is error!";
    const char* tLow = "Temperature's low limit is error!";
    const Case cases[] = {
        {{100, 0, 80, -40}, nullptr}, // the defaults, -40 included
        {{50, 50, 20, 20}, nullptr},  // low equal to high
        {{100.1, 0, 80, -40}, hHigh},
        {{-0.1, 0, 80, -40}, hHigh},
        {{100, -0.1, 80, -40}, hLow},
        {{100, 100.1, 80, -40}, hLow},
        {{40, 60, 80, -40}, hLow}, // low above high
        {{100, 0, 80.1, -40}, tHigh},
        {{100, 0, -40.1, -40}, tHigh},
        {{100, 0, 80, -40.1}, tLow},
        {{100, 0, 10, 20}, tLow},
        {{101, -1, 81, -41}, hHigh}, // the first field out stops the check
        {{100, 0, 81, -41}, tHigh},
    };
    for (const Case& c : cases) {
        const char* got = LimitError(c.limits);
        EXPECT_STREQ(got ? got : "", c.error ? c.error : "")
            << c.limits.hMax << " " << c.limits.hMin << " " << c.limits.tMax << " " << c.limits.tMin;
    }
}

TEST(LimitDialogRules, TypedTextReadsAsItsLeadingNumber) {
    const std::pair<const char*, double> cases[] = {
        {"12.5", 12.5}, {"  7", 7},  {"-40.0", -40}, {"+3", 3},    {"12abc", 12}, {".5", 0.5}, {"1e1", 10},
        {"", 0},        {"abc", 0}, {"-", 0},        {"inf", 0},   {"nan", 0},    {"-inf", 0}, {"5,5", 5},
    };
    for (const auto& [text, want] : cases) EXPECT_DOUBLE_EQ(ReadLimitText(text), want) << '"' << text << '"';
}

} // namespace
} // namespace hygro
