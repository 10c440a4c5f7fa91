#include "util/kx_log.h"

#include <cstdio>

#include "util/file_opt.h"
#include "util/local_time.h"

namespace hygro {

CKxLogOpt g_Log;

CKxLogOpt::CKxLogOpt() = default;

CKxLogOpt::~CKxLogOpt() {
    {
        std::lock_guard lock(m_queueLock);
        m_closing = true;
    }
    // jthread's destructor requests stop (which wakes the wait) and joins.
}

void CKxLogOpt::SetPath(const std::filesystem::path& folder) {
    DeleteDirectory(folder);
    {
        std::lock_guard fileLock(m_fileLock);
        m_files.clear();
    }
    {
        std::lock_guard lock(m_queueLock);
        m_folder = folder;
        m_closing = false;
    }
    if (!m_writer.joinable()) {
        m_writer = std::jthread([this](std::stop_token st) { ThreadWriteLogToFile(st); });
    }
}

void CKxLogOpt::SetTap(Tap tap) {
    std::lock_guard lock(m_queueLock);
    m_tap = std::move(tap);
}

int CKxLogOpt::AddLogInfo(std::string text, int lineEnd) {
    Tap tap;
    {
        std::lock_guard lock(m_queueLock);
        tap = m_tap;
    }
    if (tap) tap(text);

    const SystemTime t = GetLocalTime();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d-%02d-%02d_%03d ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    if (lineEnd != 0 && text.find("\r\n") == std::string::npos) text += "\r\n";

    {
        std::lock_guard lock(m_queueLock);
        if (m_folder.empty()) return 0;
        m_queue.push_back(stamp + text);
    }
    m_queueChanged.notify_one();
    return 1;
}

int CKxLogOpt::Write() {
    std::string line;
    std::filesystem::path folder;
    {
        std::lock_guard lock(m_queueLock);
        if (m_queue.empty()) return 0;
        line = std::move(m_queue.front());
        m_queue.pop_front();
        folder = m_folder;
    }

    std::lock_guard fileLock(m_fileLock);
    if (m_lineCounter == 0) {
        ++m_fileCount;
        // A file is named after the time stamp of its first line.
        const std::filesystem::path name = folder / ("Log" + line.substr(0, 23) + ".txt");
        if (!CKxFileOpt::CreateFile_FileOpt(name)) return 0;
        m_currentFile = name;
        // Only files of this run are deleted; the folder was emptied when it was set.
        if (m_files.empty() || m_files.back() != name) m_files.push_back(name);
        while (m_files.size() > static_cast<std::size_t>(kMaxFiles)) {
            CKxFileOpt::DeleteFile_FileOpt(m_files.front());
            m_files.pop_front();
        }
    }
    if (m_currentFile.empty()) return 0;
    // Appending never re-creates a file that has vanished: the line is lost instead.
    if (!CKxFileOpt::WriteFile_FileOpt(m_currentFile, line)) return 0;
    if (++m_lineCounter > kMaxLinesPerFile - 1) m_lineCounter = 0;
    return 1;
}

void CKxLogOpt::End() {
    {
        std::lock_guard lock(m_queueLock);
        m_closing = true;
    }
    if (m_writer.joinable()) {
        m_writer.request_stop();
        m_writer.join();
    }
    while (!IsEmpty()) Write();
}

int CKxLogOpt::IsClosing() const {
    std::lock_guard lock(m_queueLock);
    return m_closing ? 1 : 0;
}

int CKxLogOpt::IsEmpty() const {
    std::lock_guard lock(m_queueLock);
    return m_queue.empty() ? 1 : 0;
}

int CKxLogOpt::FileCount() const {
    std::lock_guard lock(m_fileLock);
    return m_fileCount;
}

std::filesystem::path CKxLogOpt::CurrentFile() const {
    std::lock_guard lock(m_fileLock);
    return m_currentFile;
}

void CKxLogOpt::ThreadWriteLogToFile(std::stop_token stop) {
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_queueChanged.wait(lock, stop, [this] { return !m_queue.empty() || m_closing; });
            if (stop.stop_requested() || m_closing) return;
        }
        // Drain in order; a line that fails is dropped. End() writes whatever is left
        // once this thread has stopped.
        while (!stop.stop_requested() && !IsEmpty()) Write();
    }
}

} // namespace hygro
