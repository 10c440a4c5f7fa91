// A stored reading outside a sensor's limits raises its alarm: Table "Alarm" 2, a record
// in Alarm.txt, the views told. No network is started here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "acq/acquisition.h"
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
        ProfileFile doc;
        doc.SetString(u"LSensor", u"Rcount", u"1");
        doc.SetString(u"LSensor", u"Tcount", u"1");
        doc.SetString(u"1", u"name", u"Cold room");
        doc.SetString(u"1", u"FolderName", u"cold");
        doc.SetString(u"1", u"TMax", u"8.0");
        doc.SetString(u"1", u"TMin", u"0.0");
        doc.SetString(u"1", u"HMax", u"95.0");
        doc.SetString(u"1", u"HMin", u"60.0");
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

} // namespace
} // namespace hygro
