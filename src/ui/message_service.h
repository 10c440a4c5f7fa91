// Shows the core's operator messages as modal boxes on the GUI thread. With
// HYGROLOG_AUTO_ANSWER=ok|yes|no set (tests, unattended runs) no box is shown: the text
// goes to stderr as "hygrolog message: <text>" and the given answer is returned.
#pragma once

namespace hygro::ui {

void InstallMessageService();

} // namespace hygro::ui
