// The checks behind "Append Sensor Info" and "Edit", against a real data folder.
#include "acq/sensor_checks.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace hygro {
namespace {

namespace fs = std::filesystem;
using hygro::test::TempDir;

std::string AsciiUpper(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Message(const char* error) {
    return error ? error : "";
}

// A data path with the log folder, the folders of two in-use sensors and an old folder.
class SensorChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"Log", "cold", "HALL", "old1"})
            fs::create_directories(m_dir / d);
        hygro::test::WriteFile(m_dir / "notes.txt", "x");
    }
    const fs::path& Data() const { return m_dir.path(); }

    TempDir m_dir;
    std::vector<InUseSensor> m_inUse{{"Cold room", "cold", 1}, {"Hall", "HALL", 3}};
};

AddSensorInput GoodAdd() {
    AddSensorInput in;
    in.name = "Office";
    in.folderKind = 0;
    in.newFolder = "office";
    in.oldFolder = "";
    in.hMax = "90.0";
    in.hMin = "30.0";
    in.tMax = "70.0";
    in.tMin = "15.0";
    in.colour = RgbValue(0, 0, 255);
    in.numberText = "2";
    in.ipSelected = true;
    return in;
}

TEST_F(SensorChecks, AddAcceptsTheDefaultsAndGivesTheValues) {
    const AddSensorCheck r = CheckAddSensor(GoodAdd(), Data(), m_inUse);
    ASSERT_EQ(Message(r.error), "");
    EXPECT_EQ(r.folder, "office");
    EXPECT_EQ(r.number, 2);
    EXPECT_EQ(r.limits, (SensorLimits{90, 30, 70, 15}));
}

TEST_F(SensorChecks, AddChecksInOrderAndStopsAtTheFirstFailure) {
    struct Case {
        const char* what;
        std::function<void(AddSensorInput&)> change;
        const char* message; // "" accepted
    };
    const auto white = [](AddSensorInput& in) { in.colour = kWhiteRgb; };
    const Case cases[] = {
        {"empty name before everything",
         [&](AddSensorInput& in) {
             in.name = "";
             in.newFolder = "old1";
             white(in);
             in.ipSelected = false;
         },
         "Please set name"},
        {"name in use before '!' and folder",
         [&](AddSensorInput& in) {
             in.name = "Hall";
             in.newFolder = "old1";
         },
         "Name is used!"},
        {"name comparison is exact", [](AddSensorInput& in) { in.name = "hall"; }, ""},
        {"'!' before folder",
         [](AddSensorInput& in) {
             in.name = "Hall!";
             in.newFolder = "old1";
         },
         "Name Error!Cannot contain '!'"},
        {"existing folder", [](AddSensorInput& in) { in.newFolder = "old1"; }, "Can't use this folder!"},
        {"a file is in the way", [](AddSensorInput& in) { in.newFolder = "notes.txt"; },
         "Can't use this folder!"},
        {"the log folder", [](AddSensorInput& in) { in.newFolder = "Log"; }, "Can't use this folder!"},
        {"empty folder text", [](AddSensorInput& in) { in.newFolder = ""; }, "Can't use this folder!"},
        {"folder before colour",
         [&](AddSensorInput& in) {
             in.newFolder = "cold";
             white(in);
         },
         "Can't use this folder!"},
        {"parent", [](AddSensorInput& in) { in.newFolder = ".."; }, "Can't use this folder!"},
        {"dot", [](AddSensorInput& in) { in.newFolder = "."; }, "Can't use this folder!"},
        {"up and out", [](AddSensorInput& in) { in.newFolder = "../x"; }, "Can't use this folder!"},
        {"slash", [](AddSensorInput& in) { in.newFolder = "a/b"; }, "Can't use this folder!"},
        {"backslash", [](AddSensorInput& in) { in.newFolder = "a\\b"; }, "Can't use this folder!"},
        {"NUL", [](AddSensorInput& in) { in.newFolder = std::string("a\0b", 3); }, "Can't use this folder!"},
        {"old folder: the edit does not count",
         [](AddSensorInput& in) {
             in.folderKind = 1;
             in.oldFolder = "old1";
             in.newFolder = "";
         },
         ""},
        {"old folder must be a folder name",
         [](AddSensorInput& in) {
             in.folderKind = 1;
             in.oldFolder = "";
         },
         "Can't use this folder!"},
        {"white before number",
         [&](AddSensorInput& in) {
             white(in);
             in.numberText = "x";
         },
         "Please set other color!"},
        {"near white passes", [](AddSensorInput& in) { in.colour = RgbValue(255, 255, 254); }, ""},
        {"bad number before IP",
         [](AddSensorInput& in) {
             in.numberText = "0";
             in.ipSelected = false;
         },
         "No. value error!"},
        {"used number", [](AddSensorInput& in) { in.numberText = "3"; }, "No. already used!"},
        {"no IP before the limits",
         [](AddSensorInput& in) {
             in.ipSelected = false;
             in.hMax = "150";
         },
         "Please select IP!"},
        {"humidity high out of range", [](AddSensorInput& in) { in.hMax = "100.1"; },
         "Humidity's hight limit is error!"},
        {"not a number reads 0: low above high", [](AddSensorInput& in) { in.hMax = "abc"; },
         "Humidity's low limit is error!"},
        {"temperature -40 passes", [](AddSensorInput& in) { in.tMin = "-40"; }, ""},
        {"temperature low below range", [](AddSensorInput& in) { in.tMin = "-40.5"; },
         "Temperature's low limit is error!"},
        {"temperature low above high", [](AddSensorInput& in) { in.tMin = "71"; },
         "Temperature's low limit is error!"},
    };
    for (const Case& c : cases) {
        AddSensorInput in = GoodAdd();
        c.change(in);
        EXPECT_EQ(Message(CheckAddSensor(in, Data(), m_inUse).error), c.message) << c.what;
    }
}

TEST_F(SensorChecks, AddComparesTheKeptNinetyNineBytesToo) {
    // The main window keeps 99 bytes; a long text whose kept part is taken is refused.
    fs::create_directories(Data() / std::string(99, 'f'));
    AddSensorInput in = GoodAdd();
    in.newFolder = std::string(120, 'f');
    EXPECT_EQ(Message(CheckAddSensor(in, Data(), m_inUse).error), "Can't use this folder!");
    in.newFolder = std::string(98, 'f');
    EXPECT_EQ(Message(CheckAddSensor(in, Data(), m_inUse).error), "");

    std::vector<InUseSensor> inUse = m_inUse;
    inUse.push_back({std::string(99, 'a'), "a", 4});
    in.name = std::string(120, 'a');
    EXPECT_EQ(Message(CheckAddSensor(in, Data(), inUse).error), "Name is used!");
    in.name = std::string(98, 'a');
    EXPECT_EQ(Message(CheckAddSensor(in, Data(), inUse).error), "");
}

TEST(SensorChecksNo, NumberText) {
    const std::vector<InUseSensor> inUse{{"a", "A", 1}, {"b", "B", 5}};
    struct Case {
        const char* text;
        const char* message;
        int number;
    };
    const Case cases[] = {
        {"2", "", 2},
        {"0002", "", 2},
        {"6", "", 6},
        {"2147483647", "", 2147483647},
        {"1", "No. already used!", 0},
        {"005", "No. already used!", 0},
        {"", "No. value error!", 0},
        {"0", "No. value error!", 0},
        {"-3", "No. value error!", 0},
        {"+3", "No. value error!", 0},
        {" 3", "No. value error!", 0},
        {"3 ", "No. value error!", 0},
        {"3a", "No. value error!", 0},
        {"1.5", "No. value error!", 0},
        {"2147483648", "No. value error!", 0},
        {"99999999999999999999", "No. value error!", 0},
    };
    for (const Case& c : cases) {
        const SensorNoCheck r = CheckSensorNo(c.text, inUse);
        EXPECT_EQ(Message(r.error), c.message) << c.text;
        EXPECT_EQ(r.number, c.number) << c.text;
    }
}

TEST_F(SensorChecks, OldFoldersLeaveOutLogInUseFilesAndLinks) {
    fs::create_directories(Data() / "Cold"); // case differs from "cold": offered
    fs::create_directories(Data() / "log");  // only "Log" itself is left out
    fs::create_directories(Data() / "a\\b"); // cannot be a folder name here
    fs::create_directories(Data() / std::string("bad\xff", 4));
    TempDir outside;
    fs::create_directory_symlink(outside.path(), Data() / "link");
    const std::vector<std::string> got = OldDataFolders(Data(), m_inUse);

    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"Cold", "log", "old1"}));

    // The order is the file system's listing order.
    std::vector<std::string> listed;
    for (const auto& e : fs::directory_iterator(Data())) {
        const std::string n = e.path().filename().string();
        if (std::find(got.begin(), got.end(), n) != got.end()) listed.push_back(n);
    }
    EXPECT_EQ(got, listed);

    EXPECT_TRUE(OldDataFolders(Data() / "missing", m_inUse).empty());
    EXPECT_TRUE(OldDataFolders(Data() / "notes.txt", m_inUse).empty());
}

EditSensorInput GoodEdit() {
    EditSensorInput in;
    in.name = "Cold room";
    in.colour = RgbValue(0, 128, 0);
    in.hMax = "90.0";
    in.hMin = "30.0";
    in.tMax = "70.0";
    in.tMin = "15.0";
    in.folder = "cold";
    in.currentFolder = "cold";
    in.number = 1;
    return in;
}

TEST_F(SensorChecks, EditChecksInOrder) {
    struct Case {
        const char* what;
        std::function<void(EditSensorInput&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"unchanged", [](EditSensorInput&) {}, ""},
        {"empty name first",
         [](EditSensorInput& in) {
             in.name = "";
             in.colour = kWhiteRgb;
             in.folder = "";
         },
         "Please set sensor's name!"},
        {"white before limits",
         [](EditSensorInput& in) {
             in.colour = kWhiteRgb;
             in.hMax = "";
         },
         "Please set other color!"},
        {"humidity high empty",
         [](EditSensorInput& in) {
             in.hMax = "";
             in.hMin = "";
         },
         "Please set sensor's max value!"},
        {"humidity low empty",
         [](EditSensorInput& in) {
             in.hMin = "";
             in.tMax = "";
         },
         "Please set sensor's min value!"},
        {"temperature high empty",
         [](EditSensorInput& in) {
             in.tMax = "";
             in.folder = "";
         },
         "Please set sensor's max value!"},
        {"temperature low empty",
         [](EditSensorInput& in) {
             in.tMin = "";
             in.folder = "";
         },
         "Please set sensor's min value!"},
        {"folder empty before the ranges",
         [](EditSensorInput& in) {
             in.folder = "";
             in.hMax = "500";
         },
         "Please set folder!"},
        {"folder refused before the ranges",
         [](EditSensorInput& in) {
             in.folder = "log";
             in.hMax = "500";
         },
         "Can't use this folder!"},
        {"a blank is not empty: reads 0, below the low limit", [](EditSensorInput& in) { in.hMax = " "; },
         "Humidity's low limit is error!"},
        {"temperature high out of range", [](EditSensorInput& in) { in.tMax = "80.5"; },
         "Temperature's hight limit is error!"},
        {"full range passes",
         [](EditSensorInput& in) {
             in.hMax = "100";
             in.hMin = "0";
             in.tMax = "80";
             in.tMin = "-40";
         },
         ""},
    };
    for (const Case& c : cases) {
        EditSensorInput in = GoodEdit();
        c.change(in);
        EXPECT_EQ(Message(CheckEditSensor(in, Data(), m_inUse, AsciiUpper).error), c.message) << c.what;
    }
}

TEST_F(SensorChecks, EditFolderRule) {
    fs::create_directories(Data() / "EXIST");
    fs::create_directories(Data() / "abc");
    std::vector<InUseSensor> inUse = m_inUse;
    inUse.push_back({"Lab", "abc", 7});
    inUse.push_back({"Store", "OTHER", 8}); // no folder on disk: the table alone refuses it
    struct Case {
        const char* typed;
        const char* current;
        const char* message;
        const char* folder; // the accepted folder
    };
    const Case cases[] = {
        {"new", "abc", "", "NEW"},
        {"abc", "abc", "", "abc"}, // unchanged: taken as it is, not upper-cased
        {"ABC", "abc", "", "ABC"}, // changed: a new folder on a case-sensitive disk
        {"x", "", "", "X"},        // a sensor without a folder gets one
        {"log", "abc", "Can't use this folder!", ""},
        {"Log", "abc", "Can't use this folder!", ""},
        {"exist", "abc", "Can't use this folder!", ""},
        {"other", "abc", "Can't use this folder!", ""},
        {"hall", "abc", "Can't use this folder!", ""}, // sensor 3's folder, also on disk
        {"old1", "abc", "", "OLD1"},                   // "old1" on disk is another folder
        {"../x", "abc", "Can't use this folder!", ""},
        {"..", "abc", "Can't use this folder!", ""},
        {".", "abc", "Can't use this folder!", ""},
        {"a/b", "abc", "Can't use this folder!", ""},
        {"a\\b", "abc", "Can't use this folder!", ""},
    };
    for (const Case& c : cases) {
        EditSensorInput in = GoodEdit();
        in.number = 7;
        in.folder = c.typed;
        in.currentFolder = c.current;
        const EditSensorCheck r = CheckEditSensor(in, Data(), inUse, AsciiUpper);
        EXPECT_EQ(Message(r.error), c.message) << c.typed;
        if (!r.error) {
            EXPECT_EQ(r.folder, c.folder) << c.typed;
        }
    }

    // The edited sensor's own entry in the list is not "another sensor's folder".
    EditSensorInput own = GoodEdit();
    own.number = 8;
    own.currentFolder = "";
    own.folder = "other";
    EXPECT_EQ(Message(CheckEditSensor(own, Data(), inUse, AsciiUpper).error), "");
    own.number = 9;
    EXPECT_EQ(Message(CheckEditSensor(own, Data(), inUse, AsciiUpper).error), "Can't use this folder!");
}

TEST_F(SensorChecks, EditGivesTheLimits) {
    EditSensorInput in = GoodEdit();
    in.hMax = "85.5";
    in.hMin = " 20";
    in.tMax = "30.25";
    in.tMin = "-12";
    const EditSensorCheck r = CheckEditSensor(in, Data(), m_inUse, AsciiUpper);
    ASSERT_EQ(Message(r.error), "");
    EXPECT_EQ(r.limits, (SensorLimits{85.5, 20, 30.25, -12}));
    EXPECT_EQ(r.folder, "cold");
}

} // namespace
} // namespace hygro
