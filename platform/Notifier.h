// Carries the hand-off notification to the calling application's window. On Windows: FindWindowW
// for the window classes, RegisterWindowMessageW("KELVODATA1"), the named file mapping
// "KELVODATA1" and SendMessageW. On Linux: X11 window search, the atom KELVODATA1, POSIX shared
// memory /KELVODATA1 and a ClientMessage.
#pragma once

#include <QByteArray>

namespace kelvo {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Delivers `text`; silently does nothing when there is no display or no receiver.
    virtual void notify(const QByteArray& text) = 0;
};

class SystemNotifier final : public Notifier {
public:
    void notify(const QByteArray& text) override;
};

} // namespace kelvo
