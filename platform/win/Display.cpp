#include "platform/Display.h"

#include <QByteArray>
#include <QtGlobal>

#include <windows.h>

namespace kelvo {

namespace {

bool g_hasDisplay = false;

// A service or a scheduled task without a logged-on user runs on a window station nobody
// sees: a message box there would wait for a click forever.
bool visibleWindowStation()
{
    USEROBJECTFLAGS flags {};
    HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Without a display Qt runs on its "minimal" platform, where the Windows Vista style would
// ask the missing window system for its theme and never return: nobody sees the widgets, so
// they get Qt's own style.
void withoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE"))
        qputenv("QT_STYLE_OVERRIDE", "fusion");
}

} // namespace

bool chooseDisplay()
{
    const QByteArray forced = qgetenv("QT_QPA_PLATFORM");
    if (forced == "offscreen" || forced == "minimal") {
        g_hasDisplay = false;
        withoutDisplay();
        return false;
    }
    g_hasDisplay = visibleWindowStation();
    if (!g_hasDisplay) {
        if (forced.isEmpty())
            qputenv("QT_QPA_PLATFORM", "minimal");
        withoutDisplay();
    }
    return g_hasDisplay;
}

bool hasDisplay()
{
    return g_hasDisplay;
}

void setHasDisplay(bool on)
{
    g_hasDisplay = on;
}

} // namespace kelvo
