// Finding sensors on the LAN and turning the ones that answer from a new address into
// found sensors, plus the two settings the discovery window changes: the poll interval and
// the transport. No Qt here: the window drives these and shows what they report.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "util/ipv4.h"

namespace hygro {

class CAppForNimbo1App;
class CGlobalMember;
class CUdpReceiveData;

// ---- search replies -----------------------------------------------------------------

inline constexpr std::string_view kSearchReplyPrefix = "@WiFi Sensor/T VER";
inline constexpr std::size_t kSerialOffset = 23;
inline constexpr std::size_t kSerialLength = 6;

// The record's datagrams joined in arrival order when the text is a search reply (it begins
// with kSearchReplyPrefix), else empty.
std::string CheckSearchRevData(const CUdpReceiveData& record);
// The six characters at positions 23-28 of a reply, or what there is from 23 on.
std::string SearchSerialText(std::string_view reply);
// A decimal number the way an edit or a reply is read: leading blanks, an optional sign,
// digits up to the first non-digit; no digits reads 0; saturates at the int range.
int ReadDecimal(std::string_view text);

// A sensor's address as the lists show it.
std::string AddressText(const IPv4Bytes& ip);
// A serial as the lists show it ("%06d").
std::string SerialText(int serial);

// Whether ip is a known sensor's address; when it is and serialText is not empty, that
// sensor's Serial becomes serialText's number. The sensor index (and in *serial the number
// now stored, in *changed whether it was changed), or -1. Caller holds the database lock.
int CheckIP(CAppForNimbo1App& app, const IPv4Bytes& ip, std::string_view serialText, int* serial = nullptr,
            bool* changed = nullptr);

// Makes a found sensor of ip with serial: a data port chosen for the mode when there is
// none, the data socket (UDP) or listener (TCP) created with CONNECT to every sensor when it
// is missing or the port is new, the sensor's rows inserted in serial order among the found
// ones, its Net row set up (UDP), the total count renewed and CONNECT sent to it. The new
// sensor index. Caller holds the database lock.
int DiscoveryAddDev(CAppForNimbo1App& app, const IPv4Bytes& ip, int serial);

// What a collection of replies changed, in the order it happened (list rows follow it).
struct SearchReport {
    // A found sensor was inserted at index: its address, the serial text of the reply and
    // "Connect" in UDP mode (empty in TCP mode, where the sensor still has to connect).
    std::function<void(int index, const std::string& ip, const std::string& serialText,
                       const std::string& connectText)>
        rowAdded;
    // A known sensor's serial as the search reply gave it.
    std::function<void(int index, int serial)> serialRefreshed;
};

// Takes every sender record queued on the command socket (oldest first) and handles it:
// a known address refreshes that sensor's serial, a search reply from a new address adds a
// found sensor, anything else is dropped. Reports run without the database lock. The
// number of sensors added.
int RevUdpSearchData(CAppForNimbo1App& app, const SearchReport& report);

// ---- the search -------------------------------------------------------------------------

// Five seconds of search on a worker thread: SEARCH broadcast at 0 and 3 steps, replies
// collected at 1, 2, 3 and 4 steps, the countdown "5" .. "0" and then "Search" reported as
// the caption. Callbacks run on the worker and must not wait for the thread that owns the
// search (post them). A stopped search ends at its next step without reporting anything.
class CDiscoverySearch {
  public:
    static constexpr std::chrono::milliseconds kStep{1000};

    struct Callbacks {
        std::function<void(const std::string& caption)> caption;
        SearchReport report;
        // Once, after the last caption, when the search ran to its end.
        std::function<void()> ended;
    };

    CDiscoverySearch(CAppForNimbo1App& app, Callbacks callbacks, std::chrono::milliseconds step = kStep);
    ~CDiscoverySearch();
    CDiscoverySearch(const CDiscoverySearch&) = delete;
    CDiscoverySearch& operator=(const CDiscoverySearch&) = delete;

    // Starts a search; false when one runs.
    bool Start();
    // Stops a running search and waits for its thread.
    void Stop();
    bool Running() const { return m_running.load(); }

  private:
    void Run(std::stop_token stop);
    // Sleeps one step; false when the search was stopped.
    bool Pause(std::stop_token& stop);
    void Broadcast();

    CAppForNimbo1App& m_app;
    Callbacks m_callbacks;
    std::chrono::milliseconds m_step;
    std::mutex m_waitLock;
    std::condition_variable_any m_wake;
    std::atomic<bool> m_running{false};
    std::jthread m_thread;
};

// After a search: whether to offer the next adapter (the list is empty and the station has
// another address). ask is the operator's Yes; on Yes the station address moves to the
// next adapter and the result is true (search again).
bool CheckFindCount(CAppForNimbo1App& app, int listRows, const std::function<bool()>& ask);

// ---- poll interval ----------------------------------------------------------------------

inline constexpr std::string_view kMinuteValueError = "Minute Value Error!";
inline constexpr std::string_view kSecondValueError = "Second Value Error!";
inline constexpr std::string_view kTimeTooShort = "Time too short!";
inline constexpr std::string_view kTimeTooLong = "Time too long!";

struct IntervalCheck {
    std::uint32_t seconds = 0; // the interval when error is empty
    std::string_view error;    // the message for the operator, empty when valid
};
// Minutes 0..60 and seconds 0..59 (both compared unsigned, so negative input fails),
// together 10 s .. 3600 s.
IntervalCheck CheckCmdInterval(std::string_view minutes, std::string_view seconds);
// Checks the edits' texts and, when valid, stores the interval and saves it at once. The
// message to show, empty on success.
std::string_view SaveCmdTime(CGlobalMember& settings, std::string_view minutes, std::string_view seconds);

// ---- transport --------------------------------------------------------------------------

enum class ProtocolChange {
    Unchanged,  // the chosen mode is the stored one: nothing touched
    Changed,    // every sensor released, sockets renewed, every sensor told to connect
    LockFailed, // the tables stayed busy: nothing changed
};
inline constexpr std::string_view kChangeProtocolFailed = "Change Procotol Failed!";

struct ProtocolChangeHooks {
    // Polling off (0) and on (1).
    std::function<void(int enabled)> setTimerFlags;
    // The progress window, shown while the sensors let go; returns when it has closed.
    std::function<void()> showProgress;
};

// mode: 0 UDP, 1 TCP (the combo box's index).
ProtocolChange ChangeProtocol(CAppForNimbo1App& app, int mode, const ProtocolChangeHooks& hooks);

} // namespace hygro
