// "Get IP & Connect", the operator's window onto the sensor network, and "Add", the
// chooser of found sensors.
#pragma once

#include "util/ipv4.h"

#include <QDialog>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace hygro {
class CAppForNimbo1App;
}

namespace hygro::ui {

// What the discovery dialog needs from the main window.
struct DiscoveryHost {
    // Polling on (1) or off (0).
    std::function<void(int enabled)> setTimerFlags;
    // Removes found sensor `index` from the database completely; called on the GUI thread
    // with polling off and the database lock held.
    std::function<void(int index)> deleteDevice2;
};

class CDlgGetIpAndConnect : public QDialog {
    Q_OBJECT
  public:
    CDlgGetIpAndConnect(CAppForNimbo1App& app, DiscoveryHost host, QWidget* parent = nullptr);
    ~CDlgGetIpAndConnect() override;

    // GUI thread only: the main window queues calls from other threads.
    void SetDevConnectValue(int index, int connected);
    void StartRx(int index);
    void StartTx(int index);
    // A known sensor's serial was refreshed by a search reply.
    void SetSerial(int index, int serial);
    int GetIsClosing() const;

    // For tests: the search's step (1 s) and the progress window's tick (1 s); set while
    // no search runs.
    void SetTimings(std::chrono::milliseconds searchStep, std::chrono::milliseconds progressTick);
    bool IsSearching() const;
    bool RxOn(int index) const;
    bool TxOn(int index) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// A found sensor offered by the chooser.
struct FoundSensor {
    int index = 0; // sensor index
    IPv4Bytes ip{};
    int serial = 0;
};

class CDlgFindWiFiSensor : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgFindWiFiSensor(QWidget* parent = nullptr);
    ~CDlgFindWiFiSensor() override;

    // result receives the chosen sensor indices (in list order) on OK; found are the
    // found sensors in index order, read by the caller under the database lock.
    void SetInfo(std::vector<int>* result, std::vector<FoundSensor> found);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace hygro::ui
