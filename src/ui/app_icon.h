// The station's icon (the same drawing as the installed hygrolog.svg), painted so that no
// SVG image plugin is needed.
#pragma once

#include <QIcon>

namespace hygro::ui {

QIcon AppIcon();

} // namespace hygro::ui
