// The hand-off record and file, when the notification is sent, and how the viewer and the
// default application are started.
#include "platform/Display.h"
#include "platform/Launcher.h"
#include "scan/HandOff.h"
#include "support/System.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <climits>
#include <optional>

namespace {

using kelvo::handOffRecord;
using kelvo::test::hasPosixFiles;
using kelvo::test::makeSymlink;
using kelvo::notificationText;

class RecordingNotifier final : public kelvo::Notifier {
public:
    void notify(const QByteArray& text) override { texts.append(text); }
    QList<QByteArray> texts;
};

std::optional<QByteArray> readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions perms = {})
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return perms == QFile::Permissions() || f.setPermissions(perms);
}

// Waits, within a bound, for a file that a detached program is to produce.
std::optional<QByteArray> waitForFile(const QString& path)
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (QFileInfo::exists(path))
            return readAll(path);
        QThread::msleep(20);
    }
    return std::nullopt;
}

// A stand-in program that writes its argument count, its arguments, one per line, and where
// its standard input, output and error lead to `out`; renamed into place so that a
// half-written file is never seen.
bool writeArgvRecorder(const QString& script, const QString& out)
{
    const QByteArray text = "#!/bin/sh\n"
                            "fds=$(/usr/bin/readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                            "{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; "
                            "printf '%s\\n' \"$fds\"; } > '"
        + QFile::encodeName(out) + ".part' && /bin/mv '" + QFile::encodeName(out) + ".part' '"
        + QFile::encodeName(out) + "'\n";
    return writeFile(script, text,
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct RecordCase {
    const char* label;
    QByteArray fileName;
    int count;
    QByteArray code;
    QByteArray record;
    QByteArray notification;
};

TEST(HandOffRecord, RecordAndNotificationBytes)
{
    const RecordCase cases[] = {
        {"example", "C:\\Scans\\Bild03.JPG", 3, "S", "C:\\Scans\\Bild03.JPG'3'S",
         QByteArray("\x04" "OBILD01C:\\Scans\\Bild03.JPG'3'S\x04")},
        {"nothing stored", "", 0, "S", "'0'S", QByteArray("\x04" "OBILD01'0'S\x04")},
        {"negative", "", -2, "S", "'-2'S", QByteArray("\x04" "OBILD01'-2'S\x04")},
        {"no leading zeros", "/scans/a.tif", 10, "S", "/scans/a.tif'10'S",
         QByteArray("\x04" "OBILD01/scans/a.tif'10'S\x04")},
        {"lowest count", "a", INT_MIN, "S", "a'-2147483648'S",
         QByteArray("\x04" "OBILD01a'-2147483648'S\x04")},
        {"bytes kept as given", "/scans/Gr\xc3\xb6\xc3\x9f" "e 'x'.png", 2, "S",
         "/scans/Gr\xc3\xb6\xc3\x9f" "e 'x'.png'2'S",
         QByteArray("\x04" "OBILD01/scans/Gr\xc3\xb6\xc3\x9f" "e 'x'.png'2'S\x04")},
    };
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.label);
        const QByteArray record = handOffRecord(c.fileName, c.count, c.code);
        EXPECT_EQ(record, c.record);
        const QByteArray text = notificationText(record);
        EXPECT_EQ(text, c.notification);
        EXPECT_EQ(text.size(), record.size() + 9);
    }
    // The sizes the calling application relies on for the example.
    EXPECT_EQ(handOffRecord("C:\\Scans\\Bild03.JPG", 3, "S").size(), 23);
    EXPECT_EQ(notificationText(handOffRecord("C:\\Scans\\Bild03.JPG", 3, "S")).size(), 32);
}

enum class Before { Nothing, OldFile, LinkElsewhere, DanglingLink, NoDirectory };

struct WriteCase {
    const char* label;
    QByteArray fileName;
    int count;
    Before before;
    std::optional<QByteArray> fileAfter; // nullopt: no hand-off file afterwards
    bool notified;
};

TEST(HandOffWrite, FileAndNotification)
{
    const QByteArray old = "C:\\old\\Bild01.JPG'7'S";
    const WriteCase cases[] = {
        {"three pages", "C:\\Scans\\Bild03.JPG", 3, Before::Nothing,
         QByteArray("C:\\Scans\\Bild03.JPG'3'S"), true},
        {"two pages", "/scans/b.png", 2, Before::Nothing, QByteArray("/scans/b.png'2'S"), true},
        {"one page", "/scans/a.pdf", 1, Before::Nothing, QByteArray("/scans/a.pdf'1'S"), false},
        {"nothing stored", "", 0, Before::Nothing, QByteArray("'0'S"), false},
        {"negative count", "", -2, Before::Nothing, QByteArray("'-2'S"), false},
        {"file from an earlier run", "/scans/c.jpg", 3, Before::OldFile, old, true},
        {"file from an earlier run, one page", "/scans/c.jpg", 1, Before::OldFile, old, false},
        {"symlink at the name", "/scans/d.jpg", 3, Before::LinkElsewhere, std::nullopt, true},
        {"dangling symlink at the name", "/scans/d.jpg", 3, Before::DanglingLink, std::nullopt,
         true},
        {"directory missing", "/scans/e.jpg", 3, Before::NoDirectory, std::nullopt, true},
        {"directory missing, one page", "/scans/e.jpg", 1, Before::NoDirectory, std::nullopt,
         false},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir tmp;
        ASSERT_TRUE(tmp.isValid());
        QString dir = tmp.path();
        const QString target = tmp.filePath(QStringLiteral("elsewhere.txt"));
        switch (c.before) {
        case Before::Nothing:
            break;
        case Before::OldFile:
            ASSERT_TRUE(writeFile(dir + "/SendToKelvo.TXT", old));
            break;
        case Before::LinkElsewhere:
            ASSERT_TRUE(writeFile(target, "target"));
            ASSERT_TRUE(makeSymlink(target, dir + "/SendToKelvo.TXT"));
            break;
        case Before::DanglingLink:
            ASSERT_TRUE(makeSymlink(target, dir + "/SendToKelvo.TXT"));
            break;
        case Before::NoDirectory:
            dir += QStringLiteral("/missing");
            break;
        }
        const QString handOffFile = dir + "/SendToKelvo.TXT";

        RecordingNotifier notifier;
        kelvo::WriteHandOff(c.fileName, c.count, "S", dir, notifier);

        if (c.before == Before::LinkElsewhere || c.before == Before::DanglingLink) {
            // Nothing is written through the link.
            EXPECT_TRUE(QFileInfo(handOffFile).isSymLink());
            EXPECT_EQ(readAll(target), c.before == Before::LinkElsewhere
                                           ? std::optional<QByteArray>("target")
                                           : std::nullopt);
        } else {
            EXPECT_EQ(readAll(handOffFile), c.fileAfter);
        }
        if (c.before == Before::Nothing) {
            // A plain data file, not something anyone could run.
            const QFileInfo info(handOffFile);
            EXPECT_TRUE(info.isFile() && !info.isSymLink());
            EXPECT_FALSE(info.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
        }
        // The file appears whole through a temporary name, which never stays behind.
        if (c.before != Before::NoDirectory) {
            EXPECT_TRUE(QDir(dir).entryList(QDir::Hidden | QDir::Files | QDir::System | QDir::NoDotAndDotDot)
                            .filter(QRegularExpression(QStringLiteral("^\\."))).isEmpty());
        }
        const QByteArray record = handOffRecord(c.fileName, c.count, "S");
        const QList<QByteArray> expected =
            c.notified ? QList<QByteArray>{notificationText(record)} : QList<QByteArray>{};
        EXPECT_EQ(notifier.texts, expected);
    }
}

TEST(HandOffWrite, SecondHandOffLeavesTheFirstFile)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    RecordingNotifier notifier;
    kelvo::WriteHandOff("/scans/long name 0001.jpg", 5, "S", tmp.path(), notifier);
    kelvo::WriteHandOff("/s.jpg", 2, "S", tmp.path(), notifier);
    EXPECT_EQ(readAll(tmp.filePath("SendToKelvo.TXT")),
              QByteArray("/scans/long name 0001.jpg'5'S"));
    EXPECT_EQ(notifier.texts.size(), 2);
}

struct CommandCase {
    const char* label;
    QString program;
    QString file;
    QStringList command;
    const char* windows; // the command line on Windows; null: nothing started
};

TEST(ViewerCommand, SplitsProgramAndKeepsFileWhole)
{
    const CommandCase cases[] = {
        {"plain path", "/usr/bin/eog", "/tmp/a.jpg", {"/usr/bin/eog", "/tmp/a.jpg"},
         "/usr/bin/eog \\tmp\\a.jpg"},
        {"quoted program with flag", "\"/opt/My Viewer/view\" --flag", "/tmp/a.jpg",
         {"/opt/My Viewer/view", "--flag", "/tmp/a.jpg"}, "\"/opt/My Viewer/view\" --flag \\tmp\\a.jpg"},
        {"case kept", "/opt/Tools/ShowPic -Fit", "/tmp/A.JPG",
         {"/opt/Tools/ShowPic", "-Fit", "/tmp/A.JPG"}, "/opt/Tools/ShowPic -Fit \\tmp\\A.JPG"},
        {"file with blanks", "eog", "/tmp/Bild mit Leerzeichen 03.jpg",
         {"eog", "/tmp/Bild mit Leerzeichen 03.jpg"}, "eog \"\\tmp\\Bild mit Leerzeichen 03.jpg\""},
        {"file with quotes", "eog", "/tmp/it's \"x\".jpg", {"eog", "/tmp/it's \"x\".jpg"},
         "eog \"\\tmp\\it's \"x\".jpg\""},
        {"extra blanks around", "  gwenview   --x  ", "/a b.jpg", {"gwenview", "--x", "/a b.jpg"},
         "  gwenview   --x   \"\\a b.jpg\""},
        {"no file", "eog", "", {"eog"}, "eog"},
        {"empty program", "", "/tmp/a.jpg", {}, nullptr},
        {"blank program", "  \t ", "/tmp/a.jpg", {}, nullptr},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.label);
        // Windows: one command line for WinExec, the file name with backslashes, quoted when
        // it holds a blank.
        const QStringList expected = hasPosixFiles() ? c.command
                                   : c.windows       ? QStringList{QString::fromUtf8(c.windows)}
                                                     : QStringList{};
        EXPECT_EQ(kelvo::viewerCommand(c.program, c.file), expected);
    }
}

TEST(SystemLauncher, NothingStartedForBlankOrMissingProgram)
{
    kelvo::SystemLauncher launcher;
    for (const QString& program : {QString(), QStringLiteral("   "),
                                  QStringLiteral("/nonexistent/kelvo-viewer --x")}) {
        SCOPED_TRACE(program.toStdString());
        EXPECT_FALSE(launcher.startViewer(program, QStringLiteral("/tmp/a.jpg")));
    }
}

TEST(SystemLauncher, ViewerGetsFileAsOneArgument)
{
    KELVO_POSIX_ONLY();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("My Viewer")));
    const QString script = tmp.filePath(QStringLiteral("My Viewer/Show.sh"));
    const QString out = tmp.filePath(QStringLiteral("argv.txt"));
    ASSERT_TRUE(writeArgvRecorder(script, out));

    const QString file = tmp.filePath(QStringLiteral("Bild 03 'x'.JPG"));
    kelvo::SystemLauncher launcher;
    ASSERT_TRUE(launcher.startViewer('"' + script + "\" --Fit", file));
    // It never holds the caller's pipes.
    EXPECT_EQ(waitForFile(out), "2\n--Fit\n" + QFile::encodeName(file) + "\n/dev/null\n/dev/null\n/dev/null\n");
}

// Sets PATH for one test and puts the old value back.
class PathOverride {
public:
    explicit PathOverride(const QString& path) : saved_(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(path));
    }
    ~PathOverride() { qputenv("PATH", saved_); }

private:
    QByteArray saved_;
};

TEST(SystemLauncher, DefaultApplicationThroughXdgOpen)
{
    KELVO_POSIX_ONLY();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString out = tmp.filePath(QStringLiteral("argv.txt"));
    ASSERT_TRUE(writeArgvRecorder(tmp.filePath(QStringLiteral("xdg-open")), out));
    const QString file = tmp.filePath(QStringLiteral("Scan Dokument.pdf"));
    kelvo::SystemLauncher launcher;
    {
        PathOverride path(tmp.path());
        // Without a display nobody would see it: nothing is started.
        kelvo::setHasDisplay(false);
        EXPECT_FALSE(launcher.openWithDefaultApplication(file));
        kelvo::setHasDisplay(true);
        ASSERT_TRUE(launcher.openWithDefaultApplication(file));
    }
    EXPECT_EQ(waitForFile(out).value_or("none").toStdString(),
              ("1\n" + file + "\n/dev/null\n/dev/null\n/dev/null\n").toStdString());

    // Without an opener on the path nothing can be started, and the caller learns it.
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    PathOverride path(empty.path());
    EXPECT_FALSE(launcher.openWithDefaultApplication(file));
}

} // namespace
