// The program's message boxes. With a display they are modal Qt message boxes with German
// buttons; without one (servers, services) they are written to standard error as
// "caption: text" and answered at once (OK, or No to a question), so nothing waits for a
// click nobody can give.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kelvo {

// Must be called before the QApplication is created: picks the offscreen platform when
// there is no usable display (none named, or one that does not answer), and then answers
// every message box on standard error.
void prepareDisplayMode();
// Forces the unattended behaviour in tests that run on the offscreen platform.
void setAnswerMessagesOnStderr(bool on);
bool answersMessagesOnStderr();

// Replaces every message box (tests record and answer them); an empty hook removes it.
using MessageHook = std::function<int(const QString& text, const QString& caption, int flags)>;
void setMessageHook(MessageHook hook);

// flags: MB_OK / MB_YESNO, optionally | MB_ICONERROR. Returns IDOK, IDYES or IDNO.
int showMessageBox(QWidget* parent, const QString& text, const QString& caption, int flags);
// The framework's error box for a failed conversion: critical icon, OK.
void showErrorBox(QWidget* parent, const QString& text, const QString& caption);

} // namespace kelvo
