// A file that appears under its name only when complete: written to a temporary file in the
// target's directory, flushed to disk, then renamed over the name. Abandoned on destruction.
// A scratch file (Durability::Scratch) skips the sync to disk: it still appears only complete,
// but a power failure may lose it.
#pragma once

#include <QFile>
#include <QString>

namespace kelvo {

// Whether a rename may put a new file at `nativePath`: nothing is there, a symbolic link (the
// link itself is replaced), or a regular file the user may write. Never a file that is
// read-only for them or another user's in a directory of theirs, nor a directory, pipe or
// device.
bool mayBeReplaced(const QByteArray& nativePath);

class AtomicFile {
public:
    enum class Durability { Synced, Scratch };
    // mode: permission bits of the finished file, less the process umask.
    explicit AtomicFile(QString fileName, unsigned mode = 0666, Durability durability = Durability::Synced);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false when the directory cannot take it, a symbolic link
    // stands at the name, or the name holds something the user may not replace: a file they
    // cannot write, or no regular file (see error()).
    bool open();
    QFile& device() { return m_file; }
    // Flushes, syncs (unless a scratch file), closes and renames; false (and nothing left behind) on any failure.
    bool commit();
    // The same, but links the file to its name instead, which fails (Error::Exists) when
    // anything stands there: an existing file is never replaced, and a reader never sees a
    // part of the new one.
    bool commitNew();
    void abandon();

    enum class Error { None, SymbolicLink, Create, Write, Rename, Exists };
    Error error() const { return m_error; }
    // The errno behind the last failure (0 when none was involved).
    int systemError() const { return m_errno; }

private:
    QString m_fileName;
    QString m_tempName;
    unsigned m_mode;
    Durability m_durability;
    int m_fd = -1;
    QFile m_file;
    Error m_error = Error::None;
    int m_errno = 0;

    bool finishWriting();
    bool fail(Error error);
};

} // namespace kelvo
