// The command line read into ScanSettings, in the C locale and in a German one.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace kelvo;

namespace {

const QLocale C(QLocale::C);
const QLocale German(QLocale::German, QLocale::Germany);

CommandLineResult parse(const QStringList& args, const QLocale& l = C)
{
    return parseCommandLine(args, l);
}

} // namespace

TEST(CommandLine, NoArgumentsGiveTheDefaults)
{
    const CommandLineResult r = parse({});
    EXPECT_TRUE(r.completed());
    EXPECT_EQ(r.settings, ScanSettings());
    EXPECT_EQ(r.settings.BitsPerPixel, 24);
    EXPECT_EQ(r.settings.FrameHeightMm, 290.0);
    EXPECT_EQ(r.settings.FrameWidthMm, 210.0);
    EXPECT_EQ(r.settings.Resolution, 150.0);
    EXPECT_EQ(r.settings.RunMode, 'V');
    EXPECT_FALSE(r.pageCounter.has_value());
}

struct FieldCase {
    const char* name;
    QStringList args;
    std::function<bool(const ScanSettings&)> check;
};

void PrintTo(const FieldCase& c, std::ostream* os)
{
    *os << c.name;
}

class CommandLineFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CommandLineFields, SetsTheField)
{
    const CommandLineResult r = parse(GetParam().args);
    EXPECT_TRUE(r.completed()) << r.conversionError.toStdString();
    EXPECT_TRUE(GetParam().check(r.settings));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineFields,
    ::testing::Values(
        FieldCase{"ExtensionWhenFormatEmpty", {"scan.jpg", "/CPDF"}, [](auto& s) { return s.OutputFormat == "PDF" && s.TargetFileName == "scan.jpg"; }},
        FieldCase{"FormatBeforeName", {"/CPDF", "scan.jpg"}, [](auto& s) { return s.OutputFormat == "PDF"; }},
        FieldCase{"LastNameFirstExtension", {"a.tif", "b.jpg"}, [](auto& s) { return s.TargetFileName == "b.jpg" && s.OutputFormat == "TIF"; }},
        FieldCase{"NoExtensionThenName", {"noext", "b.jpg"}, [](auto& s) { return s.OutputFormat == "JPG"; }},
        FieldCase{"DotInDirectoryIsNoExtension", {"/akten.2019/Brief"}, [](auto& s) { return s.OutputFormat.isEmpty() && s.TargetFileName == "/akten.2019/Brief"; }},
        FieldCase{"AbsolutePathIsAFileName", {"-S", "/X", "/data/scans/Bild01.JPG"}, [](auto& s) { return s.TargetFileName == "/data/scans/Bild01.JPG" && s.OutputFormat == "JPG" && s.TransmissiveLight == 0 && s.ExitAfterRun == 1; }},
        FieldCase{"ViewerProgramPathIsASwitch", {"/V/usr/bin/eog"}, [](auto& s) { return s.ViewerProgram == "/usr/bin/eog" && s.TargetFileName.isEmpty(); }},
        FieldCase{"BackslashIsAFileNameCharacter", {"Akten\\Brief.tif"}, [](auto& s) { return s.OutputFormat == "TIF"; }},
        FieldCase{"LowerCaseFormatUpperCased", {"/Cjpeg"}, [](auto& s) { return s.OutputFormat == "JPEG"; }},
        FieldCase{"PdfExtension", {"scan.pdf"}, [](auto& s) { return s.OutputFormat == "PDF" && s.TargetFileName == "scan.pdf"; }},
        FieldCase{"EmptyFormatEmpties", {"/CPDF", "/C"}, [](auto& s) { return s.OutputFormat.isEmpty(); }},
        FieldCase{"QuotedNameWithBlanks", {"Meine Scans/Bild 01.png"}, [](auto& s) { return s.TargetFileName == "Meine Scans/Bild 01.png" && s.OutputFormat == "PNG"; }},
        FieldCase{"Resolution", {"/P300"}, [](auto& s) { return s.Resolution == 300.0; }},
        FieldCase{"ResolutionExponent", {"/P3e2"}, [](auto& s) { return s.Resolution == 300.0; }},
        FieldCase{"ResolutionBlanks", {"/P 200 "}, [](auto& s) { return s.Resolution == 200.0; }},
        FieldCase{"FrameLowerX", {"/F21x29.7"}, [](auto& s) { return s.FrameWidthMm == 210.0 && std::abs(s.FrameHeightMm - 297.0) < 1e-9; }},
        FieldCase{"BitsLastWins", {"/B", "/G", "/R", "/B"}, [](auto& s) { return s.BitsPerPixel == 1; }},
        FieldCase{"Gray", {"/G"}, [](auto& s) { return s.BitsPerPixel == 8; }},
        FieldCase{"FlagsBothCases", {"/d", "/i"}, [](auto& s) { return s.TransmissiveLight == 1 && s.InvertImage == 1; }},
        FieldCase{"FlagsUpper", {"/D", "/I", "/J", "/S", "/Z"}, [](auto& s) { return s.TransmissiveLight && s.InvertImage && s.ShowSourceUi && s.SelectSource && s.Duplex; }},
        FieldCase{"BlankThenOff", {"/L", "/l"}, [](auto& s) { return s.BlankPageMode == -2; }},
        FieldCase{"BlankAuto", {"/L"}, [](auto& s) { return s.BlankPageMode == -1; }},
        FieldCase{"RotateCleared", {"/U", "/u"}, [](auto& s) { return s.AutoRotate == 0; }},
        FieldCase{"RotateAloneOff", {"/u"}, [](auto& s) { return s.AutoRotate == 0; }},
        FieldCase{"RotateOn", {"/U"}, [](auto& s) { return s.AutoRotate == 1; }},
        FieldCase{"ViewerModeDash", {"/V-"}, [](auto& s) { return s.ViewerMode == '-'; }},
        FieldCase{"ViewerModeUpper", {"/Vl"}, [](auto& s) { return s.ViewerMode == 'L'; }},
        FieldCase{"ViewerModeOne", {"/V1"}, [](auto& s) { return s.ViewerMode == '1'; }},
        FieldCase{"ViewerProgramKeepsCase", {"/V1", "/vx", "/Vc:\\tools\\show.exe"}, [](auto& s) { return s.ViewerProgram == "c:\\tools\\show.exe" && s.ViewerMode == '1'; }},
        FieldCase{"ViewerProgramEmptied", {"/Vprog", "/V"}, [](auto& s) { return s.ViewerProgram.isEmpty(); }},
        FieldCase{"IgnoredSwitches", {"/b", "/x", "/", "/q", "/Q"}, [](auto& s) { return s == ScanSettings(); }},
        FieldCase{"LowerSIsView", {"-s", "/X"}, [](auto& s) { return s.RunMode == 'V' && s.ExitAfterRun == 0; }},
        FieldCase{"ScanWord", {"-Scan"}, [](auto& s) { return s.RunMode == 'S'; }},
        FieldCase{"LoneMinus", {"-S", "-"}, [](auto& s) { return s.RunMode == 'V'; }},
        FieldCase{"AudioMode", {"-A"}, [](auto& s) { return s.RunMode == 'A'; }},
        FieldCase{"ClipboardMode", {"-C"}, [](auto& s) { return s.RunMode == 'C'; }},
        FieldCase{"ExitWithoutModeIsView", {"/X"}, [](auto& s) { return s.RunMode == 'V' && s.ExitAfterRun == 0; }},
        FieldCase{"ScanExitThenView", {"-S", "/X", "-V"}, [](auto& s) { return s.RunMode == 'V' && s.ExitAfterRun == 0; }},
        FieldCase{"Unattended", {"-S", "/X", "/P200", "/scans/Bild01.JPG"}, [](auto& s) { return s.RunMode == 'S' && s.ExitAfterRun == 1 && s.Resolution == 200.0 && s.OutputFormat == "JPG"; }},
        FieldCase{"SlashArgumentIsNoFileName", {"/Xfile.tif"}, [](auto& s) { return s.TargetFileName.isEmpty() && s.OutputFormat.isEmpty(); }},
        FieldCase{"EmptyArgumentIsNoArgument", {"a.png", ""}, [](auto& s) { return s.TargetFileName == "a.png"; }},
        FieldCase{"UmlautUpperCased", {"/Cgrö"}, [](auto& s) { return s.OutputFormat == QStringLiteral("GRÖ"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, PageCounterStartValues)
{
    const struct {
        const char* arg;
        int expected;
    } cases[] = {{"/+", 2}, {"/+abc", 2}, {"/+0", 0}, {"/+7", 7}, {"/+-3", -3}, {"/+12x", 2}};
    for (const auto& c : cases) {
        const CommandLineResult r = parse({QString::fromLatin1(c.arg)});
        ASSERT_TRUE(r.pageCounter.has_value()) << c.arg;
        EXPECT_EQ(*r.pageCounter, c.expected) << c.arg;
    }
}

TEST(CommandLine, GermanLocaleTakesADecimalComma)
{
    const CommandLineResult r = parse({"/F21X29,7", "/P150,5"}, German);
    ASSERT_TRUE(r.completed()) << r.conversionError.toStdString();
    EXPECT_DOUBLE_EQ(r.settings.FrameWidthMm, 210.0);
    EXPECT_DOUBLE_EQ(r.settings.FrameHeightMm, 297.0);
    EXPECT_DOUBLE_EQ(r.settings.Resolution, 150.5);
}

TEST(CommandLine, ConversionErrorsStopAtTheArgument)
{
    const struct {
        const char* name;
        QStringList args;
        QLocale locale;
        QString error;
        std::function<bool(const CommandLineResult&)> check;
    } cases[] = {
        {"PointInGermanLocale", {"x.tif", "/P150.5", "/G"}, German, "'150.5' ist kein gültiger Gleitkommawert.",
         [](auto& r) { return r.settings.TargetFileName == "x.tif" && r.settings.BitsPerPixel == 24 && r.settings.Resolution == 150.0; }},
        {"FrameWithoutX", {"/F210", "/G"}, C, "'' ist kein gültiger Gleitkommawert.",
         [](auto& r) { return r.settings.FrameHeightMm == 2100.0 && r.settings.FrameWidthMm == 210.0 && r.settings.BitsPerPixel == 24; }},
        {"ErrorTextUpperCased", {"/Pabc"}, C, "'ABC' ist kein gültiger Gleitkommawert.", [](auto&) { return true; }},
        {"BadHeight", {"/F21xzz"}, C, "'ZZ' ist kein gültiger Gleitkommawert.",
         [](auto& r) { return r.settings.FrameHeightMm == 290.0 && r.settings.FrameWidthMm == 210.0; }},
        {"ThousandsSeparatorRefused", {"/P1.000"}, German, "'1.000' ist kein gültiger Gleitkommawert.", [](auto&) { return true; }},
        // Reading stopped before the rule that clears ExitAfterRun in view mode.
        {"ExitAfterRunKept", {"/X", "/Pfoo", "-S"}, C, "'FOO' ist kein gültiger Gleitkommawert.",
         [](auto& r) { return r.settings.ExitAfterRun == 1 && r.settings.RunMode == 'V'; }},
    };
    for (const auto& c : cases) {
        const CommandLineResult r = parse(c.args, c.locale);
        EXPECT_FALSE(r.completed()) << c.name;
        EXPECT_EQ(r.conversionError, c.error) << c.name;
        EXPECT_TRUE(c.check(r)) << c.name;
    }
}

TEST(CommandLine, OverlongValuesAreRefusedWithAMessage)
{
    const QString longName = QString(256, QLatin1Char('a')) + QStringLiteral(".tif");
    const CommandLineResult r = parse({"first.png", longName, "/CTOOLONG", "/V" + QString(300, QLatin1Char('p'))});
    EXPECT_TRUE(r.completed());
    EXPECT_EQ(r.settings.TargetFileName, "first.png");
    EXPECT_EQ(r.settings.OutputFormat, "PNG");
    EXPECT_TRUE(r.settings.ViewerProgram.isEmpty());
    EXPECT_EQ(r.refused.size(), 3);
    // A name of exactly 255 characters fits.
    const QString fits = QString(251, QLatin1Char('b')) + QStringLiteral(".tif");
    EXPECT_EQ(parse({fits}).settings.TargetFileName, fits);
    // An extension longer than a format name leaves the format to the page handler.
    EXPECT_TRUE(parse({"scan.backup1"}).settings.OutputFormat.isEmpty());
}

TEST(CommandLine, DisplayedCommandLine)
{
    const struct {
        QStringList argv;
        const char* shown;
    } cases[] = {
        {{"/usr/bin/KelvoBild"}, "/usr/bin/KelvoBild"},
        {{"KelvoBild", "-S", "/X", "Bild01.JPG"}, "KelvoBild -S /X Bild01.JPG"},
        {{"KelvoBild", "Meine Scans/Bild 01.png", "/P200"}, "KelvoBild \"Meine Scans/Bild 01.png\" /P200"},
        {{"KelvoBild", "", "a.tif"}, "KelvoBild a.tif"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displayCommandLine(c.argv), QString::fromUtf8(c.shown));
}
