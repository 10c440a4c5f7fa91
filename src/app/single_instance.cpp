#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/md5.h"

namespace hygro {

SingleInstanceLock::~SingleInstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

std::filesystem::path SingleInstanceLock::LockFileFor(const std::filesystem::path& settingsPath) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path dir = runtime && *runtime ? runtime : "/tmp";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) dir = "/tmp";
    const std::string key = MD5::HexDigest(std::filesystem::absolute(settingsPath, ec).string());
    return dir / ("hygrolog-" + key.substr(0, 16) + ".lock");
}

bool SingleInstanceLock::Acquire(const std::filesystem::path& settingsPath) {
    if (m_fd >= 0) return true;
    const auto path = LockFileFor(settingsPath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true; // cannot tell: better to run than to refuse forever
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

} // namespace hygro
