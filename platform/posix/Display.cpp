#include "platform/Display.h"

#include <QByteArray>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QtGlobal>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace kelvo {

namespace {

bool g_hasDisplay = false;

bool xServerAnswers()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c)
        xcb_disconnect(c);
    return ok;
}

// A Wayland compositor listens on a Unix socket; Qt needs its own plugin to speak to it.
bool waylandAnswers()
{
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QLatin1String("/platforms/");
    if (!QFileInfo::exists(plugins + QLatin1String("libqwayland-generic.so"))
        && !QFileInfo::exists(plugins + QLatin1String("libqwayland-egl.so")))
        return false;
    const QByteArray path = name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
    sockaddr_un addr {};
    if (path.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool chooseDisplay()
{
    const QByteArray forced = qgetenv("QT_QPA_PLATFORM");
    if (forced == "offscreen" || forced == "minimal") {
        g_hasDisplay = false;
        return false;
    }
    if (!forced.isEmpty() && forced != "xcb" && !forced.startsWith("wayland")) {
        g_hasDisplay = true; // a platform the user chose (vnc, eglfs, …): theirs to make work
        return true;
    }
    if (waylandAnswers()) {
        if (forced.isEmpty())
            qputenv("QT_QPA_PLATFORM", "wayland");
        g_hasDisplay = true;
    } else if (xServerAnswers()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        g_hasDisplay = true;
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        g_hasDisplay = false;
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
