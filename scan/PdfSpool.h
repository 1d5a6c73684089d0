// Where the coded pictures of an open PDF document wait until it is written: files that nobody
// else can open, read back by the PDF engine while it writes the document, so that the memory
// a document needs does not grow with its pages.
#pragma once

#include "scan/PdfEngine.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvo {

class PdfSpool {
public:
    // The folders to keep pictures in, in order of preference: when one cannot take a picture
    // (missing, full) the next one is used for it and the pictures after it.
    explicit PdfSpool(std::vector<QByteArray> directories);
    ~PdfSpool();
    PdfSpool(const PdfSpool&) = delete;
    PdfSpool& operator=(const PdfSpool&) = delete;

    struct Place {
        PdfEnginePictureSource* source = nullptr; // null: no folder could take the bytes
        std::uint64_t offset = 0;
    };
    // Keeps the bytes and says where they are.
    Place append(const std::string& bytes);

private:
    class File;
    std::vector<QByteArray> directories_; // not yet tried, next first
    std::vector<std::unique_ptr<File>> files_; // the last one takes new pictures
};

} // namespace kelvo
