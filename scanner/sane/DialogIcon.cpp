#include "scanner/sane/DialogIcon.h"

#include <QGuiApplication>
#include <QWidget>

namespace kelvo {

QIcon dialogIcon(QWidget* parent)
{
    const QIcon app = QGuiApplication::windowIcon();
    if (!app.isNull() || !parent)
        return app;
    return parent->window()->windowIcon();
}

} // namespace kelvo
