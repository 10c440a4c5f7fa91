#include "util/kx_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace hygro {
namespace {

using test::ReadFile;
using test::TempDir;

std::vector<std::filesystem::path> LogFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Splits file content into lines, each keeping its CR LF.
std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from < content.size()) {
        const std::size_t end = content.find("\r\n", from);
        const std::size_t stop = end == std::string::npos ? content.size() : end + 2;
        out.push_back(content.substr(from, stop - from));
        from = stop;
    }
    return out;
}

class LogTest : public ::testing::Test {
  protected:
    void StartLog() {
        m_folder = m_dir / "Log";
        m_log.SetPath(m_folder);
        std::filesystem::create_directories(m_folder);
    }
    TempDir m_dir;
    std::filesystem::path m_folder;
    CKxLogOpt m_log;
};

TEST_F(LogTest, LinesBeforeSetPathAreDropped) {
    EXPECT_EQ(m_log.AddLogInfo("too early", 1), 0);
    StartLog();
    EXPECT_EQ(m_log.AddLogInfo("App start!", 1), 1);
    m_log.End();
    const auto files = LogFiles(m_folder);
    ASSERT_EQ(files.size(), 1u);
    const std::string content = ReadFile(files[0]);
    EXPECT_EQ(content.find("too early"), std::string::npos);

    // "Log" + the stamp of the first line + ".txt"; the line is stamp, blank, text, CR LF.
    const std::regex line(R"(^(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_\d{3}) App start!\r\n$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(content, m, line)) << content;
    EXPECT_EQ(files[0].filename().string(), "Log" + m[1].str() + ".txt");
}

TEST_F(LogTest, LineEndIsAddedOnlyWhenTheTextHasNone) {
    StartLog();
    struct Case {
        const char* text;
        int flag;
        const char* written;
    } cases[] = {
        {"plain", 1, "plain\r\n"},
        {"App end!\r\n", 1, "App end!\r\n"},
        {"mid\r\ndle", 1, "mid\r\ndle"},
        {"no end", 0, "no end"},
    };
    for (const auto& c : cases) m_log.AddLogInfo(c.text, c.flag);
    m_log.End();
    std::string expected;
    for (const auto& c : cases) expected += c.written;
    const std::string content = ReadFile(LogFiles(m_folder).at(0));
    // Strip the 24-character stamps to compare the texts.
    std::string texts;
    std::size_t pos = 0;
    for (const auto& c : cases) {
        texts += content.substr(pos + 24, std::strlen(c.written));
        pos += 24 + std::strlen(c.written);
    }
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(pos, content.size());
}

TEST_F(LogTest, RollsOverAfter10001LinesIntoAFileNamedByItsFirstLine) {
    StartLog();
    const int total = CKxLogOpt::kMaxLinesPerFile + 2;
    for (int i = 0; i < total; ++i) m_log.AddLogInfo("line " + std::to_string(i), 1);
    m_log.End();
    const auto files = LogFiles(m_folder);
    ASSERT_EQ(files.size(), 2u);
    const auto first = Lines(ReadFile(files[0]));
    const auto second = Lines(ReadFile(files[1]));
    ASSERT_EQ(first.size(), 10001u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_THAT(second[0], ::testing::EndsWith(" line 10001\r\n"));
    EXPECT_EQ(files[1].filename().string(), "Log" + second[0].substr(0, 23) + ".txt");
    EXPECT_EQ(m_log.FileCount(), 2);
}

TEST_F(LogTest, EndWritesEveryLineInHandOverOrder) {
    StartLog();
    constexpr int kThreads = 4, kPerThread = 500;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([this, t] {
                for (int i = 0; i < kPerThread; ++i)
                    m_log.AddLogInfo("t" + std::to_string(t) + " " + std::to_string(i), 1);
            });
        }
    }
    m_log.End();
    EXPECT_EQ(m_log.IsEmpty(), 1);
    EXPECT_EQ(m_log.IsClosing(), 1);
    std::vector<int> next(kThreads, 0);
    int count = 0;
    for (const auto& line : Lines(ReadFile(LogFiles(m_folder).at(0)))) {
        std::istringstream in(line.substr(24));
        char t;
        int thread, seq;
        in >> t >> thread >> seq;
        ASSERT_EQ(seq, next[static_cast<std::size_t>(thread)]) << "thread " << thread;
        ++next[static_cast<std::size_t>(thread)];
        ++count;
    }
    EXPECT_EQ(count, kThreads * kPerThread);
}

TEST_F(LogTest, SetPathRemovesThePreviousRunAndVanishedFilesAreNotRecreated) {
    std::filesystem::create_directories(m_dir / "Log");
    test::WriteFile(m_dir / "Log" / "Log2001-01-01_00-00-00_000.txt", "old run");
    StartLog();
    EXPECT_TRUE(LogFiles(m_folder).empty());
    m_log.AddLogInfo("first", 1);
    while (!m_log.IsEmpty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The folder disappears (history cleared by the operator): later lines are lost.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::remove_all(m_folder);
    m_log.AddLogInfo("App end!\r\n", 1);
    m_log.End();
    EXPECT_FALSE(std::filesystem::exists(m_folder));
}

TEST_F(LogTest, TapSeesTextsEvenWithoutAFolder) {
    std::vector<std::string> seen;
    m_log.SetTap([&](const std::string& text) { seen.push_back(text); });
    m_log.AddLogInfo("one", 1);
    m_log.AddLogInfo("two\r\n", 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two\r\n"}));
}

} // namespace
} // namespace hygro
