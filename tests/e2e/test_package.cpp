// The install tree that `cmake --install` lays out, and the Debian package packs: every file
// in its place and nothing else, the manual page gzipped reproducibly, rendering without a
// warning and documenting every switch, mode and error code of the README, the menu entry
// accepted by desktop-file-validate and naming the installed program and icon, the icon
// looking like the window icon, and the installed program running on its own.
#include "app/Glyphs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QMimeDatabase>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QString all() const { return QString::fromUtf8(out + err); }
};

Outcome run(const QString& program, const QStringList& args, const QProcessEnvironment& env = {},
        const QString& workingDir = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(program, args);
    Outcome r;
    if (!p.waitForStarted(30000)) {
        r.err = "could not start " + program.toUtf8();
        return r;
    }
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.err = program.toUtf8() + " timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool have(const char* program)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kSource = QStringLiteral(KELVO_SOURCE_DIR);
const QString kManSource = kSource + QStringLiteral("/packaging/KelvoBild.1");
const QString kEnglishManSource = kSource + QStringLiteral("/packaging/KelvoBild.en.1");

// What the package installs, relative to the prefix, and whether it is a program.
struct Installed {
    const char* path;
    bool executable;
};
const Installed kTree[] = {
    {"bin/KelvoBild", true},
    {KELVO_MODULE_INSTALL_DIR "/libkelvobild-qpdf.so", true}, // 0755, as the loader wants it
    {"share/applications/KelvoBild.desktop", false},
    {"share/icons/hicolor/scalable/apps/kelvobild.svg", false},
    {"share/man/de/man1/KelvoBild.1.gz", false},
    {"share/man/man1/KelvoBild.1.gz", false},
    {"share/doc/kelvobild/README.md", false},
    {"share/doc/kelvobild/copyright", false},
    {"share/doc/kelvobild/changelog.gz", false},
};

// The README's command-line table: every switch and mode it names, as "/P", "-S" …
QSet<QString> readmeSwitches()
{
    QSet<QString> keys;
    const QString readme = QString::fromUtf8(readAll(kSource + QStringLiteral("/README.md")));
    const qsizetype start = readme.indexOf(QLatin1String("### Command line"));
    if (start < 0)
        return keys;
    const qsizetype end = readme.indexOf(QLatin1String("\n\n"), readme.indexOf(QLatin1String("\n|"), start) + 1);
    const QStringList rows = readme.mid(start, end - start).split(QLatin1Char('\n'));
    static const QRegularExpression first(QStringLiteral("`([-/][^`]+)`"));
    static const QRegularExpression mode(QStringLiteral("`(-[A-Z])`"));
    for (const QString& row : rows) {
        const QStringList cells = row.split(QLatin1Char('|'));
        if (cells.size() < 3)
            continue;
        for (auto it = first.globalMatch(cells[1]); it.hasNext();)
            keys.insert(it.next().captured(1).left(2));
        for (auto it = mode.globalMatch(row); it.hasNext();)
            keys.insert(it.next().captured(1));
    }
    return keys;
}

// The README's error code tables: rows "| -NN | meaning |".
QSet<int> readmeErrorCodes()
{
    QSet<int> codes;
    static const QRegularExpression row(QStringLiteral("^\\|\\s*(-\\d+)\\s*\\|"), QRegularExpression::MultilineOption);
    const QString readme = QString::fromUtf8(readAll(kSource + QStringLiteral("/README.md")));
    for (auto it = row.globalMatch(readme); it.hasNext();)
        codes.insert(it.next().captured(1).toInt());
    return codes;
}

// A manual page's source split by section heading (.SH); each section's lines.
QMap<QString, QStringList> manSections(const QString& source = kManSource)
{
    QMap<QString, QStringList> sections;
    QString current;
    for (QString line : QString::fromUtf8(readAll(source)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(".SH "))) {
            current = line.mid(4).remove(QLatin1Char('"')).trimmed();
            continue;
        }
        sections[current] << line;
    }
    return sections;
}

// The tags of the .TP entries of a section, with roff's \- read as a minus sign.
QStringList entryTags(const QStringList& lines)
{
    QStringList tags;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].startsWith(QLatin1String(".TP")))
            tags << QString(lines[i + 1]).replace(QLatin1String("\\-"), QLatin1String("-"));
    return tags;
}

// The manual page as a reader sees it, one line per paragraph, plain characters.
QString renderedManPage()
{
    const Outcome r = run(QStringLiteral("groff"),
                      {QStringLiteral("-K"), QStringLiteral("utf8"), QStringLiteral("-man"), QStringLiteral("-Tutf8"),
                       QStringLiteral("-P-cbou"), QStringLiteral("-rLL=3000n"), kManSource});
    QString text = QString::fromUtf8(r.out);
    text.replace(QChar(0x2212), QLatin1Char('-')).replace(QChar(0x2010), QLatin1Char('-'));
    text.replace(QChar(0x2019), QLatin1Char('\'')).replace(QChar(0x2018), QLatin1Char('\''));
    return text.simplified();
}

class InstallTree : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_prefix = std::make_unique<QTemporaryDir>();
        s_install = run(QStringLiteral("cmake"), {QStringLiteral("--install"), QStringLiteral(KELVO_BINARY_DIR),
                                                  QStringLiteral("--prefix"), s_prefix->path()});
    }
    static void TearDownTestSuite() { s_prefix.reset(); }
    void SetUp() override { ASSERT_EQ(s_install.exitCode, 0) << s_install.all().toStdString(); }
    static QString at(const QString& relative) { return s_prefix->path() + QLatin1Char('/') + relative; }

    static std::unique_ptr<QTemporaryDir> s_prefix;
    static Outcome s_install;
};
std::unique_ptr<QTemporaryDir> InstallTree::s_prefix;
Outcome InstallTree::s_install;

TEST_F(InstallTree, HoldsExactlyTheProgramAndItsFiles)
{
    QSet<QString> expected;
    for (const Installed& f : kTree) {
        const QFileInfo info(at(QString::fromLatin1(f.path)));
        expected.insert(QString::fromLatin1(f.path));
        ASSERT_TRUE(info.isFile()) << f.path;
        EXPECT_GT(info.size(), 0) << f.path;
        EXPECT_EQ(info.isExecutable(), f.executable) << f.path;
    }
    QSet<QString> found;
    for (QDirIterator it(s_prefix->path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();)
        found.insert(QDir(s_prefix->path()).relativeFilePath(it.next()));
    EXPECT_EQ(found, expected);
}

TEST_F(InstallTree, DataFilesAreTheSourcesUnchanged)
{
    const struct {
        const char* installed;
        const char* source;
    } cases[] = {
        {"share/applications/KelvoBild.desktop", "packaging/KelvoBild.desktop"},
        {"share/icons/hicolor/scalable/apps/kelvobild.svg", "packaging/kelvobild.svg"},
        {"share/doc/kelvobild/README.md", "README.md"},
        {"share/doc/kelvobild/copyright", "packaging/copyright"},
    };
    for (const auto& c : cases) {
        const QByteArray source = readAll(kSource + QLatin1Char('/') + QString::fromLatin1(c.source));
        ASSERT_FALSE(source.isEmpty()) << c.source;
        EXPECT_EQ(readAll(at(QString::fromLatin1(c.installed))), source) << c.installed;
    }
}

// The installed, gzipped files and their sources: the German page is the users', the
// English one the administrators'.
const struct Gzipped {
    const char* installed;
    const char* source;
} kGzipped[] = {
    {"share/man/de/man1/KelvoBild.1.gz", "packaging/KelvoBild.1"},
    {"share/man/man1/KelvoBild.1.gz", "packaging/KelvoBild.en.1"},
    {"share/doc/kelvobild/changelog.gz", "packaging/changelog"},
};

TEST_F(InstallTree, ManualPagesAndChangelogAreGzippedReproducibly)
{
    for (const Gzipped& g : kGzipped) {
        SCOPED_TRACE(g.installed);
        const QString file = at(QString::fromLatin1(g.installed));
        const Outcome unzip = run(QStringLiteral("gzip"), {QStringLiteral("-dc"), file});
        ASSERT_EQ(unzip.exitCode, 0) << unzip.all().toStdString();
        EXPECT_EQ(unzip.out, readAll(kSource + QLatin1Char('/') + QString::fromLatin1(g.source)));
        // No file name and no time stamp in the header: the same page gives the same package.
        const QByteArray header = readAll(file).left(10);
        ASSERT_EQ(header.size(), 10);
        EXPECT_EQ(header[3] & 0x08, 0) << "file name stored";
        EXPECT_EQ(header.mid(4, 4), QByteArray(4, '\0')) << "time stamp stored";
    }
}

TEST_F(InstallTree, ManualPagesRenderWithoutWarnings)
{
    const struct {
        const char* installed;
        const char* source;
        const char* lang;
        const char* heading; // the synopsis heading as the reader sees it
    } pages[] = {
        {"share/man/de/man1/KelvoBild.1.gz", "packaging/KelvoBild.1", "de", "ÜBERSICHT"},
        {"share/man/man1/KelvoBild.1.gz", "packaging/KelvoBild.en.1", "en", "SYNOPSIS"},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.installed);
        const Outcome groff = run(QStringLiteral("groff"), {QStringLiteral("-K"), QStringLiteral("utf8"), QStringLiteral("-man"),
                                                        QStringLiteral("-Tutf8"), QStringLiteral("-ww"), QStringLiteral("-z"),
                                                        kSource + QLatin1Char('/') + QString::fromLatin1(p.source)});
        EXPECT_EQ(groff.exitCode, 0) << groff.all().toStdString();
        EXPECT_TRUE(groff.err.isEmpty()) << groff.err.toStdString();

        const QString page = at(QString::fromLatin1(p.installed));
        if (have("man")) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
            env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
            const Outcome man = run(QStringLiteral("man"), {QStringLiteral("--warnings"), QStringLiteral("-l"), page}, env);
            EXPECT_EQ(man.exitCode, 0) << man.all().toStdString();
            EXPECT_TRUE(man.err.isEmpty()) << man.err.toStdString();
            EXPECT_TRUE(man.out.contains("KELVOBILD(1)")) << man.out.toStdString();
            EXPECT_TRUE(QString::fromUtf8(man.out).contains(QString::fromUtf8(p.heading))) << "heading or umlauts lost";
        }
        if (have("lexgrog")) {
            // What mandb takes for the whatis/apropos entry.
            const Outcome lexgrog = run(QStringLiteral("lexgrog"), {page});
            EXPECT_EQ(lexgrog.exitCode, 0) << lexgrog.all().toStdString();
            EXPECT_TRUE(lexgrog.out.contains("KelvoBild - ")) << lexgrog.all().toStdString();
        }
    }
}

TEST(ManualPage, BothPagesDocumentExactlyTheSwitchesOfTheReadme)
{
    const QSet<QString> readme = readmeSwitches();
    ASSERT_GE(readme.size(), 10) << "README command-line table not found";
    const struct {
        QString source;
        const char* modes;
        const char* switches;
    } pages[] = {{kManSource, "MODI", "SCHALTER"}, {kEnglishManSource, "MODES", "SWITCHES"}};
    for (const auto& p : pages) {
        SCOPED_TRACE(p.source.toStdString());
        const QMap<QString, QStringList> sections = manSections(p.source);
        QSet<QString> documented;
        static const QRegularExpression key(QStringLiteral("(?:^|[\\s\"])([-/][A-Za-z+])"));
        for (const char* section : {p.modes, p.switches}) {
            ASSERT_TRUE(sections.contains(QString::fromLatin1(section))) << section;
            for (const QString& tag : entryTags(sections[QString::fromLatin1(section)]))
                for (auto it = key.globalMatch(tag); it.hasNext();)
                    documented.insert(it.next().captured(1));
        }
        EXPECT_EQ(documented, readme);
    }
}

TEST(ManualPage, ListsExactlyTheErrorCodesOfTheReadme)
{
    const QSet<int> readme = readmeErrorCodes();
    ASSERT_GE(readme.size(), 20) << "README error tables not found";
    QSet<int> documented;
    static const QRegularExpression code(QStringLiteral("^\\.B\\s+(-\\d+)\\s*$"));
    for (const QString& tag : entryTags(manSections().value(QStringLiteral("FEHLERCODES")))) {
        const QRegularExpressionMatch m = code.match(tag);
        EXPECT_TRUE(m.hasMatch()) << tag.toStdString();
        documented.insert(m.captured(1).toInt());
    }
    EXPECT_EQ(documented, readme);
}

TEST(ManualPage, QuotesTheMessagesOfTheReadme)
{
    // Every message the README quotes (up to its first placeholder) reaches the reader.
    const QString readme = QString::fromUtf8(readAll(kSource + QStringLiteral("/README.md")));
    const QString page = renderedManPage();
    ASSERT_FALSE(page.isEmpty());
    static const QRegularExpression quoted(QStringLiteral("\"([^\"\\n]{6,})\""));
    int checked = 0;
    for (auto it = quoted.globalMatch(readme); it.hasNext();) {
        QString message = it.next().captured(1);
        message = message.left(message.indexOf(QLatin1Char('*'))).trimmed();
        message.replace(QString::fromUtf8("'…'"), QString());
        if (message.size() < 6)
            continue;
        ++checked;
        EXPECT_TRUE(page.contains(message)) << message.toStdString();
    }
    EXPECT_GE(checked, 4);
    // The naming sequence's examples and the hand-off's names.
    for (const char* text : {"Bild09.JPG -> Bild0A.JPG", "SendToKelvo.TXT", "TFormTelnetMain", "TFormCommMain",
                             "/KELVODATA1", "OBILD01"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(text).replace(QLatin1String("->"), QString::fromUtf8("→"))))
            << text;
}

// The [Desktop Entry] group as key → value.
QMap<QString, QString> desktopEntry(const QString& path)
{
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(readAll(path)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

TEST_F(InstallTree, MenuEntryIsValid)
{
    if (!have("desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
    const Outcome v = run(QStringLiteral("desktop-file-validate"), {at(QStringLiteral("share/applications/KelvoBild.desktop"))});
    EXPECT_EQ(v.exitCode, 0) << v.all().toStdString();
    EXPECT_TRUE(v.all().trimmed().isEmpty()) << v.all().toStdString();
}

TEST_F(InstallTree, MenuEntryNamesTheInstalledProgramAndIcon)
{
    const QMap<QString, QString> entry = desktopEntry(at(QStringLiteral("share/applications/KelvoBild.desktop")));
    const QStringList exec = entry.value(QStringLiteral("Exec")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_FALSE(exec.isEmpty());
    EXPECT_TRUE(QFileInfo(at(QStringLiteral("bin/") + exec.first())).isExecutable()) << exec.first().toStdString();
    const QString icon = entry.value(QStringLiteral("Icon"));
    EXPECT_TRUE(QFileInfo::exists(at(QStringLiteral("share/icons/hicolor/scalable/apps/") + icon + QStringLiteral(".svg"))))
        << icon.toStdString();
}

TEST_F(InstallTree, MenuEntryOffersWhatTheViewerOpens)
{
    const QStringList claimed = desktopEntry(at(QStringLiteral("share/applications/KelvoBild.desktop")))
                                    .value(QStringLiteral("MimeType"))
                                    .split(QLatin1Char(';'), Qt::SkipEmptyParts);
    ASSERT_FALSE(claimed.isEmpty());
    const QMimeDatabase db;
    QSet<QString> readable;
    for (const QByteArray& m : QImageReader::supportedMimeTypes())
        readable.insert(db.mimeTypeForName(QString::fromLatin1(m)).name());
    QSet<QString> canonical;
    for (const QString& name : claimed) {
        const QMimeType type = db.mimeTypeForName(name);
        ASSERT_TRUE(type.isValid()) << name.toStdString();
        canonical.insert(type.name());
        // Qt reads it, or a type Qt reads is a kind of it (PBM of PNM), or it is PCX, which
        // the program reads itself. A PDF is stored, never shown.
        bool opens = readable.contains(type.name()) || type.suffixes().contains(QStringLiteral("pcx"));
        for (const QString& r : readable)
            opens = opens || db.mimeTypeForName(r).inherits(type.name());
        EXPECT_TRUE(opens) << name.toStdString();
        EXPECT_FALSE(type.inherits(QStringLiteral("application/pdf"))) << name.toStdString();
    }
    // Every format the program stores opens with it from a file manager.
    for (const char* ext : {"JPG", "GIF", "PCX", "TIF", "PNG", "BMP"}) {
        const QMimeType type = db.mimeTypeForFile(QStringLiteral("page.") + QString::fromLatin1(ext), QMimeDatabase::MatchExtension);
        EXPECT_TRUE(canonical.contains(type.name())) << ext << " (" << type.name().toStdString() << ")";
    }
}

// `image` composed over white, for comparing pictures with transparency.
QImage overWhite(const QImage& image)
{
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    return out;
}

TEST_F(InstallTree, IconLooksLikeTheWindowIcon)
{
    // librsvg draws the scalable icons of the desktop's icon theme.
    if (!have("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
    QTemporaryDir dir;
    const QString png = dir.path() + QStringLiteral("/icon.png");
    const Outcome rsvg = run(QStringLiteral("rsvg-convert"),
                             {QStringLiteral("-w"), QStringLiteral("64"), QStringLiteral("-h"), QStringLiteral("64"),
                              QStringLiteral("-o"), png, at(QStringLiteral("share/icons/hicolor/scalable/apps/kelvobild.svg"))});
    ASSERT_EQ(rsvg.exitCode, 0) << rsvg.all().toStdString();
    const QImage rendered = overWhite(QImage(png));
    const QImage drawn = overWhite(kelvo::programIcon(64).toImage());
    ASSERT_EQ(rendered.size(), QSize(64, 64));
    ASSERT_EQ(drawn.size(), QSize(64, 64));

    // Mean difference per channel, and the pixels that differ clearly: edges smoothed a little
    // differently stay far below both limits; a page moved by 4 px, missing lines, another
    // body colour or a red light instead of the green one exceed one of them.
    double sum = 0;
    int clearlyDifferent = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QColor a = rendered.pixelColor(x, y);
            const QColor b = drawn.pixelColor(x, y);
            const int d = std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
            sum += d / 3.0;
            if (d > 3 * 64)
                ++clearlyDifferent;
        }
    EXPECT_LT(sum / (64 * 64), 2.0);
    EXPECT_LE(clearlyDifferent, 4);
}

// Purging the package removes a hand-off file left next to the installed program; removing
// it without purging keeps the file, as Debian keeps what a purge alone removes.
TEST(DebianPackage, PurgeRemovesTheHandOffFile)
{
    const QString script = QString::fromUtf8(readAll(QStringLiteral(KELVO_BINARY_DIR "/packaging/debian/postrm")));
    ASSERT_TRUE(script.contains(QLatin1String("\"/usr/bin/SendToKelvo.TXT\""))) << script.toStdString();
    // The same script aimed at a file of our own instead of the installed one.
    QTemporaryDir dir;
    const QString handOff = dir.filePath(QStringLiteral("SendToKelvo.TXT"));
    const QString copy = dir.filePath(QStringLiteral("postrm"));
    QFile out(copy);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QString(script).replace(QLatin1String("/usr/bin/SendToKelvo.TXT"), handOff).toUtf8());
    out.close();
    const struct {
        const char* action;
        bool fileBefore, fileAfter;
    } steps[] = {{"remove", true, true}, {"upgrade", true, true}, {"purge", true, false}, {"purge", false, false}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.action);
        if (s.fileBefore) {
            QFile f(handOff);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("/data/scans/Bild03.JPG'3'S");
        }
        const Outcome r = run(QStringLiteral("sh"), {QStringLiteral("-e"), copy, QString::fromLatin1(s.action)});
        EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
        EXPECT_EQ(QFileInfo::exists(handOff), s.fileAfter);
    }
}

// lintian finds no error and no warning in the package.
TEST(DebianPackage, LintianFindsNothingToFix)
{
    if (!have("lintian"))
        GTEST_SKIP() << "lintian is not installed";
    QTemporaryDir dir;
    const Outcome cpack = run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                      QStringLiteral(KELVO_BINARY_DIR "/CPackConfig.cmake"),
                                                      QStringLiteral("-B"), dir.path()});
    ASSERT_EQ(cpack.exitCode, 0) << cpack.all().toStdString();
    const QStringList debs = QDir(dir.path()).entryList({QStringLiteral("kelvobild_*.deb")}, QDir::Files);
    ASSERT_EQ(debs.size(), 1);
    const Outcome lintian = run(QStringLiteral("lintian"), {QStringLiteral("--allow-root"), dir.filePath(debs.first())});
    EXPECT_EQ(lintian.exitCode, 0) << lintian.all().toStdString();
    for (const QString& line : QString::fromUtf8(lintian.out).split(QLatin1Char('\n')))
        EXPECT_FALSE(line.startsWith(QLatin1String("E:")) || line.startsWith(QLatin1String("W:"))) << line.toStdString();
}

TEST_F(InstallTree, InstalledProgramRunsOnItsOwn)
{
    const QString program = at(QStringLiteral("bin/KelvoBild"));
    // Nothing of the build tree is needed: no search path into it.
    if (have("readelf")) {
        const Outcome dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), program});
        ASSERT_EQ(dynamic.exitCode, 0) << dynamic.all().toStdString();
        EXPECT_FALSE(dynamic.out.contains(QByteArrayLiteral(KELVO_BINARY_DIR))) << dynamic.out.toStdString();
        // qpdf and what it pulls in are loaded only when a PDF is made, through the module.
        EXPECT_FALSE(dynamic.out.contains("libqpdf")) << dynamic.out.toStdString();
    }
    QTemporaryDir cwd;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const Outcome r = run(program, {QStringLiteral("-A"), QStringLiteral("/X")}, env, cwd.path());
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    const QStringList lines = QString::fromUtf8(r.err).split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("Parameter: -A (Audio) wird noch nicht unterstützt!"))) << r.all().toStdString();
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("bin/SendToKelvo.TXT")))) << "a hand-off without a scan";

    // A PDF, made with the installed PDF engine module.
    env.remove(QStringLiteral("KELVO_MODULE_DIR"));
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), kSource + QStringLiteral("/sane"));
    const QString pdf = cwd.filePath(QStringLiteral("I01.PDF"));
    const Outcome scan = run(program, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P100"),
                                       QStringLiteral("/CPDF"), pdf}, env, cwd.path());
    QFile::remove(at(QStringLiteral("bin/SendToKelvo.TXT")));
    EXPECT_EQ(scan.exitCode, 0) << scan.all().toStdString();
    EXPECT_FALSE(scan.err.contains("Modul")) << scan.all().toStdString();
    const Outcome check = run(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
    EXPECT_EQ(check.exitCode, 0) << check.all().toStdString() << scan.all().toStdString();
}

} // namespace
