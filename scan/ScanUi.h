// What scanning asks of the user interface. The main window implements it; tests fake it.
// Code in scan/ reaches widgets only through this interface.
#pragma once

#include <QString>

namespace kelvo {

// Message box flags and answers, with the values of the calling applications' world.
inline constexpr int MB_OK = 0;
inline constexpr int MB_YESNO = 4;
inline constexpr int MB_ICONERROR = 0x10;
// With MB_YESNO: No is the default button, so Enter does not say yes to something lasting.
inline constexpr int MB_DEFBUTTON2 = 0x100;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

class ScanUi {
public:
    virtual ~ScanUi() = default;
    // Modal message box; returns IDOK, IDYES or IDNO.
    virtual int messageBox(const QString& text, const QString& caption, int flags) = 0;
    // Wait cursor on top of the current one, and back to what was shown before.
    virtual void pushWaitCursor() = 0;
    virtual void popCursor() = 0;
    // Opens a stored page in an image window.
    virtual void openChildWindow(const QString& fileName) = 0;
    // Shows, activates and raises the main window (before the PDF question).
    virtual void showAndActivateMainWindow() = 0;
    // Status bar text while scanning; empty clears it.
    virtual void showStatus(const QString& text) = 0;
    // The page being read: bytes read so far of the bytes expected (-1: not known). A window
    // shows a bar and a way to cancel; the default shows the page number.
    virtual void showScanProgress(int page, qint64 bytesRead, qint64 bytesExpected)
    {
        Q_UNUSED(bytesRead);
        Q_UNUSED(bytesExpected);
        showStatus(QStringLiteral("Seite %1 wird gescannt …").arg(page));
    }
    // The acquisition is over: the progress display goes away.
    virtual void endScanProgress() { showStatus(QString()); }
    // What a finished session stored, shown for a few seconds.
    virtual void showSummary(const QString& text) { showStatus(text); }
};

} // namespace kelvo
