// Stand-ins for the outside world of the scan code in benchmarks: messages are printed and
// answered as no one were there (No, OK), nothing is started, nobody is notified.
#pragma once

#include "platform/Launcher.h"
#include "platform/Notifier.h"
#include "scan/ScanUi.h"

#include <cstdio>

namespace bench {

struct QuietUi final : kelvo::ScanUi {
    int messageBox(const QString& text, const QString& caption, int flags) override
    {
        std::printf("  message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return (flags & 0xF) == kelvo::MB_YESNO ? kelvo::IDNO : kelvo::IDOK;
    }
    void pushWaitCursor() override {}
    void popCursor() override {}
    void openChildWindow(const QString&) override {}
    void showAndActivateMainWindow() override {}
    void showStatus(const QString&) override {}
};

struct NoLauncher final : kelvo::Launcher {
    bool startViewer(const QString&, const QString&) override { return false; }
    bool openWithDefaultApplication(const QString&) override { return false; }
};

struct NoNotifier final : kelvo::Notifier {
    void notify(const QByteArray&) override {}
};

} // namespace bench
