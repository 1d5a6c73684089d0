// KelvoBild.exe as a calling application runs it on Windows: started by kelvo-caller.exe
// against the test data source, with the hand-off file beside the executable and the message
// with its section checked byte for byte. The program is copied into a folder of the test's
// own, so that its hand-off file is this test's alone.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#define POINTERHOLDER_TRANSITION 4 // qpdf: no deprecated pointer holder
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <gtest/gtest.h>

namespace {

QString buildDir()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(KELVO_BUILD_DIR_RELATIVE));
}

// The notification text for a hand-off record, as kelvo-caller prints it: hex bytes.
QByteArray sectionHex(const QByteArray& record)
{
    return (QByteArray("\x04OBILD01") + record + '\x04').toHex();
}

int pdfPages(const QString& file)
{
    QPDF pdf;
    pdf.processFile(QDir::toNativeSeparators(file).toLocal8Bit().constData());
    return int(QPDFPageDocumentHelper(pdf).getAllPages().size());
}

struct Scenario {
    const char* name;
    QStringList callerOptions;
    QString arguments; // the program's command line after its name
    const char* fault;
    QStringList files;    // in C:\Scans afterwards, with their page count (PDF) or width
    int filePages;        // pages per PDF (0: image files)
    QByteArray handOff;   // the hand-off file's bytes
    QString messageClass; // empty: no message expected
    QStringList answers;  // the caller's answers, as it reports them
};

} // namespace

TEST(WindowsProgram, ScanSessionsAsACallingApplicationSeesThem)
{
    QTemporaryDir programDir;
    ASSERT_TRUE(programDir.isValid());
    for (const char* file : {"KelvoBild.exe", "kelvobild-qpdf.dll"})
        ASSERT_TRUE(QFile::copy(buildDir() + '/' + file, programDir.filePath(QString::fromLatin1(file)))) << file;
    const QString handOffFile = programDir.filePath(QStringLiteral("SendToKelvo.TXT"));
    const QString scans = QStringLiteral("C:/Scans");
    const QString error = QStringLiteral("Error!=yes");

    const Scenario scenarios[] = {
        {"three pages from the feeder", {}, QStringLiteral("-S /X /P200 C:\\Scans\\Bild01.JPG"), "",
         {"Bild01.JPG", "Bild02.JPG", "Bild03.JPG"}, 0, "C:\\Scans\\Bild03.JPG'3'S", "TFormTelnetMain", {}},
        {"only the second window class", {"--no-telnet", "--comm"}, QStringLiteral("-S /X C:\\Scans\\Bild01.JPG"),
         "", {"Bild01.JPG", "Bild02.JPG", "Bild03.JPG"}, 0, "C:\\Scans\\Bild03.JPG'3'S", "TFormCommMain", {}},
        {"PDF chain: yes, then no", {"--answer", "Scan in PDF=yes,no"},
         QStringLiteral("-S /X /CPDF C:\\Scans\\Akte.PDF"), "", {"Akte.PDF"}, 6, "C:\\Scans\\Akte.PDF'1'S", "",
         {"answer Scan in PDF yes", "answer Scan in PDF no"}},
        {"paper jam at the second page", {"--answer", error}, QStringLiteral("-S /X C:\\Scans\\Bild01.JPG"),
         "jam:2", {"Bild01.JPG"}, 0, "C:\\Scans\\Bild01.JPG'1'S", "", {"answer Error! yes"}},
        {"empty feeder", {"--answer", error}, QStringLiteral("-S /X C:\\Scans\\Bild01.JPG"), "nopaper", {}, 0,
         "'0'S", "", {"answer Error! yes"}},
        {"the driver crashes at the third page", {"--answer", error},
         QStringLiteral("-S /X C:\\Scans\\Bild01.JPG"), "crash:3", {"Bild01.JPG", "Bild02.JPG"}, 0,
         "C:\\Scans\\Bild02.JPG'2'S", "TFormTelnetMain", {"answer Error! yes"}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        QDir(scans).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(scans));
        QFile::remove(handOffFile);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KELVO_TESTDS_PAGES"), QStringLiteral("3"));
        env.insert(QStringLiteral("KELVO_TESTDS_FAULT"), QString::fromLatin1(s.fault));
        QProcess caller;
        caller.setProcessEnvironment(env);
        caller.setProgram(buildDir() + QStringLiteral("/tests/windows/kelvo-caller.exe"));
        QStringList args = s.callerOptions;
        args << QStringLiteral("--timeout") << QStringLiteral("120") << QStringLiteral("--");
        caller.setArguments(args);
        // The program's command line exactly as a caller writes it.
        caller.setNativeArguments(QDir::toNativeSeparators(programDir.filePath(QStringLiteral("KelvoBild.exe"))) +
                                  QLatin1Char(' ') + s.arguments);
        caller.start();
        ASSERT_TRUE(caller.waitForFinished(180000));
        EXPECT_EQ(caller.exitCode(), 0);
        const QStringList out = QString::fromLatin1(caller.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);

        QStringList expectedOut = s.answers;
        if (!s.messageClass.isEmpty()) {
            expectedOut << QStringLiteral("message %1 %2 0 %3")
                               .arg(s.messageClass)
                               .arg(s.handOff.size() + 9)
                               .arg(QString::fromLatin1(sectionHex(s.handOff)));
        }
        expectedOut << QStringLiteral("exit 0");
        QStringList got;
        for (const QString& line : out)
            got << line.trimmed();
        EXPECT_EQ(got, expectedOut);

        QFile handOff(handOffFile);
        ASSERT_TRUE(handOff.open(QIODevice::ReadOnly));
        EXPECT_EQ(handOff.readAll(), s.handOff);

        EXPECT_EQ(QDir(scans).entryList(QDir::Files, QDir::Name), s.files);
        for (const QString& name : s.files) {
            const QString path = scans + '/' + name;
            if (s.filePages > 0) {
                EXPECT_EQ(pdfPages(path), s.filePages) << name.toStdString();
            } else {
                QImageReader reader(path);
                EXPECT_EQ(reader.size().width(), s.arguments.contains("/P200") ? 1654 : 1240) << name.toStdString();
            }
        }
    }
    QDir(scans).removeRecursively();
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
