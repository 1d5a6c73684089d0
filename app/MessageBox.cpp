#include "app/MessageBox.h"

#include "platform/Display.h"
#include "scan/ScanUi.h"

#include <QMessageBox>

#include <cstdio>

namespace kelvo {

namespace {
bool g_onStderr = false;
MessageHook g_hook;

int answerOnStderr(const QString& text, const QString& caption, int flags)
{
    const QByteArray line = (caption + QLatin1String(": ") + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
}
} // namespace

void prepareDisplayMode()
{
    if (!chooseDisplay()) {
        g_onStderr = true;
        // Standard error carries the program's messages for the caller, one per line: Qt's
        // own remarks (the offscreen platform, codecs, paths) stay out of it.
        static const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (type == QtCriticalMsg || type == QtFatalMsg)
                    previous(type, context, message);
            });
    }
}

void setAnswerMessagesOnStderr(bool on)
{
    g_onStderr = on;
}

bool answersMessagesOnStderr()
{
    return g_onStderr;
}

void setMessageHook(MessageHook hook)
{
    g_hook = std::move(hook);
}

int showMessageBox(QWidget* parent, const QString& text, const QString& caption, int flags)
{
    if (g_hook)
        return g_hook(text, caption, flags);
    if (g_onStderr)
        return answerOnStderr(text, caption, flags);
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon((flags & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::NoIcon);
    if ((flags & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton((flags & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void showErrorBox(QWidget* parent, const QString& text, const QString& caption)
{
    if (g_hook) {
        g_hook(text, caption, MB_OK | MB_ICONERROR);
        return;
    }
    if (g_onStderr) {
        answerOnStderr(text, caption, MB_OK);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace kelvo
