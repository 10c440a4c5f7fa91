// Base settings most modules read: poll interval, ports, protocol, picture paths, counts.
#pragma once

#include <cstdint>
#include <string>

namespace hygro {

enum Protocol : std::uint8_t { kProtoUdp = 0, kProtoTcpServer = 1, kProtoTcpClient = 2 };

class CSensorInfo {
  public:
    std::uint32_t GetTimeForNet() const { return m_timeForNet; }
    void SetTimeForNet(std::uint32_t v) { m_timeForNet = v; }
    std::uint16_t GetDataPort() const { return m_dataPort; }
    void SetDataPort(std::uint16_t v) { m_dataPort = v; }
    std::uint16_t GetCmdPort() const { return m_cmdPort; }
    void SetCmdPort(std::uint16_t v) { m_cmdPort = v; }
    std::uint8_t GetUDPorTCP() const { return m_udpOrTcp; }
    void SetUDPorTCP(std::uint8_t v) { m_udpOrTcp = v; }
    const std::u16string& GetPath() const { return m_path; }
    void SetPath(std::u16string v) { m_path = std::move(v); }
    const std::u16string& GetPathHistory() const { return m_pathHistory; }
    void SetPathHistory(std::u16string v) { m_pathHistory = std::move(v); }
    int GetTotalCount() const { return m_totalCount; }
    void SetTotalCount(int v) { m_totalCount = v; }
    int GetRealCount() const { return m_realCount; }
    void SetRealCount(int v) { m_realCount = v; }

  private:
    std::uint32_t m_timeForNet = 10;
    std::uint16_t m_dataPort = 0;
    std::uint16_t m_cmdPort = 0;
    std::uint8_t m_udpOrTcp = kProtoUdp;
    std::u16string m_path;
    std::u16string m_pathHistory;
    int m_totalCount = 0;
    int m_realCount = 0;
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
