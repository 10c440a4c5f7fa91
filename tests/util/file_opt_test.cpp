#include "util/file_opt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace hygro {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(Folders, CreateNestedPathsWithOrWithoutTrailingSlash) {
    TempDir dir;
    EXPECT_EQ(CheckAndCreateFolder(dir.path() / "a" / "b" / "c"), 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
    EXPECT_EQ(CheckAndCreateFolder((dir.path() / "x" / "y").string() + "/"), 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "x" / "y"));
    // A file in the way is reported, not replaced.
    WriteFile(dir / "file", "keep");
    EXPECT_EQ(CheckAndCreateFolder(dir / "file"), 0);
    EXPECT_EQ(ReadFile(dir / "file"), "keep");
}

TEST(Folders, RecursiveDeleteAndCopyNeverFollowLinks) {
    TempDir dir;
    const fs::path outside = dir / "outside";
    fs::create_directories(outside);
    WriteFile(outside / "precious.txt", "data");

    const fs::path src = dir / "src";
    fs::create_directories(src / "sub");
    WriteFile(src / "top.txt", "top");
    WriteFile(src / "sub" / "deep.txt", "deep");
    fs::create_directory_symlink(outside, src / "link");

    const fs::path dst = dir / "dst";
    EXPECT_EQ(CopyDirectory(src, dst), 1);
    EXPECT_EQ(ReadFile(dst / "top.txt"), "top");
    EXPECT_EQ(ReadFile(dst / "sub" / "deep.txt"), "deep");
    EXPECT_TRUE(fs::is_symlink(dst / "link"));

    EXPECT_EQ(DeleteDirectory(src), 1);
    EXPECT_EQ(DeleteDirectory(dst), 1);
    EXPECT_FALSE(fs::exists(src));
    EXPECT_EQ(ReadFile(outside / "precious.txt"), "data");
    EXPECT_EQ(DeleteDirectory(dir / "never-existed"), 1);
}

TEST(Folders, MergeKeepsTheOldFolderWhenTheCopyFails) {
    TempDir dir;
    fs::create_directories(dir / "old" / "2019");
    WriteFile(dir / "old" / "2019" / "Avg.cvs", "avg");
    EXPECT_EQ(CKxFileOpt::MergeFolderName_FileOpt(dir.path(), "old", "new"), 1);
    EXPECT_EQ(ReadFile(dir / "new" / "2019" / "Avg.cvs"), "avg");
    EXPECT_FALSE(fs::exists(dir / "old"));

    // The target is a file: nothing can be copied, so the history must stay where it is.
    fs::create_directories(dir / "a");
    WriteFile(dir / "a" / "h.cvs", "h");
    WriteFile(dir / "b", "in the way");
    EXPECT_EQ(CKxFileOpt::MergeFolderName_FileOpt(dir.path(), "a", "b"), 0);
    EXPECT_EQ(ReadFile(dir / "a" / "h.cvs"), "h");
}

TEST(Files, CreateAppendAndOverwriteStart) {
    TempDir dir;
    const fs::path u = dir / "u.ini";
    EXPECT_EQ(CreateUnicodeFile(u), 1);
    EXPECT_EQ(ReadFile(u), "\xFF\xFE");

    // Appending never creates a file, and empty data is a failure.
    EXPECT_EQ(CKxFileOpt::WriteFile_FileOpt(dir / "missing", "x"), 0);
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(CKxFileOpt::WriteFile_FileOpt(u, ""), 0);
    EXPECT_EQ(CKxFileOpt::WriteFile_FileOpt(u, "ab"), 1);
    EXPECT_EQ(ReadFile(u), "\xFF\xFE" "ab");

    // A new file holds just the text (its BOM overwritten); an existing one keeps its tail.
    const fs::path w = dir / "sub" / "w.txt";
    EXPECT_EQ(CheckAndCreateUnicodeFileWrite(w, "HEAD"), 1);
    EXPECT_EQ(ReadFile(w), "HEAD");
    WriteFile(w, "0123456789");
    EXPECT_EQ(CheckAndCreateUnicodeFileWrite(w, "ab"), 1);
    EXPECT_EQ(ReadFile(w), "ab23456789");

    EXPECT_EQ(CheckAndCreateUnicodeFile(w), 1);
    EXPECT_EQ(ReadFile(w), "ab23456789"); // existing files are left alone
    EXPECT_EQ(CKxFileOpt::IsFile_FileOpt(w), 1);
    EXPECT_EQ(CKxFileOpt::DeleteFile_FileOpt(w), 1);
    EXPECT_EQ(CKxFileOpt::IsFile_FileOpt(w), 0);
}

TEST(Files, AtomicReplaceSetsModeAndFailsWithoutFolder) {
    TempDir dir;
    const fs::path p = dir / "Settings.ini";
    WriteFile(p, "old");
    ASSERT_TRUE(WriteFileAtomically(p, "new content", 0600));
    EXPECT_EQ(ReadFile(p), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(WriteFileAtomically(dir / "gone" / "Settings.ini", "x"));
    // No temporary files are left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(Time, DataTimeCompareFieldByField) {
    struct Case {
        std::uint16_t a[6], b[6];
        int expected;
    } cases[] = {
        {{2019, 3, 15, 10, 0, 0}, {2019, 3, 15, 9, 59, 59}, 1},
        {{2019, 3, 15, 9, 59, 59}, {2019, 3, 15, 10, 0, 0}, -1},
        {{2019, 3, 15, 10, 0, 0}, {2019, 3, 15, 10, 0, 0}, 0},
        {{2018, 12, 31, 23, 59, 59}, {2019, 1, 1, 0, 0, 0}, -1},
        {{2019, 2, 1, 0, 0, 0}, {2019, 1, 31, 0, 0, 0}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DataTimeCompare(c.a[0], c.a[1], c.a[2], c.a[3], c.a[4], c.a[5], c.b[0], c.b[1], c.b[2], c.b[3],
                                  c.b[4], c.b[5]),
                  c.expected);
    }
    std::vector<int> v{5, -1, 3, 3, 0};
    FunOrderCArrayInt(v);
    EXPECT_EQ(v, (std::vector<int>{-1, 0, 3, 3, 5}));
}

} // namespace
} // namespace hygro
