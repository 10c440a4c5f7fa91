// Base settings most modules read: poll interval, ports, protocol, picture paths, counts.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace hygro {

enum Protocol : std::uint8_t { kProtoUdp = 0, kProtoTcpServer = 1, kProtoTcpClient = 2 };

class CSensorInfo {
  public:
    std::uint32_t GetTimeForNet() const { return m_timeForNet.load(std::memory_order_relaxed); }
    void SetTimeForNet(std::uint32_t v) { m_timeForNet.store(v, std::memory_order_relaxed); }
    std::uint16_t GetDataPort() const { return m_dataPort.load(std::memory_order_relaxed); }
    void SetDataPort(std::uint16_t v) { m_dataPort.store(v, std::memory_order_relaxed); }
    std::uint16_t GetCmdPort() const { return m_cmdPort.load(std::memory_order_relaxed); }
    void SetCmdPort(std::uint16_t v) { m_cmdPort.store(v, std::memory_order_relaxed); }
    std::uint8_t GetUDPorTCP() const { return m_udpOrTcp.load(std::memory_order_relaxed); }
    void SetUDPorTCP(std::uint8_t v) { m_udpOrTcp.store(v, std::memory_order_relaxed); }
    const std::u16string& GetPath() const { return m_path; }
    void SetPath(std::u16string v) { m_path = std::move(v); }
    const std::u16string& GetPathHistory() const { return m_pathHistory; }
    void SetPathHistory(std::u16string v) { m_pathHistory = std::move(v); }
    int GetTotalCount() const { return m_totalCount.load(std::memory_order_relaxed); }
    void SetTotalCount(int v) { m_totalCount.store(v, std::memory_order_relaxed); }
    int GetRealCount() const { return m_realCount.load(std::memory_order_relaxed); }
    void SetRealCount(int v) { m_realCount.store(v, std::memory_order_relaxed); }

  private:
    // Ports, mode and interval are read by the network threads while the discovery
    // dialog may set them.
    std::atomic<std::uint32_t> m_timeForNet{10};
    std::atomic<std::uint16_t> m_dataPort{0};
    std::atomic<std::uint16_t> m_cmdPort{0};
    std::atomic<std::uint8_t> m_udpOrTcp{kProtoUdp};
    std::u16string m_path;
    std::u16string m_pathHistory;
    std::atomic<int> m_totalCount{0};
    std::atomic<int> m_realCount{0};
};

// Alarm mail account and pacing.
struct CAlarmMailInfo {
    std::u16string smtpServer;
    std::uint16_t smtpPort = 0;
    std::u16string mailTo;
    std::u16string user;
    std::u16string password;
    std::int32_t time = 10; // minutes between alarm mails
};

} // namespace hygro
