// A file without a name, for data a process sets aside instead of keeping it in memory: made in
// a given folder with mode 0600, never linked into the file system (or unlinked at once), so
// nobody else can open it and it is gone when closed, also after a crash.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelvo {

class ScratchFile {
public:
    // Null when no such file can be made in `folder`.
    static std::unique_ptr<ScratchFile> create(const QByteArray& folder);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Appends all bytes and says where they start; false when they do not all fit (full disk,
    // file-size limit), and then nothing counts as appended.
    bool append(const std::string& bytes, std::uint64_t& offset);
    // Copies `size` appended bytes from `offset`; false when they cannot all be read.
    bool read(std::uint64_t offset, char* buffer, std::size_t size) const;

private:
    explicit ScratchFile(int fd) : fd_(fd) {}
    int fd_;
    std::uint64_t size_ = 0; // bytes appended whole; a failed append is overwritten by the next
};

} // namespace kelvo
