// For end-to-end tests that drive the station with real input events under a virtual X
// server: where every visible control, menu item, table cell and map box is on screen,
// written as JSON to a file a few times a second. Off unless HYGROLOG_UI_PROBE names the
// file.
#pragma once

#include <QString>

namespace hygro::ui {

// Starts the probe when HYGROLOG_UI_PROBE is set (call after the QApplication exists).
void StartUiProbeFromEnvironment();
// The JSON text describing the visible top-level windows now.
QString DescribeVisibleWindows();

} // namespace hygro::ui
