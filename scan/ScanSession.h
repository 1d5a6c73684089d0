// One scan session (the Scan action): scanner availability, settings sent to the scanner,
// the acquisition with the page handler, in PDF mode the question for further pages and the
// writing of the document, then the hand-off to the calling application and the viewer.
#pragma once

#include "scanner/Twain.h"
#include "platform/Launcher.h"
#include "platform/Notifier.h"
#include "scan/PageHandler.h"
#include "scan/PdfDocument.h"
#include "scan/ScanSettings.h"
#include "scan/ScanUi.h"

namespace kelvo {

class ScanSession {
public:
    ScanSession(ScanSettings& settings, SessionState& session, TwainLayer& twain, ScanUi& ui,
                Launcher& launcher, Notifier& notifier, QString handOffDirectory);

    // Runs a session, and the further sessions the user asks for in PDF mode, to the end.
    // Does nothing while a session is already running.
    void FileScan1Execute();
    bool running() const { return m_running; }
    // Ends a running session early (Abbrechen): the acquisition stops after the page being
    // stored; pages stored so far are kept and handed off as after any acquisition error.
    void cancel();
    // The same when the program is about to end (quit, SIGTERM): no further question is
    // asked, an open PDF document is written with the pages it has, then the hand-off.
    void stop();
    // After the X server went away or a fatal end: writes what can still be written (the
    // open PDF, the hand-off) without asking anything. Only while a session runs.
    void salvage();

    PdfDocuments& pdfDocuments() { return m_pdf; }

private:
    void negotiate();
    void writePdf();
    void finish(); // steps after the chain: hand-off, counter, viewer, temporary files
    QString summary() const;

    ScanSettings& m_settings;
    SessionState& m_session;
    TwainLayer& m_twain;
    ScanUi& m_ui;
    Launcher& m_launcher;
    Notifier& m_notifier;
    QString m_handOffDirectory;
    PdfDocuments m_pdf;
    PageHandler m_pages;
    bool m_running = false;
    bool m_stopping = false;
    bool m_acquiring = false;
    bool m_pdfWritten = false;
};

} // namespace kelvo
