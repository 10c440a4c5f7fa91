// SIGTERM and SIGINT close the given window exactly like its close box.
#pragma once

class QWidget;

namespace hygro::ui {

void CloseOnTerminationSignals(QWidget* window);

} // namespace hygro::ui
