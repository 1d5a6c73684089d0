#include "scan/PageHandler.h"

#include "imaging/ImageFile.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "scan/PageNaming.h"
#include "scan/SaveBitmap.h"

#include <QFile>
#include <QFileInfo>

#include <limits>
#include <system_error>
#include <thread>

namespace kelvo {

namespace {

QString absoluteName(const QString& name)
{
    return QFileInfo(name).absoluteFilePath();
}

// Saturates instead of wrapping: a start value of 2147483647 must not turn negative.
void countPage(int32_t& counter)
{
    if (counter < std::numeric_limits<int32_t>::max())
        ++counter;
}

} // namespace

PageHandler::PageHandler(ScanSettings& settings, SessionState& session, ScanUi& ui,
                         Launcher& launcher, PdfDocuments& pdf)
    : m_settings(settings), m_session(session), m_ui(ui), m_launcher(launcher), m_pdf(pdf)
{
}

QString PageHandler::temporaryBitmapName(int number)
{
    const QString dir = privateTempDir();
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/Scan%1.BMP").arg(number);
}

void PageHandler::noteWritten(const QString& fileName)
{
    if (!fileName.isEmpty())
        m_written.insert(absoluteName(fileName));
}

bool PageHandler::writtenByUs(const QString& name) const
{
    return m_written.contains(absoluteName(name));
}

QString PageHandler::nameToStore(const QString& name)
{
    const bool interactive = !m_settings.ExitAfterRun;
    if (interactive && m_clash == Clash::Ask && entryExists(name) && !writtenByUs(name)) {
        const int answer = m_ui.messageBox(
            QStringLiteral("Die Datei „%1“ existiert bereits. Vorhandene Dateien ersetzen?").arg(name),
            QStringLiteral("Scannen"), MB_YESNO);
        m_clash = answer == IDYES ? Clash::Replace : Clash::Avoid;
    }
    // A file of ours that the caller has moved away is no longer there to be replaced.
    const auto taken = [&](const QString& n) {
        return entryExists(n) && (writtenByUs(n) || (interactive && m_clash == Clash::Avoid));
    };
    // The counter's sequence is finite (and may run into names that never advance): give up
    // after a full round rather than loop.
    QString candidate = name;
    for (int tries = 0; taken(candidate); ++tries) {
        const QString next = advanceName(candidate);
        if (tries > 100000 || next == name)
            return {};
        candidate = next;
    }
    return candidate;
}

int PageHandler::store(Bitmap& page, const QString& writtenName, const QString& formatName)
{
    const StoreFormat how = storeFormatFor(formatName, page.bitsPerPixel);
    if (!how.pdf) {
        if (writtenName.size() > kMaxFileNameChars)
            return ERROR_NAME_TOO_LONG;
        return L_SaveBitmap(writtenName, page, how.formatCode, how.bitsPerPixel, how.quality);
    }
    // The session's first PDF page opens the document, whatever the counter's start value.
    if (m_session.PdfDocument == 0) {
        m_session.PdfDocument = m_pdf.CreatePdfDocument(m_settings.Resolution);
        if (m_session.PdfDocument == 0)
            return ERROR_NO_PDF_DOCUMENT;
        m_session.PdfFileName = writtenName;
    }
    const QString bitmapName = temporaryBitmapName(m_session.PageCounter);
    if (bitmapName.isEmpty()) {
        m_pdf.NotePageMissing(m_session.PdfDocument);
        return ERROR_FILE_CREATE;
    }
    // The picture is coded straight from the page while its recovery copy, the temporary
    // bitmap, is written beside it; both are done before the page goes on. The page is only
    // read meanwhile.
    int status = ERROR_FILE_CREATE;
    const auto save = [&] { status = saveScratchBitmap(bitmapName, page, how.bitsPerPixel, 0600); };
    std::thread writer;
    try {
        writer = std::thread(save);
    } catch (const std::system_error&) {
        save();
    }
    PdfPagePicture picture = PdfDocuments::encodePagePicture(page);
    if (writer.joinable())
        writer.join();
    if (status != SUCCESS) {
        m_pdf.NotePageMissing(m_session.PdfDocument);
        return status;
    }
    if (!m_pdf.AddPdfPage(m_session.PdfDocument, std::move(picture), 0.2, 0.2, m_session.PageCounter,
                          page.xResolution))
        return ERROR_FILE_READ;
    return SUCCESS;
}

int PageHandler::PageAcquired(Bitmap& page)
{
    m_ui.pushWaitCursor();
    if (m_settings.InvertImage == 1)
        L_InvertBitmap(page);
    if (m_settings.TargetFileName.isEmpty())
        m_settings.TargetFileName = QLatin1String(kDefaultTargetName);

    const QString format = upperNarrow(m_settings.OutputFormat);
    const QString target = fromNarrow(toNarrow(m_settings.TargetFileName));
    const PageName name = pageNameFor(target, format, page.bitsPerPixel);
    const bool pdf = isPdfFormat(name.formatName);

    // A PDF page names a file only when it opens the document.
    QString writtenName = name.writtenName;
    if (!pdf || m_session.PdfDocument == 0)
        writtenName = nameToStore(name.writtenName);
    const int status = writtenName.isEmpty() ? ERROR_FILE_CREATE : store(page, writtenName, name.formatName);
    if (writtenName.isEmpty())
        writtenName = name.writtenName;
    const bool stored = status == SUCCESS;
    if (!stored)
        m_ui.messageBox(QStringLiteral("L_SaveBitmap fehlgeschlagen, Error No: %1").arg(status),
                        QStringLiteral("Error!"), MB_OK);
    else if (!pdf)
        noteWritten(writtenName);
    if (stored && !m_settings.ExitAfterRun && !pdf)
        m_ui.openChildWindow(writtenName);
    L_FreeBitmap(page);
    m_ui.popCursor();
    if (stored && m_settings.ViewerMode == 0 && !pdf)
        m_launcher.startViewer(m_settings.ViewerProgram, writtenName);

    // The name advances for a failed page too: the next page never takes its place.
    m_settings.TargetFileName = advanceName(writtenName);
    if (!stored)
        return 1;
    countPage(m_session.PageCounter);
    ++m_storedInSession;
    if (!m_session.PageStored) {
        m_session.PageStored = true;
        m_session.FirstPageFile = pdf ? m_session.PdfFileName : writtenName;
    }
    m_session.LastPageFile = pdf ? m_session.FirstPageFile : writtenName;
    return 1;
}

} // namespace kelvo
