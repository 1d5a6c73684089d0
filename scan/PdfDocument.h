// The PDF documents of PDF-mode scanning: opened on a session's first page, one page per scanned
// page bitmap, written (and optionally opened for the user) when the session chain ends.
#pragma once

#include "scan/SaveBitmap.h"
#include "imaging/Bitmap.h"
#include "platform/Launcher.h"
#include "scan/ScanUi.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace kelvo {

// One page's picture, compressed for a PDF page and not yet placed (see
// PdfDocuments::encodePagePicture). Null when the page could not be coded.
class PdfPagePicture {
public:
    PdfPagePicture();
    ~PdfPagePicture();
    PdfPagePicture(PdfPagePicture&&) noexcept;
    PdfPagePicture& operator=(PdfPagePicture&&) noexcept;
    bool isNull() const { return !d_; }

private:
    friend class PdfDocuments;
    struct Data;
    std::unique_ptr<Data> d_;
};

class PdfDocuments {   // the open documents of this process, by handle
public:
    PdfDocuments(ScanUi& ui, Launcher& launcher);
    ~PdfDocuments();
    PdfDocuments(const PdfDocuments&) = delete;
    PdfDocuments& operator=(const PdfDocuments&) = delete;

    // The PDF engine can be loaded (it is, on the first call); the reason it cannot is
    // said once on standard error.
    static bool engineAvailable();
    // Opens a document; returns a handle > 0, or 0 on failure. The resolution (dpi) is the scan
    // resolution; truncated toward zero it is the resolution of every page's picture.
    int CreatePdfDocument(double resolution);
    // Appends one page showing the picture of the bitmap file (written by Qt as BMP, 1/8/24 bit),
    // placed x, y centimetres from the top-left. The file is read and compressed now and left
    // on disk. A file that cannot be read leaves the page out, remembered by its position for
    // the message after writing; the other pages stay. False then, and for unknown handles.
    // pageDpi: the resolution the page was scanned at, when it differs from the document's.
    bool AddPdfPage(int document, const QByteArray& bitmapFileName, double x, double y,
                    int pageNumber, int pageDpi = 0);
    // The next page could not even be stored: it is left out and named after writing.
    void NotePageMissing(int document);

    // The picture of a scanned page, compressed straight from the page in memory: exactly the
    // picture AddPdfPage would make from the bitmap file that L_SaveBitmap (BMP, the page's
    // bits per pixel) writes of this page. 1 bit as CCITT G4, gray and colour as JPEG quality 90.
    // Touches no document and only reads the page: may run on any thread, also while another
    // thread writes the page's bitmap file; nobody may change the page meanwhile.
    static PdfPagePicture encodePagePicture(const Bitmap& page);
    // Appends one page showing the picture, placed as by AddPdfPage with a file. A null picture
    // leaves the page out like an unreadable bitmap file: false then, and for unknown handles.
    bool AddPdfPage(int document, PdfPagePicture picture, double x, double y, int pageNumber,
                    int pageDpi = 0);
    // Both steps at once, on the calling thread.
    bool AddPdfPage(int document, const Bitmap& page, double x, double y, int pageNumber,
                    int pageDpi = 0);
    // Writes the file, opens it with the default application when openAfterWrite and the write
    // succeeded, closes the document. A failed write (also: unknown handle, no pages) leaves no
    // file behind, shows a message and returns 0; pages left out are named in a message after
    // a write that succeeded. Returns 1 when the file was written.
    int WritePdfDocument(int document, const QByteArray& fileName, int openAfterWrite);

private:
    struct Document;
    template <typename Encode>
    static PdfPagePicture pagePicture(Encode encode);
    ScanUi& ui_;
    Launcher& launcher_;
    std::map<int, std::unique_ptr<Document>> documents_;
    int lastHandle_ = 0;
};

// "Seite 4 fehlt in …" / "Seiten 4, 7 fehlen in …": the pages a written PDF lacks.
QString missingPagesText(const std::vector<int>& positions, const QString& fileName);

} // namespace kelvo
