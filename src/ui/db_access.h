// The GUI thread's way into the device database while workers run.
#pragma once

#include <QApplication>
#include <QCursor>

#include "db/db_lock.h"
#include "util/kx_log.h"

namespace hygro::ui {

// Runs f with the database lock held. Workers hold the lock for one pass at most, so a
// few attempts always suffice unless something is stuck; then f does not run, the log
// says why, and the caller reports it. Shows the busy cursor while waiting.
template <typename F>
bool WithDatabaseLock(CDatabaseLock& lock, const char* what, F&& f) {
    constexpr int kAttempts = 5;
    for (int i = 0; i < kAttempts; ++i) {
        if (i == 1) QApplication::setOverrideCursor(Qt::WaitCursor);
        CDatabaseLock::Guard guard(lock);
        if (!guard.owns()) continue;
        if (i >= 1) QApplication::restoreOverrideCursor();
        f();
        return true;
    }
    QApplication::restoreOverrideCursor();
    AddLogInfo(std::string("Database busy, not done: ") + what);
    return false;
}

} // namespace hygro::ui
