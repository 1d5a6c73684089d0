// What happens to every scanned page: stored as an image file under the advancing target
// name, or added to the open PDF document; shown in a window or an external viewer; counted
// when it was stored. A page never replaces a file this process stored before, and in an
// interactive scan an existing file of someone else's is replaced only when the user says so.
#pragma once

#include "scan/SaveBitmap.h"
#include "imaging/Bitmap.h"
#include "platform/Launcher.h"
#include "scan/PdfDocument.h"
#include "scan/ScanSettings.h"
#include "scan/ScanUi.h"

#include <QSet>

namespace kelvo {

// Store results of the page handler besides those of L_SaveBitmap.
inline constexpr int ERROR_NO_PDF_DOCUMENT = -30; // PDF mode, but no document could be opened
inline constexpr int ERROR_NAME_TOO_LONG = -31;   // the file name would exceed 255 characters

class PageHandler {
public:
    PageHandler(ScanSettings& settings, SessionState& session, ScanUi& ui, Launcher& launcher,
                PdfDocuments& pdf);
    // Stores, shows and releases one page, advances the target name; always returns 1.
    int PageAcquired(Bitmap& page);

    // A new session (or chain of PDF sessions) begins: the question about existing files is
    // asked again.
    void beginSession()
    {
        m_clash = Clash::Ask;
        m_storedInSession = 0;
    }
    // Pages stored since beginSession(), for the summary.
    int storedInSession() const { return m_storedInSession; }
    // Remembers a file this process wrote (the PDF), so no later page replaces it.
    void noteWritten(const QString& fileName);

    // Name of the temporary bitmap of PDF page `number`, in this process's own directory.
    static QString temporaryBitmapName(int number);

private:
    enum class Clash { Ask, Replace, Avoid };
    int store(Bitmap& page, const QString& writtenName, const QString& formatName);
    // The name to store under: `name`, or a later one of its sequence when `name` was written
    // by this process, or exists and the user chose not to replace. Empty when none is free.
    QString nameToStore(const QString& name);
    bool writtenByUs(const QString& name) const;

    ScanSettings& m_settings;
    SessionState& m_session;
    ScanUi& m_ui;
    Launcher& m_launcher;
    PdfDocuments& m_pdf;
    QSet<QString> m_written; // absolute names of every file this process stored
    Clash m_clash = Clash::Ask;
    int m_storedInSession = 0;
};

} // namespace kelvo
