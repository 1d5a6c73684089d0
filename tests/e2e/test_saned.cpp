// The built program against a shared scanner: saned started by the test on 127.0.0.1,
// exporting SANE's test backend, reached through the net backend with a private SANE
// configuration. Feeder pages as JPEG, gray, 1 bit and PDF; a jam injected on the server's
// device; saned killed in the middle of a batch.
#include "support/Fakes.h"
#include "support/Program.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <netdb.h>
#include <signal.h>

using namespace kelvo::test;

namespace {

const QString kAcquireError = QStringLiteral("Error!: An error occurred in L_TwainAcquire(...), Error No: %1");
const QString kPdfQuestion = QStringLiteral("Scan in PDF: Weitere Seite(n) scannen?");

// The net backend finds saned only on the port of the service `sane-port` (no port can be
// given in its configuration), so saned has to listen there.
int sanePort()
{
    const servent* s = ::getservbyname("sane-port", "tcp");
    return s ? ntohs(static_cast<uint16_t>(s->s_port)) : 0;
}

bool portFree(int port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, static_cast<quint16>(port));
}

class Saned : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("saned")).isEmpty())
            GTEST_SKIP() << "saned is not installed (sane-utils)";
        port = sanePort();
        if (port == 0)
            GTEST_SKIP() << "no service sane-port in /etc/services: the net backend cannot find saned";
        if (!portFree(port))
            GTEST_SKIP() << "port " << port << " on 127.0.0.1 is in use; saned cannot listen there";
        ASSERT_TRUE(QFile::exists(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild")));
        const QString server = dir.path() + QStringLiteral("/server");
        const QString client = dir.path() + QStringLiteral("/client");
        QDir().mkpath(server);
        QDir().mkpath(client);
        ASSERT_TRUE(writeFile(server + QStringLiteral("/dll.conf"), "test\n"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(KELVO_SOURCE_DIR "/sane/test.conf"), server + QStringLiteral("/test.conf")));
        ASSERT_TRUE(writeFile(server + QStringLiteral("/saned.conf"), "127.0.0.1\n"));
        ASSERT_TRUE(writeFile(client + QStringLiteral("/dll.conf"), "net\n"));
        ASSERT_TRUE(writeFile(client + QStringLiteral("/net.conf"), "connect_timeout = 10\n127.0.0.1\n"));
        QDir(dir.path()).mkdir(QStringLiteral("out"));
        startSaned();
    }
    void TearDown() override { stopSaned(); }

    static bool writeFile(const QString& name, const QByteArray& text)
    {
        QFile f(name);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    }

    void startSaned()
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("SANE_CONFIG_DIR"), dir.path() + QStringLiteral("/server"));
        saned.setProcessEnvironment(e);
        saned.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        saned.start(QStringLiteral("saned"), {"-l", "-e", "-b", "127.0.0.1", "-p", QString::number(port), "-d", "1"});
        ASSERT_TRUE(saned.waitForStarted(10000));
        // Listening once a connection is accepted (bounded: 10 s).
        for (int i = 0; i < 200 && portFree(port); ++i)
            QThread::msleep(50);
        ASSERT_FALSE(portFree(port)) << "saned does not listen";
    }

    // saned serves each connection from a child of its own: those go too.
    void killSaned()
    {
        if (saned.state() == QProcess::NotRunning)
            return;
        const qint64 parent = saned.processId();
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toLongLong() == parent)
                ::kill(static_cast<pid_t>(pid.toLongLong()), SIGKILL);
        }
        saned.kill();
        saned.waitForFinished(10000);
    }
    void stopSaned() { killSaned(); }

    QString out(const QString& name = {}) const { return dir.path() + QStringLiteral("/out/") + name; }
    ProgramRun run(const QStringList& args, const QString& options, const QMap<QString, QString>& more = {},
                   const std::function<void()>& whileRunning = {})
    {
        for (const QString& f : filesIn(out()))
            QFile::remove(out(f));
        QMap<QString, QString> env = more;
        env.insert(QStringLiteral("SANE_CONFIG_DIR"), dir.path() + QStringLiteral("/client"));
        env.insert(QStringLiteral("KELVO_SANE_OPTIONS"), options);
        ProgramRun r = runProgram(dir.path(), args, env, false, whileRunning);
        files = filesIn(out());
        return r;
    }

    QTemporaryDir dir;
    QProcess saned;
    int port = 0;
    QStringList files;
};

} // namespace

TEST_F(Saned, FeederPagesInEveryDepthAndAsPdf)
{
    const struct {
        const char* name;
        QStringList args;
        const char* picture;
        const char* extension;
        const char* format;
        int bitsPerPixel;
    } cases[] = {
        {"Jpeg", {"/R", "/P75"}, "Color pattern", "JPG", "JPEG", 24},
        {"Gray", {"/G", "/P75"}, "Grid", "JPG", "JPEG", 8},
        {"OneBit", {"/B", "/P75"}, "Grid", "PCX", "PCX", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList args = {"-S", "/X"};
        args += c.args;
        args << out(QStringLiteral("Bild01.JPG"));
        const ProgramRun r = run(args, QStringLiteral("test-picture=") + QLatin1String(c.picture));
        ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
        EXPECT_TRUE(r.messages.isEmpty()) << r.stderrText.toStdString();
        // The test device's feeder holds ten sheets.
        ASSERT_EQ(files.size(), 10) << files.join(' ').toStdString();
        for (const QString& f : files) {
            EXPECT_TRUE(f.endsWith(QLatin1String(c.extension))) << f.toStdString();
            const Identified id = identify(out(f));
            EXPECT_EQ(id.format, QLatin1String(c.format)) << id.raw.toStdString();
            EXPECT_EQ(id.bitsPerPixel, c.bitsPerPixel);
            EXPECT_NEAR(id.width, 620, 1);  // 210 mm at 75 dpi
            EXPECT_NEAR(id.height, 856, 1);
        }
        EXPECT_EQ(r.handOff, QFile::encodeName(out(files.last())) + "'10'S");
    }

    const ProgramRun pdf = run({"-S", "/X", "/G", "/P75", "/CPDF", out(QStringLiteral("Akte01.PDF"))},
                               QStringLiteral("test-picture=Grid"));
    ASSERT_EQ(pdf.exitCode, 0) << pdf.stderrText.toStdString();
    EXPECT_EQ(pdf.messages, QStringList({kPdfQuestion})) << pdf.stderrText.toStdString();
    ASSERT_EQ(files, QStringList({"Akte01.PDF"}));
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {out(QStringLiteral("Akte01.PDF"))});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+10\\b")))) << info.out.toStdString();
    EXPECT_EQ(pdf.handOff, QFile::encodeName(out(QStringLiteral("Akte01.PDF"))) + "'1'S");
}

TEST_F(Saned, JamOnTheServerSideIsReported)
{
    const ProgramRun r = run({"-S", "/X", "/G", "/P75", out(QStringLiteral("Bild01.JPG"))},
                             QStringLiteral("read-return-value=SANE_STATUS_JAMMED"));
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_EQ(r.messages, QStringList({kAcquireError.arg(-104)})) << r.stderrText.toStdString();
    EXPECT_TRUE(files.isEmpty());
    EXPECT_EQ(r.handOff, "'0'S");
}

TEST_F(Saned, KilledAfterPageTwoEndsWithAnIoErrorAndKeepsThePages)
{
    // Slow pages (a pause before each transfer of the device), so that saned goes away
    // while page 3 is being read.
    bool killed = false;
    const ProgramRun r = run({"-S", "/X", "/G", "/P100", out(QStringLiteral("Bild01.JPG"))},
                             QStringLiteral("test-picture=Grid;read-delay=yes;read-delay-duration=100000"),
                             {{QStringLiteral("KELVO_SANE_STALL_SECONDS"), QStringLiteral("3")}}, [&] {
                                 if (!killed && QFile::exists(out(QStringLiteral("Bild02.JPG")))) {
                                     killSaned();
                                     killed = true;
                                 }
                             });
    ASSERT_TRUE(killed) << r.stderrText.toStdString();
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_EQ(r.messages, QStringList({kAcquireError.arg(-106)})) << r.stderrText.toStdString();
    EXPECT_EQ(files, QStringList({"Bild01.JPG", "Bild02.JPG"}));
    EXPECT_EQ(r.handOff, QFile::encodeName(out(QStringLiteral("Bild02.JPG"))) + "'2'S");
}
