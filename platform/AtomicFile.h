// A file that appears under its name only when complete: written to a file without a name in
// the target's directory (O_TMPFILE), flushed to disk, then linked to the name. Where the file
// system has no unnamed files, a short hidden name stands in while it is written. So a killed
// process leaves nothing behind, and any name the file system allows can be written.
// Abandoned on destruction. A scratch file (Durability::Scratch) skips the sync to disk: it
// still appears only complete, but a power failure may lose it.
#pragma once

#include <QFile>
#include <QString>

namespace kelvo {

// Whether a rename may put a new file at `nativePath`: nothing is there, a symbolic link (the
// link itself is replaced), or a regular file the user may write. Never a file that is
// read-only for them or another user's in a directory of theirs, nor a directory, pipe or
// device.
bool mayBeReplaced(const QByteArray& nativePath);

// Runs of the program at the same time must not replace each other's pages. A run marks each
// page it stores (a shared advisory lock held until it ends, however it ends), and takes its
// turn in a directory before it picks a name there and stores under it.
// True when the file at `nativePath` was stored by another run that is still going, or that
// went on while this one ran (changed at or after `sinceNs`, a fileClockNow() taken when this
// run began; 0: not asked): its caller may be reading it. Files of runs that had ended before
// are not.
bool storedByAnotherRun(const QByteArray& nativePath, qint64 sinceNs = 0);
// The file system's clock now, in nanoseconds, less its coarseness: for storedByAnotherRun().
qint64 fileClockNow();
// An exclusive turn in a directory, waited for at most `waitMs` (a run stopped by a signal
// must not hold up the others for ever: past that the turn is taken without the lock).
class DirectoryTurn {
public:
    explicit DirectoryTurn(const QString& directory, int waitMs = 5000);
    ~DirectoryTurn();
    DirectoryTurn(const DirectoryTurn&) = delete;
    DirectoryTurn& operator=(const DirectoryTurn&) = delete;

private:
    int m_fd = -1;
};

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
    // Marks the file, once committed, as stored by this run (see storedByAnotherRun).
    void markStoredByThisRun() { m_mark = true; }
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
    QString m_tempName;  // the hidden stand-in name, empty while the file has none
    unsigned m_mode;
    Durability m_durability;
    int m_fd = -1;
    QFile m_file;
    Error m_error = Error::None;
    int m_errno = 0;

    bool finishWriting();
    bool fail(Error error);
    // Gives the written file a name in the target's directory: `name` itself when `exclusive`,
    // else a short hidden one (m_tempName). Nothing to do when it has one already.
    bool linkUnnamed(const QByteArray& name);
    bool m_unnamed = false;  // opened with O_TMPFILE and not yet linked
    bool m_mark = false;
    void markBeforeLinking();
};

} // namespace kelvo
