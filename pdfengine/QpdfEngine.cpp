// The PDF engine module: builds and writes the PDF documents of PDF-mode scanning with qpdf.
// Loaded at run time by the document builder in scan/, so that a run making no PDF never loads
// qpdf and the libraries it pulls in. Exceptions stay inside: each call answers false or null.

// qpdf's own smart pointer is gone from our code: no transition warnings.
#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include "scan/PdfEngine.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <charconv>
#include <string>

// The build says how a symbol is exported (visibility on Linux, dllexport on Windows).
#ifndef KELVO_EXPORT
#define KELVO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr double kA4Width = 595.276; // points
constexpr double kA4Height = 841.89;

using kelvo::PdfEngineInfo;
using kelvo::PdfEnginePicture;
using kelvo::PdfPictureKind;

QPDFObjectHandle imageObject(QPDF& pdf, const PdfEnginePicture& pic)
{
    QPDFObjectHandle image = pdf.newStream(std::string(pic.data, pic.size));
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(pic.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(pic.height));
    if (pic.kind == PdfPictureKind::Ccitt) {
        // The coded black runs are the dark pixels; decoded black is 0 = black in DeviceGray.
        QPDFObjectHandle parms = QPDFObjectHandle::newDictionary();
        parms.replaceKey("/K", QPDFObjectHandle::newInteger(-1));
        parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(pic.width));
        parms.replaceKey("/Rows", QPDFObjectHandle::newInteger(pic.height));
        parms.replaceKey("/BlackIs1", QPDFObjectHandle::newBool(false));
        dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
        dict.replaceKey("/Filter", QPDFObjectHandle::newName("/CCITTFaxDecode"));
        dict.replaceKey("/DecodeParms", parms);
    } else {
        dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(
                                           pic.kind == PdfPictureKind::GrayJpeg ? "/DeviceGray" : "/DeviceRGB"));
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        dict.replaceKey("/Filter", QPDFObjectHandle::newName("/DCTDecode"));
    }
    return image;
}

// Four decimals, always with a point whatever the locale; an exact half rounds away from zero.
std::string num(double v)
{
    if (v == 0)
        v = 0; // no minus sign on zero
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 60); // exact
    if (r.ec != std::errc())
        return "0.0000";
    std::string s(buf, r.ptr);
    const size_t point = s.find('.');
    bool carry = s[point + 5] >= '5';
    s.resize(point + 5);
    for (size_t i = s.size(); carry && i-- > 0;) {
        char& c = s[i];
        if (c == '.')
            continue;
        if (c == '-') {
            s.insert(i + 1, 1, '1');
            carry = false;
        } else if (c == '9') {
            c = '0';
        } else {
            ++c;
            carry = false;
        }
    }
    if (carry)
        s.insert(0, 1, '1');
    return s;
}

// An A4 page, or larger when the picture does not fit on A4; then the page is just as large
// as the picture. The picture sits (xPt, yPt) from the top-left corner where that still fits
// on the page and moves towards the corner where it does not, so a picture that fits on A4
// always gets an A4 page.
void appendPage(QPDF& pdf, const PdfEnginePicture& pic, int dpi, double xPt, double yPt)
{
    const double w = pic.width * 72.0 / dpi;
    const double h = pic.height * 72.0 / dpi;
    const double pageW = std::max(kA4Width, w);
    const double pageH = std::max(kA4Height, h);
    const double x = std::min(xPt, pageW - w);
    const double y = std::min(yPt, pageH - h);

    const std::string content = "q " + num(w) + " 0 0 " + num(h) + " " + num(x) + " "
                                + num(pageH - y - h) + " cm /Im0 Do Q\n";

    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", imageObject(pdf, pic));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);

    QPDFObjectHandle mediaBox = QPDFObjectHandle::newArray();
    mediaBox.appendItem(QPDFObjectHandle::newInteger(0));
    mediaBox.appendItem(QPDFObjectHandle::newInteger(0));
    mediaBox.appendItem(QPDFObjectHandle::newReal(pageW, 4));
    mediaBox.appendItem(QPDFObjectHandle::newReal(pageH, 4));

    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", mediaBox);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", pdf.newStream(content));

    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

void setDocumentInfo(QPDF& pdf, const PdfEngineInfo& in)
{
    QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
    const auto text = [](const char* s) { return QPDFObjectHandle::newUnicodeString(s ? s : ""); };
    info.replaceKey("/Title", text(in.title));
    info.replaceKey("/Author", text(in.author));
    info.replaceKey("/Subject", text(in.subject));
    info.replaceKey("/Keywords", text(in.keywords));
    info.replaceKey("/Creator", text(in.creator));
    info.replaceKey("/Producer", text(in.producer));
    info.replaceKey("/CreationDate", QPDFObjectHandle::newString(in.creationDate ? in.creationDate : ""));
    info.replaceKey("/ModDate", QPDFObjectHandle::newString(in.modificationDate ? in.modificationDate : ""));
    pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
}

class QpdfDocument final : public kelvo::PdfEngineDocument {
public:
    QpdfDocument() { pdf_.emptyPDF(); }

    bool appendPage(const PdfEnginePicture& picture, int dpi, double xPt, double yPt) override
    {
        if (dpi < 1 || picture.width <= 0 || picture.height <= 0 || !picture.data || picture.size == 0)
            return false;
        try {
            ::appendPage(pdf_, picture, dpi, xPt, yPt);
            return true;
        } catch (...) {
            return false;
        }
    }

    bool setInfo(const PdfEngineInfo& info) override
    {
        try {
            setDocumentInfo(pdf_, info);
            return true;
        } catch (...) {
            return false;
        }
    }

    bool write(std::FILE* file, const char* name) override
    {
        try {
            QPDFWriter writer(pdf_);
            writer.setOutputFile(name, file, false);
            writer.setObjectStreamMode(qpdf_o_generate);
            writer.write();
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    QPDF pdf_;
};

} // namespace

extern "C" {

KELVO_EXPORT extern const int kelvo_pdf_engine_version;
const int kelvo_pdf_engine_version = kelvo::kPdfEngineVersion;

KELVO_EXPORT kelvo::PdfEngineDocument* kelvo_pdf_engine_new_document()
{
    try {
        return new QpdfDocument;
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"
