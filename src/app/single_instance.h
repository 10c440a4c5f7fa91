// One station per settings file: an flock on a lock file keyed by the settings path. The
// kernel drops the lock when its holder dies, so a crashed station never blocks a restart.
#pragma once

#include <filesystem>

namespace hygro {

class SingleInstanceLock {
  public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // true when this process now holds the lock for settingsPath.
    bool Acquire(const std::filesystem::path& settingsPath);
    static std::filesystem::path LockFileFor(const std::filesystem::path& settingsPath);

  private:
    int m_fd = -1;
};

} // namespace hygro
