// The one lock over the device database. Worker threads wait for it at most a second and
// give up rather than stall; the GUI thread takes it around changes it makes while
// workers run.
#pragma once

#include <chrono>
#include <mutex>

namespace hygro {

class CDatabaseLock {
  public:
    static constexpr std::chrono::milliseconds kWait{1000};

    // try_lock_until on the system clock maps to pthread_mutex_timedlock, which thread
    // sanitizers understand (try_lock_for uses a call they do not track).
    bool Take(std::chrono::milliseconds wait = kWait) {
        return m_mutex.try_lock_until(std::chrono::system_clock::now() + wait);
    }
    void Release() { m_mutex.unlock(); }

    // RAII holder; check owns() before touching the tables.
    class Guard {
      public:
        explicit Guard(CDatabaseLock& lock, std::chrono::milliseconds wait = kWait)
            : m_lock(lock), m_owns(lock.Take(wait)) {}
        ~Guard() {
            if (m_owns) m_lock.Release();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        bool owns() const { return m_owns; }

      private:
        CDatabaseLock& m_lock;
        bool m_owns;
    };

  private:
    // Recursive: a thread holding it may call operations that take it again.
    std::recursive_timed_mutex m_mutex;
};

} // namespace hygro
