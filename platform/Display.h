// Whether the process has a display to show windows on, decided once at start-up. A display
// that is named but cannot be reached (a stale DISPLAY or WAYLAND_DISPLAY) counts as none, so
// the program runs headless instead of aborting.
#pragma once

#include <QString>

namespace kelvo {

// Probes DISPLAY and WAYLAND_DISPLAY (before any window system is touched) and chooses Qt's
// platform: the one that answers, else "offscreen". Returns true when a display is usable.
bool chooseDisplay();
// The result of chooseDisplay() (false before it ran): no display means no window may wait
// for a click, and nothing is opened with the desktop's applications.
bool hasDisplay();
// Closes the connection that found the X server answering; call once Qt has connected.
void releaseDisplayProbe();
// Why there is no usable display, as a phrase for a message ("die Anzeige „:199“ antwortet
// nicht"); empty when there is one.
QString displayProblem();
// For tests: pretend the display state.
void setHasDisplay(bool on);

} // namespace kelvo
