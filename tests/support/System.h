// What tests ask of the file system that POSIX and Windows answer differently. Tests of POSIX
// file modes, FIFOs and resource limits skip on Windows (KELVO_POSIX_ONLY); privacy of a file
// or folder is checked on both, by its mode or by its access list.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kelvo::test {

// Whether the system has POSIX file modes, FIFOs and resource limits.
bool hasPosixFiles();
// Nobody but the current user may read, write or enter `path` (mode without group and other
// bits; on Windows an access list that names the current user alone).
bool privateToUser(const QString& path);
// The permission bits of `path` (0 on Windows), the process umask, and chmod.
unsigned fileMode(const QString& path);
unsigned currentUmask();
bool setFileMode(const QString& path, unsigned mode);
bool makeFifo(const QString& path);
// A symbolic link at `link` to `target` (on Windows an NTFS symbolic link, not a shortcut).
bool makeSymlink(const QString& target, const QString& link);
bool runningAsRoot();
// Runs a program of the build machine (gm, pdfinfo, qpdf …: the independent checks). Under
// Wine it runs as the Unix program it is, its Windows file-name arguments (C:\…) turned into
// Unix paths. `merged`: standard error goes into `out` too.
struct HostRun {
    bool started = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
HostRun runHostTool(const QString& program, const QStringList& args, int timeoutMs, bool merged);
// Runs `fn` with the file-size limit set to `bytes` (writes beyond it fail, as on a full disk).
bool withFileSizeLimit(long long bytes, const std::function<void()>& fn);

} // namespace kelvo::test

#define KELVO_POSIX_ONLY()                                                                      \
    do {                                                                                         \
        if (!kelvo::test::hasPosixFiles())                                                       \
            GTEST_SKIP() << "POSIX file modes, FIFOs and resource limits only";                  \
    } while (0)
