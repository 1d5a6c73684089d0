// What the PDF document builder asks of the PDF engine module (libkelvobild-qpdf.so,
// kelvobild-qpdf.dll on Windows), which
// is loaded only when a PDF is made. Plain data only, no Qt: the module links qpdf and the C++
// runtime and nothing of ours. No exception crosses: every call reports failure as false/null.
// Change kPdfEngineVersion with any change here; the loader refuses a module of another version.
#pragma once

#include <cstddef>
#include <cstdio>

namespace kelvo {

inline constexpr int kPdfEngineVersion = 1;
// The module's file name, as the build names it.
inline constexpr const char* kPdfEngineModule = KELVO_PDF_ENGINE_FILE;
inline constexpr const char* kPdfEngineVersionSymbol = "kelvo_pdf_engine_version";
inline constexpr const char* kPdfEngineFactorySymbol = "kelvo_pdf_engine_new_document";

enum class PdfPictureKind : int { Ccitt = 0, GrayJpeg = 1, RgbJpeg = 2 };

// A coded page picture: CCITT G4 (1 bit, dark = black) or JPEG (gray or colour).
struct PdfEnginePicture {
    PdfPictureKind kind = PdfPictureKind::RgbJpeg;
    int width = 0;
    int height = 0;
    const char* data = nullptr;
    std::size_t size = 0;
};

// The document information, UTF-8; the dates as PDF date strings.
struct PdfEngineInfo {
    const char* title = "";
    const char* author = "";
    const char* subject = "";
    const char* keywords = "";
    const char* creator = "";
    const char* producer = "";
    const char* creationDate = "";
    const char* modificationDate = "";
};

class PdfEngineDocument {
public:
    virtual ~PdfEngineDocument() = default;
    // Appends a page showing the picture at dpi, its top-left corner (xPt, yPt) points from the
    // page's top-left: A4, larger when the picture does not fit; the picture moves towards the
    // corner where the offset does not fit.
    virtual bool appendPage(const PdfEnginePicture& picture, int dpi, double xPt, double yPt) = 0;
    virtual bool setInfo(const PdfEngineInfo& info) = 0;
    // Writes the whole document to `file` (named `name` in messages), object streams on. The
    // caller checks flush, size and sync: qpdf reports success on a full disk.
    virtual bool write(std::FILE* file, const char* name) = 0;
};

} // namespace kelvo

extern "C" {
// The module's two exports: the interface version it was built with, and a new empty
// document (null on failure), owned by the caller.
using KelvoPdfEngineNewDocument = kelvo::PdfEngineDocument* (*)();
}
