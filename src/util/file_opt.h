// File and folder helpers shared by every module. Paths are full paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace hygro {

namespace fs = std::filesystem;

// An owned POSIX file descriptor.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;
    bool ok() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    // Closes now and reports whether the close (which may flush) succeeded.
    bool Close();

  private:
    int m_fd;
};

// Opens path (close-on-exec, non-blocking) and keeps it only when it is a regular file, so
// a FIFO or device put in a file's place can never stall a worker thread.
UniqueFd OpenRegular(const fs::path& path, int flags, unsigned mode = 0);

// Reads up to size bytes at offset (retrying short reads); returns how many were read,
// fewer only at the end of the file or on an error.
std::size_t ReadAt(int fd, std::uint64_t offset, char* out, std::size_t size);

class CKxFileOpt {
  public:
    static int CreateUnicodeFile_FileOpt(const fs::path& name);
    static int CreateFile_FileOpt(const fs::path& name);
    static int IsFile_FileOpt(const fs::path& name);
    static int DeleteFile_FileOpt(const fs::path& name);
    static int DeleteDirectory_FileOpt(const fs::path& folder);
    static int MergeFolderName_FileOpt(const fs::path& parent, const fs::path& oldName,
                                       const fs::path& newName);
    // Appends to an existing file only; 0 when it cannot be opened or data is empty.
    static int WriteFile_FileOpt(const fs::path& name, std::string_view data);
};

// Recursive delete that removes symbolic links themselves, never their targets.
int DeleteDirectory(const fs::path& folder);
// Recursive copy; symbolic links are copied as links, never followed.
int CopyDirectory(const fs::path& source, const fs::path& target);
// Creates every missing folder of path (taken as a folder path). 1 when it exists afterwards.
int CheckAndCreateFolder(const fs::path& path);
int CreateUnicodeFile(const fs::path& name);
int CreateASCFile(const fs::path& name);
// Creates the folders and, when missing, the file as UTF-16LE text holding only a BOM.
int CheckAndCreateUnicodeFile(const fs::path& file);
// As above, then writes text over the file's first bytes without truncating it.
int CheckAndCreateUnicodeFileWrite(const fs::path& file, std::string_view text);

// Field-wise comparison: -1 when the first time is earlier, 1 when later, 0 when equal.
int DataTimeCompare(std::uint16_t year1, std::uint16_t month1, std::uint16_t day1, std::uint16_t hour1,
                    std::uint16_t minute1, std::uint16_t second1, std::uint16_t year2,
                    std::uint16_t month2, std::uint16_t day2, std::uint16_t hour2, std::uint16_t minute2,
                    std::uint16_t second2);

void FunOrderCArrayInt(std::vector<int>& values);

// Writes data to a temporary file beside path, syncs it and renames it over path, so a
// reader sees either the old or the new content. mode applies to a newly created file.
bool WriteFileAtomically(const fs::path& path, std::string_view data, unsigned mode = 0644);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const fs::path& path, std::string& out);

} // namespace hygro
