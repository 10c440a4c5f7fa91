// The two dialogs that collect a sensor's values: "Append Sensor Info" while a found
// sensor is placed on the map, and "Edit" for an in-use sensor.
#pragma once

#include "util/ipv4.h"

#include <QColor>
#include <QDialog>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QCloseEvent;
class QKeyEvent;

namespace hygro::ui {

// An in-use sensor as the checks see it.
struct SensorRef {
    std::string name;   // UTF-8, as in the Dev table
    std::string folder; // UTF-8, as in the Dev table
    int number = 0;     // Table "No."
};

// A pending sensor offered in the "IP:" list; position is its pending position.
struct PendingRef {
    IPv4Bytes ip{};
    int serial = 0;
    int position = 0;
};

class CDlgSetSensorName : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgSetSensorName(QWidget* parent = nullptr);
    ~CDlgSetSensorName() override;

    void SetInfo(std::vector<int> candidates, std::filesystem::path dataPath, std::vector<PendingRef> pending,
                 std::vector<SensorRef> inUse, double hMax, double hMin, double tMax, double tMin);

    // Valid after OK. Texts are UTF-8.
    std::string GetSensorName() const;
    std::string GetSaveDataFolderName() const;
    double GetHMaxValue() const;
    double GetHMinValue() const;
    double GetTMaxValue() const;
    double GetTMinValue() const;
    QColor GetLineColor() const;
    int GetSensorNo() const;
    int GetIndex() const; // the chosen pending position
    int GetKind() const;  // 0 new folder, 1 old folder

    // The colour button's colour, as the colour chooser would set it.
    void SetColourForTest(const QColor& colour);
    // The offered old folders, in list order (UTF-8, exactly as on disk).
    const std::vector<std::string>& OldFolders() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnOK();
    void OnNewSensor();
    void OnOldSensor();
    struct Impl;
    std::unique_ptr<Impl> m;
};

struct EditSensorInfo {
    std::string name; // UTF-8
    QColor colour;
    int show = 1;
    double hMax = 0, hMin = 0, tMax = 0, tMin = 0;
    int number = 0;
    IPv4Bytes ip{};
    std::string folder; // UTF-8
    int serial = 0;
    int readMode = 0; // 1: name read-only
};

class CDlgEditOneOfSensor : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgEditOneOfSensor(QWidget* parent = nullptr);
    ~CDlgEditOneOfSensor() override;

    // inUse: every in-use sensor (the edited one included), for the folder check.
    void SetInfo(const EditSensorInfo& info, std::filesystem::path dataPath, std::vector<SensorRef> inUse);

    // Valid after OK. Texts are UTF-8; the folder as accepted (upper case when changed).
    std::string GetName() const;
    QColor GetESColor() const;
    int GetIsShow() const;
    double GetHMax() const;
    double GetHMin() const;
    double GetTMax() const;
    double GetTMin() const;
    std::string GetFolder() const;

    // The colour button's colour, as the colour chooser would set it.
    void SetColourForTest(const QColor& colour);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnOK();
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace hygro::ui
