#include "ui/discovery_dialogs.h"

// Placeholder until the dialogs land.
namespace hygro::ui {
struct CDlgGetIpAndConnect::Impl {};
CDlgGetIpAndConnect::CDlgGetIpAndConnect(CAppForNimbo1App&, DiscoveryHost, QWidget* parent)
    : QDialog(parent), m(std::make_unique<Impl>()) {}
CDlgGetIpAndConnect::~CDlgGetIpAndConnect() = default;
void CDlgGetIpAndConnect::SetDevConnectValue(int, int) {}
void CDlgGetIpAndConnect::StartRx(int) {}
void CDlgGetIpAndConnect::StartTx(int) {}
void CDlgGetIpAndConnect::SetSerial(int, int) {}
int CDlgGetIpAndConnect::GetIsClosing() const { return 0; }

struct CDlgFindWiFiSensor::Impl {};
CDlgFindWiFiSensor::CDlgFindWiFiSensor(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {}
CDlgFindWiFiSensor::~CDlgFindWiFiSensor() = default;
void CDlgFindWiFiSensor::SetInfo(std::vector<int>*, std::vector<FoundSensor>) {}
} // namespace hygro::ui
