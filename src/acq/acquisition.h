// The acquisition loop: the poll cycle that sends "S" (and searches for and reconnects
// silent sensors), the receive-check thread that collects answers, checks and normalises
// them, and the storing of each reading. The window hosting it ticks it once a second and
// receives its events.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "util/local_time.h"

namespace hygro {

class CAppForNimbo1App;

// What a stored reading means for the views. Called on the receive-check thread with the
// database lock held; implementations hand the work to the GUI thread.
class AcquisitionEvents {
  public:
    virtual ~AcquisitionEvents() = default;
    // The discovery list shows "Connect" (1) or "Disconnect" (0) for a sensor.
    virtual void SetDevConnectValue(int /*index*/, int /*connected*/) {}
    // Map view with real-time charts: the time axis follows the poll time.
    virtual void ScrollRealTime(const SystemTime& /*poll*/) {}
    // Live chart points (real-time show mode, shown sensors; only valid values count).
    virtual void AddLivePoint(int /*index*/, const SystemTime& /*poll*/, double /*h*/, double /*t*/) {}
    // The table row of a shown sensor got a new reading (Table columns already set).
    virtual void RefreshTableRow(int /*index*/) {}
    // A stored reading was compared with the sensor's limits (after the alarm record, if any).
    virtual void CheckLimits(int /*index*/, double /*h*/, double /*t*/, double /*hMax*/, double /*hMin*/,
                             double /*tMax*/, double /*tMin*/, const SystemTime& /*poll*/) {}
    // The reading broke a limit: Table "Alarm" is 2 now; the table shows it whatever "Show" is.
    virtual void AlarmRaised(int /*index*/) {}
    // Hand the alarm to the mail queue; nonzero when a mail was queued.
    virtual int SendAlarmMail(int /*index*/, const SystemTime& /*poll*/, double /*h*/, double /*t*/) { return 0; }
};

class CAcquisition {
  public:
    explicit CAcquisition(CAppForNimbo1App& app, AcquisitionEvents* events = nullptr);
    ~CAcquisition();
    CAcquisition(const CAcquisition&) = delete;
    CAcquisition& operator=(const CAcquisition&) = delete;

    // Polling on, the seconds counter at 0.
    void StartTimerWorkThread();
    void SetTimerFlags(int enabled) { m_pollingEnabled = enabled; }
    int GetTimerFlags() const { return m_pollingEnabled.load(); }
    // The one-second tick: starts a poll cycle every poll interval while polling is on.
    // A cycle still running when the next is due is not overlapped: that tick starts none
    // and the next tick tries again.
    void OnTimerTick();
    // Makes the next tick start a cycle (after the sensor list changed).
    void PollSoon();

    // One poll cycle (runs on its own thread when started by the tick).
    void SendSCmd();
    void StartCheckReceiveDataThread();
    // Ends the receive-check loop (logging which of "CheckRevThread not start!",
    // "CheckRevThread closed!" or "CheckRevThread close![1]" applied) and waits for a
    // running poll cycle. The loop ends within its 100 ms pass, so it is never killed.
    void Stop();
    void CheckReceiveData(std::stop_token stop);

    // 1 and buffer rewritten as the normalised reading "%02d %+05.1lf,%+05.1lf\r\n", or 0
    // and the buffer untouched.
    static int CheckBufferFormat(int nID, char* buffer, int maxSize);
    // Stores one normalised reading of sensor index (database lock held by the caller).
    void SaveWiFiSensorData(int index, const char* buffer, int len);

    SystemTime GetPollTime() const;
    void SetPollTime(const SystemTime& t);

  private:
    void CollectUdp();
    void CollectTcp();
    bool TcpMode() const;

    CAppForNimbo1App& m_app;
    AcquisitionEvents m_noEvents;
    AcquisitionEvents* m_events;
    std::atomic<int> m_pollingEnabled{0};
    std::atomic<std::uint32_t> m_seconds{0}; // touched by the tick only, read by tests
    mutable std::mutex m_pollTimeLock;
    SystemTime m_pollTime; // guarded by m_pollTimeLock
    std::mutex m_pollThreadLock;
    std::jthread m_pollThread;          // guarded by m_pollThreadLock
    std::atomic<bool> m_pollRunning{false};
    std::jthread m_receiveThread;
    std::atomic<bool> m_receiveEnded{false};
    bool m_stopped = false;
};

} // namespace hygro
