#include "scan/PageHandler.h"

#include "imaging/ImageFile.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "scan/PageNaming.h"

#include <limits>

namespace kelvo {

namespace {

int truncatedResolution(double resolution)
{
    if (!(resolution > 0))
        return 0;
    if (resolution >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(resolution);
}

void stampResolution(Bitmap& page, int dpi)
{
    page.xResolution = dpi;
    page.yResolution = dpi;
    // The page owns its pixels, so this does not copy them.
    const int dpm = qRound(dpi / 0.0254);
    if (page.image.dotsPerMeterX() != dpm)
        page.image.setDotsPerMeterX(dpm);
    if (page.image.dotsPerMeterY() != dpm)
        page.image.setDotsPerMeterY(dpm);
}

bool isPdf(const QString& formatName)
{
    return formatName.toUpper() == QLatin1String("PDF");
}

} // namespace

PageHandler::PageHandler(ScanSettings& settings, SessionState& session, ScanUi& ui,
                         Launcher& launcher, PdfDocuments& pdf)
    : m_settings(settings), m_session(session), m_ui(ui), m_launcher(launcher), m_pdf(pdf)
{
}

QString PageHandler::temporaryBitmapName(int number)
{
    return tempDir() + QStringLiteral("/Scan%1.BMP").arg(number);
}

int PageHandler::store(Bitmap& page, const QString& writtenName, const QString& formatName)
{
    const StoreFormat how = storeFormatFor(formatName, page.bitsPerPixel);
    if (!how.pdf) {
        if (writtenName.size() > kMaxFileNameChars)
            return ERROR_NAME_TOO_LONG;
        return L_SaveBitmap(writtenName, page, how.formatCode, how.bitsPerPixel, how.quality);
    }
    if (m_session.PageCounter == 0)
        m_session.PdfDocument = m_pdf.CreatePdfDocument(m_settings.Resolution);
    if (m_session.PdfDocument == 0)
        return ERROR_NO_PDF_DOCUMENT;
    const QString bitmapName = temporaryBitmapName(m_session.PageCounter);
    // Private to this user; a symbolic link at the name is refused, not written through.
    const int status = L_SaveBitmap(bitmapName, page, FILE_BMP, how.bitsPerPixel, 0, 0600);
    // Only a bitmap written now may become a page: an old one of that name is another page.
    if (status == SUCCESS)
        m_pdf.AddPdfPage(m_session.PdfDocument, toNarrow(bitmapName), 0.2, 0.2, m_session.PageCounter);
    return status;
}

int PageHandler::PageAcquired(Bitmap& page)
{
    m_ui.pushWaitCursor();
    if (m_settings.InvertImage == 1)
        L_InvertBitmap(page);
    stampResolution(page, truncatedResolution(m_settings.Resolution));
    if (m_settings.TargetFileName.isEmpty())
        m_settings.TargetFileName = QLatin1String(kDefaultTargetName);

    const QString format = upperNarrow(m_settings.OutputFormat);
    const QString target = fromNarrow(toNarrow(m_settings.TargetFileName));
    const PageName name = pageNameFor(target, format, page.bitsPerPixel);
    const bool pdf = isPdf(name.formatName);

    const int status = store(page, name.writtenName, name.formatName);
    if (status != SUCCESS)
        m_ui.messageBox(QStringLiteral("L_SaveBitmap fehlgeschlagen, Error No: %1").arg(status),
                        QStringLiteral("Error!"), MB_OK);
    if (!m_settings.ExitAfterRun && !pdf)
        m_ui.openChildWindow(name.writtenName);
    L_FreeBitmap(page);
    m_ui.popCursor();
    if (m_settings.ViewerMode == 0 && !pdf)
        m_launcher.startViewer(m_settings.ViewerProgram, name.writtenName);

    m_settings.TargetFileName = advanceName(name.writtenName);
    ++m_session.PageCounter;
    if (m_session.PageCounter == 1)
        m_session.FirstPageFile = name.writtenName;
    m_session.LastPageFile = pdf ? m_session.FirstPageFile : name.writtenName;
    return 1;
}

} // namespace kelvo
