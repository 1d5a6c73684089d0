// Recording stand-ins for the user interface, the launcher, the notifier and the scanner.
#pragma once

#include "scanner/Twain.h"
#include "platform/Launcher.h"
#include "platform/Notifier.h"
#include "scan/ScanUi.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace kelvo::test {

struct Message {
    QString text;
    QString caption;
    int flags;
};

class FakeUi : public ScanUi {
public:
    QList<Message> messages;
    std::deque<int> answers; // answers to questions, in order; IDNO when none is left
    QStringList openedWindows;
    QStringList statusTexts;
    QStringList events; // "cursor+", "cursor-", "show", "msg:<caption>", "open:<file>"
    int cursorDepth = 0;

    int messageBox(const QString& text, const QString& caption, int flags) override
    {
        messages.append({text, caption, flags});
        events << QStringLiteral("msg:") + caption;
        if ((flags & 0xF) == MB_YESNO) {
            if (answers.empty())
                return IDNO;
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        return IDOK;
    }
    void pushWaitCursor() override { ++cursorDepth; events << QStringLiteral("cursor+"); }
    void popCursor() override { --cursorDepth; events << QStringLiteral("cursor-"); }
    void openChildWindow(const QString& f) override { openedWindows << f; events << QStringLiteral("open:") + f; }
    void showAndActivateMainWindow() override { events << QStringLiteral("show"); }
    void showStatus(const QString& t) override { statusTexts << t; }
};

class FakeLauncher : public Launcher {
public:
    QStringList viewers;  // "program|file"
    QStringList opened;   // files opened with the default application
    bool startViewer(const QString& program, const QString& fileArg) override
    {
        viewers << program + QLatin1Char('|') + fileArg;
        return !program.trimmed().isEmpty();
    }
    bool openWithDefaultApplication(const QString& file) override
    {
        opened << file;
        return true;
    }
};

class FakeNotifier : public Notifier {
public:
    QList<QByteArray> texts;
    void notify(const QByteArray& text) override { texts << text; }
};

// Records every call, in order, as text; acquire() hands out the pages it was given.
class FakeTwain : public TwainLayer {
public:
    bool available = true;
    QStringList calls;
    // One entry per acquire() call: the pages to deliver and the result to return.
    struct Acquisition {
        QList<QImage> pages;
        int result = 1;
    };
    std::deque<Acquisition> acquisitions;
    std::function<void()> duringAcquire; // runs inside acquire(), before the pages
    std::function<void(int)> duringPage;  // runs while page n is being "read", before it is handed over

    bool isAvailable() override { calls << QStringLiteral("available"); return available; }
    int openSession() override { calls << QStringLiteral("open"); return 1; }
    int selectResult = 1; // what the scanner list answers (ACQUIRE_CANCELLED: Abbrechen)
    int selectSource() override { calls << QStringLiteral("select"); return selectResult; }
    int startCapabilityNegotiation() override { calls << QStringLiteral("start"); return 1; }
    int setCapability(const TwainCapability& c, int flags) override
    {
        calls << QStringLiteral("cap %1 type %2 value %3 flag %4")
                     .arg(c.Cap, 4, 16, QLatin1Char('0')).arg(c.ItemType).arg(c.Item).arg(flags);
        return 1;
    }
    int setBitsPerPixel(int b) override { calls << QStringLiteral("bpp %1").arg(b); return 1; }
    int setResolution(const TW_FIX32& x, const TW_FIX32& y) override
    {
        requestedDpi = fix32ToDouble(x);
        calls << QStringLiteral("resolution %1 %2").arg(fix32ToDouble(x), 0, 'g', 17).arg(fix32ToDouble(y), 0, 'g', 17);
        return 1;
    }
    int setUnit(int u) override { calls << QStringLiteral("unit %1").arg(u); return 1; }
    int setImageFrame(const TW_FRAME& f) override
    {
        calls << QStringLiteral("frame %1 %2 %3 %4")
                     .arg(fix32ToDouble(f.Left), 0, 'g', 17).arg(fix32ToDouble(f.Top), 0, 'g', 17)
                     .arg(fix32ToDouble(f.Right), 0, 'g', 17).arg(fix32ToDouble(f.Bottom), 0, 'g', 17);
        return 1;
    }
    int enableDuplex(int e) override { calls << QStringLiteral("duplex %1").arg(e); return 1; }
    int endCapabilityNegotiation() override { calls << QStringLiteral("end"); return 1; }
    int acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress) override
    {
        calls << QStringLiteral("acquire %1").arg(flags);
        cancelRequested = false;
        if (duringAcquire)
            duringAcquire();
        Acquisition a;
        if (!acquisitions.empty()) {
            a = acquisitions.front();
            acquisitions.pop_front();
        }
        int n = 0;
        for (const QImage& img : a.pages) {
            if (cancelRequested)
                return ACQUIRE_CANCELLED;
            ++n;
            const qint64 bytes = img.sizeInBytes();
            if (onProgress) {
                onProgress({n, 0, bytes});
                onProgress({n, bytes, bytes});
            }
            if (duringPage)
                duringPage(n);
            // Stamped as a layer stamps a page from a device that reports no resolution.
            QImage stamped = img;
            stampResolution(stamped, stampedResolution(requestedDpi, 0), stampedResolution(requestedDpi, 0));
            Bitmap page = Bitmap::fromImage(std::move(stamped));
            onPage(page);
        }
        return cancelRequested ? ACQUIRE_CANCELLED : a.result;
    }
    // Honoured before each page; the calls list records it.
    void requestCancel() override
    {
        calls << QStringLiteral("cancel");
        cancelRequested = true;
    }
    int endSession() override { calls << QStringLiteral("close"); return 1; }
    bool cancelRequested = false;
    double requestedDpi = 0;
};

// A page of the given depth (1, 8 or 24 bits) with a recognisable pattern.
QImage testPage(int bitsPerPixel, int width = 64, int height = 48);

} // namespace kelvo::test
