#include "ui/sensor_dialogs.h"

// Placeholder until the dialogs land.
namespace hygro::ui {
struct CDlgSetSensorName::Impl {};
CDlgSetSensorName::CDlgSetSensorName(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {}
CDlgSetSensorName::~CDlgSetSensorName() = default;
void CDlgSetSensorName::SetInfo(std::vector<int>, std::filesystem::path, std::vector<PendingRef>, std::vector<SensorRef>,
                                double, double, double, double) {}
std::string CDlgSetSensorName::GetSensorName() const { return {}; }
std::string CDlgSetSensorName::GetSaveDataFolderName() const { return {}; }
double CDlgSetSensorName::GetHMaxValue() const { return 0; }
double CDlgSetSensorName::GetHMinValue() const { return 0; }
double CDlgSetSensorName::GetTMaxValue() const { return 0; }
double CDlgSetSensorName::GetTMinValue() const { return 0; }
QColor CDlgSetSensorName::GetLineColor() const { return {}; }
int CDlgSetSensorName::GetSensorNo() const { return 0; }
int CDlgSetSensorName::GetIndex() const { return 0; }
int CDlgSetSensorName::GetKind() const { return 0; }

struct CDlgEditOneOfSensor::Impl {};
CDlgEditOneOfSensor::CDlgEditOneOfSensor(QWidget* parent) : QDialog(parent), m(std::make_unique<Impl>()) {}
CDlgEditOneOfSensor::~CDlgEditOneOfSensor() = default;
void CDlgEditOneOfSensor::SetInfo(const EditSensorInfo&, std::filesystem::path, std::vector<SensorRef>) {}
std::string CDlgEditOneOfSensor::GetName() const { return {}; }
QColor CDlgEditOneOfSensor::GetESColor() const { return {}; }
int CDlgEditOneOfSensor::GetIsShow() const { return 0; }
double CDlgEditOneOfSensor::GetHMax() const { return 0; }
double CDlgEditOneOfSensor::GetHMin() const { return 0; }
double CDlgEditOneOfSensor::GetTMax() const { return 0; }
double CDlgEditOneOfSensor::GetTMin() const { return 0; }
std::string CDlgEditOneOfSensor::GetFolder() const { return {}; }
} // namespace hygro::ui
