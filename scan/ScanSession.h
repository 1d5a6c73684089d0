// One scan session (the Scan action): scanner availability, settings sent to the scanner,
// the acquisition with the page handler, in PDF mode the question for further pages and the
// writing of the document, then the hand-off to the calling application and the viewer.
#pragma once

#include "imaging/Twain.h"
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

    PdfDocuments& pdfDocuments() { return m_pdf; }

private:
    void negotiate();
    void writePdf();

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
};

} // namespace kelvo
