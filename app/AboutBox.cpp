#include "app/AboutBox.h"

#include "app/Glyphs.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace kelvo {

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Info"));
    setFixedSize(328, 213);
    setModal(true);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setGeometry(9, 8, 304, 161);

    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setGeometry(8, 8, 64, 64);
    icon->setPixmap(programIcon(64));

    const auto label = [panel](const char* name, const QString& text, int x, int y) {
        auto* l = new QLabel(text, panel);
        l->setObjectName(QLatin1String(name));
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    label("ProductName", QStringLiteral("Kelvo-Scan-Modul und Viewer"), 88, 16);
    label("Version", QStringLiteral("Version 1.4"), 88, 40);
    // One line that fits the panel whole.
    label("Copyright", QStringLiteral("Copyright © 2026 Kelvo eG"), 88, 59);

    auto* news = new QPlainTextEdit(panel);
    news->setObjectName(QStringLiteral("Neues"));
    news->setReadOnly(true);
    // Inside the panel, so that its border shows on every side.
    news->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    news->setGeometry(8, 88, 304 - 2 * 8, 68);
    news->setPlainText(QStringLiteral("Neu:\n"
                                      "/L Leerseiten ignorieren (Version 1.2)\n"
                                      "/U automatisch umdrehen (Version 1.2)\n"
                                      "/CPDF neues Format (Version 1.4)"));

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setGeometry(133, 179, 65, 26);
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    // Centred on the screen of the window it belongs to, not on that window.
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (QScreen* screen = owner ? owner->screen() : this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(event);
    m_ok->setFocus(Qt::OtherFocusReason);
}

void TAboutBox::changeEvent(QEvent* event)
{
    // A fixed dialog: a window manager's maximise request is undone.
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
}

void TAboutBox::keyPressEvent(QKeyEvent* event)
{
    // There is no cancel button, so Escape does not close the box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kelvo
