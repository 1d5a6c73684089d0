// What happens to every scanned page: stored as an image file under the advancing target
// name, or added to the open PDF document; shown in a window or an external viewer; counted.
#pragma once

#include "imaging/Bitmap.h"
#include "platform/Launcher.h"
#include "scan/PdfDocument.h"
#include "scan/ScanSettings.h"
#include "scan/ScanUi.h"

namespace kelvo {

// Store results of the page handler besides those of L_SaveBitmap.
inline constexpr int ERROR_NO_PDF_DOCUMENT = -30; // PDF mode, but no document is open
inline constexpr int ERROR_NAME_TOO_LONG = -31;   // the file name would exceed 255 characters

class PageHandler {
public:
    PageHandler(ScanSettings& settings, SessionState& session, ScanUi& ui, Launcher& launcher,
                PdfDocuments& pdf);
    // Stores, shows and releases one page, advances the target name; always returns 1.
    int PageAcquired(Bitmap& page);

    // Name of the temporary bitmap of PDF page `number`.
    static QString temporaryBitmapName(int number);

private:
    int store(Bitmap& page, const QString& writtenName, const QString& formatName);

    ScanSettings& m_settings;
    SessionState& m_session;
    ScanUi& m_ui;
    Launcher& m_launcher;
    PdfDocuments& m_pdf;
};

} // namespace kelvo
