#include "scan/PdfSpool.h"

#include "platform/ScratchFile.h"

namespace kelvo {

class PdfSpool::File final : public PdfEnginePictureSource {
public:
    explicit File(std::unique_ptr<ScratchFile> file) : file_(std::move(file)) {}
    bool append(const std::string& bytes, std::uint64_t& offset) { return file_->append(bytes, offset); }
    bool read(std::uint64_t offset, char* buffer, std::size_t size) override { return file_->read(offset, buffer, size); }

private:
    std::unique_ptr<ScratchFile> file_;
};

PdfSpool::PdfSpool(std::vector<QByteArray> directories) : directories_(std::move(directories)) {}

PdfSpool::~PdfSpool() = default;

PdfSpool::Place PdfSpool::append(const std::string& bytes)
{
    for (;;) {
        std::uint64_t offset = 0;
        if (!files_.empty() && files_.back()->append(bytes, offset))
            return {files_.back().get(), offset};
        // The current folder cannot take it: the next one takes this picture and the later ones.
        std::unique_ptr<ScratchFile> file;
        while (!file && !directories_.empty()) {
            file = ScratchFile::create(directories_.front());
            directories_.erase(directories_.begin());
        }
        if (!file)
            return {};
        files_.push_back(std::make_unique<File>(std::move(file)));
    }
}

} // namespace kelvo
