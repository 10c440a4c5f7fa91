// A settings store under a private base folder, with operator messages recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/global_member.h"
#include "settings/md5.h"
#include "settings/profile_file.h"
#include "support/station_files.h"
#include "support/temp_dir.h"
#include "util/message_box.h"
#include "util/text.h"

namespace hygro::test {

class SettingsFixture : public ::testing::Test {
  protected:
    SettingsFixture() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            m_messages.push_back(ToUtf8(text));
            return MsgAnswer::Ok;
        });
    }
    ~SettingsFixture() override { SetMessageHandler(m_previous); }

    std::filesystem::path Folder() const { return m_dir.path() / "Veltrix" / "Hygrolog"; }
    std::filesystem::path SettingsPath() const { return Folder() / "Settings.ini"; }

    // Writes a settings file as another writer would, sealed with a valid checksum.
    void WriteSealed(const ProfileFile& doc) {
        WriteRaw(SealedSettingsBytes(doc));
    }
    void WriteRaw(const std::string& bytes) {
        std::filesystem::create_directories(Folder());
        test::WriteFile(SettingsPath(), bytes);
    }

    // A fresh store started and read the way the station does at start-up.
    std::unique_ptr<CGlobalMember> Start() {
        auto store = std::make_unique<CGlobalMember>();
        EXPECT_EQ(store->InitSettingsFile(m_dir.path()), 1);
        store->ReadSettingsFile();
        return store;
    }

    TempDir m_dir;
    std::vector<std::string> m_messages;
    MessageHandler m_previous;
};

} // namespace hygro::test
