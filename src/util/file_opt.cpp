#include "util/file_opt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <iterator>
#include <system_error>
#include <utility>

namespace hygro {
namespace {

constexpr char kBom[] = {'\xFF', '\xFE'};

// Writes all of data to fd, retrying short writes and interrupts.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}


int CreateWithContent(const fs::path& name, const char* data, std::size_t size) {
    UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.ok()) return 0;
    if (!WriteAll(fd.get(), data, size)) return 0;
    return fd.Close() ? 1 : 0;
}

} // namespace

UniqueFd::~UniqueFd() {
    if (m_fd >= 0) ::close(m_fd);
}

bool UniqueFd::Close() {
    const int fd = std::exchange(m_fd, -1);
    return fd < 0 || ::close(fd) == 0;
}

UniqueFd OpenRegular(const fs::path& path, int flags, unsigned mode) {
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(mode)));
    if (!fd.ok()) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd(-1);
    return fd;
}

std::size_t ReadAt(int fd, std::uint64_t offset, char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

int CKxFileOpt::CreateUnicodeFile_FileOpt(const fs::path& name) {
    return CreateWithContent(name, kBom, sizeof kBom);
}

int CKxFileOpt::CreateFile_FileOpt(const fs::path& name) { return CreateWithContent(name, nullptr, 0); }

int CKxFileOpt::IsFile_FileOpt(const fs::path& name) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(name, ec)) ? 1 : 0;
}

int CKxFileOpt::DeleteFile_FileOpt(const fs::path& name) {
    std::error_code ec;
    return fs::remove(name, ec) && !ec ? 1 : 0;
}

int CKxFileOpt::DeleteDirectory_FileOpt(const fs::path& folder) { return DeleteDirectory(folder); }

int CKxFileOpt::MergeFolderName_FileOpt(const fs::path& parent, const fs::path& oldName,
                                        const fs::path& newName) {
    // The old folder holds history: drop it only once the copy is complete.
    if (!CopyDirectory(parent / oldName, parent / newName)) return 0;
    return DeleteDirectory(parent / oldName);
}

int CKxFileOpt::WriteFile_FileOpt(const fs::path& name, std::string_view data) {
    if (data.empty()) return 0;
    UniqueFd fd(::open(name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd.ok()) return 0;
    if (!WriteAll(fd.get(), data.data(), data.size())) return 0;
    return fd.Close() ? 1 : 0;
}

int DeleteDirectory(const fs::path& folder) {
    std::error_code ec;
    // remove_all works on the links themselves, so nothing outside the folder is touched.
    fs::remove_all(folder, ec);
    if (ec) return 0;
    return fs::exists(fs::symlink_status(folder, ec)) ? 0 : 1;
}

int CopyDirectory(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    fs::create_directories(target, ec);
    if (!fs::is_directory(target, ec)) return 0;
    fs::directory_iterator it(source, ec);
    if (ec) return 0;
    int ok = 1;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return 0;
        const fs::path from = it->path();
        const fs::path to = target / from.filename();
        const fs::file_status st = it->symlink_status(ec);
        if (ec) {
            ok = 0;
            continue;
        }
        if (fs::is_symlink(st)) {
            fs::remove(to, ec);
            fs::copy_symlink(from, to, ec);
            if (ec) ok = 0;
        } else if (fs::is_directory(st)) {
            if (!CopyDirectory(from, to)) ok = 0;
        } else {
            fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
            if (ec) ok = 0;
        }
    }
    return ok;
}

int CheckAndCreateFolder(const fs::path& path) {
    if (path.empty()) return 0;
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec) ? 1 : 0;
}

int CreateUnicodeFile(const fs::path& name) { return CKxFileOpt::CreateUnicodeFile_FileOpt(name); }

int CreateASCFile(const fs::path& name) {
    CKxFileOpt::CreateFile_FileOpt(name);
    return 1;
}

int CheckAndCreateUnicodeFile(const fs::path& file) {
    if (file.has_parent_path()) CheckAndCreateFolder(file.parent_path());
    if (CKxFileOpt::IsFile_FileOpt(file)) return 1;
    return CreateUnicodeFile(file);
}

int CheckAndCreateUnicodeFileWrite(const fs::path& file, std::string_view text) {
    CheckAndCreateUnicodeFile(file);
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.ok()) return 0;
    if (!WriteAll(fd.get(), text.data(), text.size())) return 0;
    return fd.Close() ? 1 : 0;
}

int DataTimeCompare(std::uint16_t year1, std::uint16_t month1, std::uint16_t day1, std::uint16_t hour1,
                    std::uint16_t minute1, std::uint16_t second1, std::uint16_t year2,
                    std::uint16_t month2, std::uint16_t day2, std::uint16_t hour2, std::uint16_t minute2,
                    std::uint16_t second2) {
    const std::uint16_t a[] = {year1, month1, day1, hour1, minute1, second1};
    const std::uint16_t b[] = {year2, month2, day2, hour2, minute2, second2};
    for (int i = 0; i < 6; ++i) {
        if (a[i] < b[i]) return -1;
        if (a[i] > b[i]) return 1;
    }
    return 0;
}

void FunOrderCArrayInt(std::vector<int>& values) { std::sort(values.begin(), values.end()); }

bool WriteFileAtomically(const fs::path& path, std::string_view data, unsigned mode) {
    std::string tmpl = path.string() + ".tmp.XXXXXX";
    const int raw = ::mkstemp(tmpl.data());
    if (raw < 0) return false;
    ::fcntl(raw, F_SETFD, FD_CLOEXEC);
    UniqueFd fd(raw);
    const fs::path tmp(tmpl);
    auto fail = [&] {
        fd.Close();
        ::unlink(tmp.c_str());
        return false;
    };
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) return fail();
    if (!WriteAll(fd.get(), data.data(), data.size())) return fail();
    if (::fsync(fd.get()) != 0) return fail();
    if (!fd.Close()) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    UniqueFd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.ok()) ::fsync(dfd.get());
    return true;
}

bool ReadWholeFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    out = std::move(data);
    return true;
}

} // namespace hygro
