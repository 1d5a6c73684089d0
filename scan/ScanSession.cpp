#include "scan/ScanSession.h"

#include "platform/Paths.h"
#include "platform/Text.h"
#include "scan/HandOff.h"

#include <cstdio>

namespace kelvo {

namespace {

void setOneValue(TwainLayer& twain, uint16_t cap, uint16_t itemType, int32_t value)
{
    TwainCapability c;
    c.Cap = cap;
    c.ItemType = itemType;
    // Narrower items are stored zero-extended; a signed one as its two's complement.
    c.Item = itemType == TWTY_INT32 ? static_cast<uint32_t>(value)
                                    : static_cast<uint32_t>(static_cast<uint16_t>(value));
    twain.setCapability(c, 1);
}

} // namespace

ScanSession::ScanSession(ScanSettings& settings, SessionState& session, TwainLayer& twain,
                         ScanUi& ui, Launcher& launcher, Notifier& notifier, QString handOffDirectory)
    : m_settings(settings), m_session(session), m_twain(twain), m_ui(ui), m_launcher(launcher),
      m_notifier(notifier), m_handOffDirectory(std::move(handOffDirectory)), m_pdf(ui, launcher),
      m_pages(settings, session, ui, launcher, m_pdf)
{
}

void ScanSession::negotiate()
{
    const ScanSettings& s = m_settings;
    m_twain.startCapabilityNegotiation();
    setOneValue(m_twain, CAP_FEEDERENABLED, TWTY_BOOL, 1);
    setOneValue(m_twain, ICAP_XFERMECH, TWTY_UINT16, 0); // native transfer: pages in memory
    if (s.TransmissiveLight)
        setOneValue(m_twain, ICAP_LIGHTPATH, TWTY_UINT16, TWLP_TRANSMISSIVE);
    if (s.BlankPageMode != 0)
        setOneValue(m_twain, ICAP_AUTODISCARDBLANKPAGES, TWTY_INT32, s.BlankPageMode);
    if (s.AutoRotate)
        setOneValue(m_twain, ICAP_AUTOMATICROTATE, TWTY_BOOL, s.AutoRotate);
    m_twain.setBitsPerPixel(s.BitsPerPixel);
    const TW_FIX32 resolution = floatToFix32(static_cast<float>(s.Resolution));
    m_twain.setResolution(resolution, resolution);
    m_twain.setUnit(TWUN_PIXELS);
    TW_FRAME frame;
    frame.Left = floatToFix32(0.0f);
    frame.Top = floatToFix32(0.0f);
    frame.Right = floatToFix32(static_cast<float>(s.FrameWidthMm * s.Resolution / 25.4));
    frame.Bottom = floatToFix32(static_cast<float>(s.FrameHeightMm * s.Resolution / 25.4));
    m_twain.setImageFrame(frame);
    m_twain.enableDuplex(s.Duplex ? 1 : 0);
    m_twain.endCapabilityNegotiation();
}

void ScanSession::writePdf()
{
    const QString name = m_session.PdfFileName;
    const bool written = m_pdf.WritePdfDocument(m_session.PdfDocument, toNarrow(name), 1) == 1;
    m_session.PdfDocument = 0;
    m_session.PdfFileName.clear();
    m_pdfWritten = written;
    if (written) {
        m_pages.noteWritten(name);
        m_session.FirstPageFile = name;
        m_session.LastPageFile = name;
        m_session.PageCounter = 1;
    } else {
        // The caller must not look for a file that is not there.
        m_session.FirstPageFile.clear();
        m_session.LastPageFile.clear();
        m_session.PageCounter = 0;
    }
}

void ScanSession::cancel()
{
    if (m_acquiring)
        m_twain.requestCancel();
}

void ScanSession::stop()
{
    if (!m_running)
        return;
    m_stopping = true;
    cancel();
}

void ScanSession::salvage()
{
    if (!m_running)
        return;
    m_stopping = true;
    if (m_session.PdfDocument != 0)
        writePdf();
    finish();
}

int ScanSession::pageAcquired(Bitmap& page)
{
    // KELVO_LOG_PAGES: a line on standard error for each page handed over and each page
    // stored, so that long soak runs can count them against the files and the hand-off.
    static const bool logPages = qEnvironmentVariableIsSet("KELVO_LOG_PAGES");
    if (!logPages)
        return m_pages.PageAcquired(page);
    const int storedBefore = m_pages.storedInSession();
    std::fputs("KelvoBild: Seite übernommen\n", stderr);
    const int answer = m_pages.PageAcquired(page);
    if (m_pages.storedInSession() > storedBefore)
        std::fprintf(stderr, "KelvoBild: Seite gespeichert: %s\n", toNarrow(m_session.LastPageFile).constData());
    std::fflush(stderr);
    return answer;
}

void ScanSession::handOffNothingStored()
{
    WriteHandOff(toNarrow(m_session.LastPageFile), 0, "S", m_handOffDirectory, m_notifier);
}

QString ScanSession::summary() const
{
    const int pages = m_pages.storedInSession();
    const auto count = [](int n) {
        return n == 1 ? QStringLiteral("1 Seite") : QStringLiteral("%1 Seiten").arg(n);
    };
    if (m_pdfWritten)
        return QStringLiteral("PDF gespeichert – %1 (%2)").arg(m_session.LastPageFile, count(pages));
    if (pages == 0)
        return QStringLiteral("Keine Seite gespeichert");
    return QStringLiteral("%1 gespeichert – %2").arg(count(pages), m_session.LastPageFile);
}

void ScanSession::finish()
{
    if (!m_stopping)
        m_ui.showSummary(summary());
    WriteHandOff(toNarrow(m_session.LastPageFile), m_session.PageCounter, "S", m_handOffDirectory, m_notifier);
    m_session.PageCounter = 0;
    m_session.PageStored = false;
    removePrivateTempDir();

    if (!m_stopping && !isPdfFormat(m_settings.OutputFormat)) {
        if (m_settings.ViewerMode == '1')
            m_launcher.startViewer(m_settings.ViewerProgram, m_session.FirstPageFile);
        else if (m_settings.ViewerMode == 'L')
            m_launcher.startViewer(m_settings.ViewerProgram, m_session.LastPageFile);
    }
    m_running = false;
    m_stopping = false;
}

void ScanSession::FileScan1Execute()
{
    if (m_running)
        return;
    m_running = true;
    m_stopping = false;
    m_pdfWritten = false;
    m_pages.beginSession();
    bool cursorSet = false;
    bool scannerOpen = false;

    // Without the PDF engine no page scanned in PDF mode could be kept: the scanner is not
    // started at all, so the paper stays in the feeder.
    if (isPdfFormat(m_settings.OutputFormat) && m_session.PdfDocument == 0
        && !PdfDocuments::engineAvailable()) {
        m_ui.messageBox(QStringLiteral("PDF kann nicht erstellt werden: das PDF-Modul fehlt oder wurde abgelehnt "
                                       "(der Grund steht in der Standardfehlerausgabe). Es wurde nichts gescannt."),
                        QStringLiteral("Scan in PDF"), MB_ICONERROR);
        finish();
        return;
    }

    // A chain of sessions: each Yes to the PDF question scans further pages into the same
    // document. The cursor shown before the first session comes back at the end, and every
    // scanner session opened is ended.
    for (;;) {
        if (!m_twain.isAvailable()) {
            m_ui.messageBox(QStringLiteral("Twain driver is not installed!"),
                            QStringLiteral("Twain Driver"), MB_ICONERROR);
            if (!cursorSet) {
                m_running = false;
                return;
            }
            // Within a chain the pages scanned so far must still reach their file.
            if (m_session.PdfDocument != 0)
                writePdf();
            break;
        }
        m_twain.openSession();
        scannerOpen = true;
        // Abbrechen in the scanner list ends the session before anything else is shown.
        const int selected = m_settings.SelectSource == 1 ? m_twain.selectSource() : ACQUIRE_SUCCESS;
        if (!cursorSet) {
            m_ui.pushWaitCursor();
            cursorSet = true;
        }
        int result = ACQUIRE_CANCELLED;
        if (selected != ACQUIRE_CANCELLED && !m_stopping) {
            negotiate();
            m_acquiring = true;
            result = m_twain.acquire(
                [this](Bitmap& page) { return pageAcquired(page); },
                m_settings.ShowSourceUi ? ACQUIRE_SHOW_UI : 0,
                [this](const AcquireProgress& p) { m_ui.showScanProgress(p.page, p.bytesRead, p.bytesExpected); });
            m_acquiring = false;
            m_ui.endScanProgress();
        }
        // An end the user or the system asked for is no error to click away.
        if (result != 1 && !(m_stopping && result == ACQUIRE_CANCELLED))
            m_ui.messageBox(QStringLiteral("An error occurred in L_TwainAcquire(...), Error No: %1").arg(result),
                            QStringLiteral("Error!"), MB_OK);

        // Pages already in the PDF document are never dropped: after an error too the user
        // may scan on into it, or have it written. A program that is ending asks nothing.
        if (m_session.PdfDocument != 0) {
            if (!m_stopping) {
                m_ui.showAndActivateMainWindow();
                if (m_ui.messageBox(QStringLiteral("Weitere Seite(n) scannen?"), QStringLiteral("Scan in PDF"),
                                    MB_YESNO)
                        == IDYES
                    && !m_stopping) {
                    m_twain.endSession();
                    scannerOpen = false;
                    continue;
                }
            }
            writePdf();
        }
        break;
    }

    m_ui.popCursor();
    if (scannerOpen)
        m_twain.endSession();
    finish();
}

} // namespace kelvo
