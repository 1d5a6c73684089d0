#include "app/AboutBox.h"

#include "app/Glyphs.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

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
    label("Copyright", QStringLiteral("Copyright © 2026 Kelvo eG. Alle Rechte vorbehalten."), 88, 59);

    auto* news = new QPlainTextEdit(panel);
    news->setObjectName(QStringLiteral("Neues"));
    news->setReadOnly(true);
    news->setGeometry(8, 88, 313 - 17, 68);
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
    QDialog::showEvent(event);
    m_ok->setFocus(Qt::OtherFocusReason);
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
