// Another thread holding the database lock for a while, as a busy receive check would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "db/db_lock.h"

namespace hygro::test {

class LockHolder {
  public:
    // Returns once the lock is held (or after 3 s; held() says which).
    LockHolder(CDatabaseLock& lock, std::chrono::milliseconds hold) {
        m_thread = std::jthread([this, &lock, hold] {
            CDatabaseLock::Guard guard(lock);
            {
                std::lock_guard g(m_mutex);
                m_held = guard.owns();
            }
            m_cv.notify_all();
            std::this_thread::sleep_for(hold);
        });
        std::unique_lock g(m_mutex);
        m_cv.wait_for(g, std::chrono::seconds(3), [this] { return m_held; });
    }
    bool held() {
        std::lock_guard g(m_mutex);
        return m_held;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    std::jthread m_thread; // last: joined before the members it uses go
};

} // namespace hygro::test
