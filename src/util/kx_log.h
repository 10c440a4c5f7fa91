// The process-wide diagnostic log: any thread hands over lines, one writer thread
// appends them to dated files in the log folder.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace hygro {

class CKxLogOpt {
  public:
    static constexpr int kMaxLinesPerFile = 10001;
    // Files kept in the folder: beginning one more deletes the oldest, so a station that
    // runs for months never fills its disk with log (about 15 MB at most).
    static constexpr int kMaxFiles = 10;

    CKxLogOpt();
    ~CKxLogOpt();
    CKxLogOpt(const CKxLogOpt&) = delete;
    CKxLogOpt& operator=(const CKxLogOpt&) = delete;

    // Deletes the folder with everything in it and starts the writer thread. The caller
    // creates the folder again before logging.
    void SetPath(const std::filesystem::path& folder);
    // 0 when no folder is set (line dropped), else 1.
    int AddLogInfo(std::string text, int lineEnd = 1);
    // Writes the oldest queued line; 1 when written.
    int Write();
    // Stops the writer thread and writes out every queued line.
    void End();
    int IsClosing() const;
    int IsEmpty() const;

    // A tap sees every handed-over text as given (before the folder check), on the
    // calling thread. Tests use it to observe log lines without files.
    using Tap = std::function<void(const std::string& text)>;
    void SetTap(Tap tap);

    // Number of log files begun in this run (the oldest beyond kMaxFiles are gone).
    int FileCount() const;
    std::filesystem::path CurrentFile() const;

  private:
    void ThreadWriteLogToFile(std::stop_token stop);

    mutable std::mutex m_queueLock;
    std::condition_variable_any m_queueChanged;
    std::filesystem::path m_folder;   // guarded by m_queueLock
    std::deque<std::string> m_queue;  // guarded by m_queueLock
    Tap m_tap;                        // guarded by m_queueLock
    bool m_closing = false;           // guarded by m_queueLock
    // Held by Write() for its file work, so only one line is written at a time.
    mutable std::mutex m_fileLock;
    int m_fileCount = 0;                 // guarded by m_fileLock
    int m_lineCounter = 0;               // guarded by m_fileLock
    std::filesystem::path m_currentFile; // guarded by m_fileLock
    std::deque<std::filesystem::path> m_files; // begun in this run, oldest first; by m_fileLock
    std::jthread m_writer;
};

extern CKxLogOpt g_Log;

// Shorthand for g_Log.AddLogInfo(text, 1).
inline int AddLogInfo(std::string text) { return g_Log.AddLogInfo(std::move(text), 1); }

} // namespace hygro
