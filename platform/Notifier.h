// Carries the hand-off notification to the calling application's window: X11 window search,
// the registered atom KELVODATA1, POSIX shared memory /KELVODATA1 and a ClientMessage.
#pragma once

#include <QByteArray>

namespace kelvo {

class Notifier {
public:
    virtual ~Notifier() = default;
    // Delivers `text`; silently does nothing when there is no display or no receiver.
    virtual void notify(const QByteArray& text) = 0;
};

class X11Notifier final : public Notifier {
public:
    void notify(const QByteArray& text) override;
};

} // namespace kelvo
