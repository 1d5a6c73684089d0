// Every seed and every input that once broke a fuzz target, run through the target's entry
// function: nothing crashes and no rule breaks. The seed images, written by netpbm and
// GraphicsMagick, must open in the viewer with the size, depth and format their names promise.
#include "fuzz/FuzzEntries.h"

#include "imaging/ImageFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// The entry functions themselves: the test build does not build fuzz/, so they are compiled here.
#include "fuzz/FuzzEntries.cpp"

namespace {

using namespace kelvo;

std::vector<std::string> g_broken;
void recordBroken(const char* rule) { g_broken.emplace_back(rule); }

struct Target {
    const char* name;
    bool (*entry)(const uint8_t*, size_t);
    bool seedsAreValid; // every seed must be accepted as a whole
};

const Target kTargets[] = {
    {"fuzz_command_line", fuzz::commandLine, false}, // some seeds hold numbers that do not convert
    {"fuzz_page_naming", fuzz::pageNaming, false},
    {"fuzz_pcx", fuzz::pcx, true},
    {"fuzz_image_load", fuzz::imageLoad, true},
    {"fuzz_handoff", fuzz::handOff, false},
};

QString fuzzDir(const char* kind, const char* target)
{
    return QStringLiteral(KELVO_SOURCE_DIR "/fuzz/%1/%2").arg(QLatin1String(kind), QLatin1String(target));
}

QFileInfoList filesIn(const QString& dir)
{
    return QDir(dir).entryInfoList(QDir::Files, QDir::Name);
}

struct Input {
    const Target* target;
    bool seed; // from the corpus; else an input that once crashed
    QString path;
};

void PrintTo(const Input& in, std::ostream* os)
{
    // The file's place inside the fuzz folder, the same in every checkout.
    *os << in.target->name << '/' << QFileInfo(in.path).fileName().toStdString();
}

std::vector<Input> allInputs()
{
    std::vector<Input> inputs;
    for (const Target& t : kTargets) {
        for (const QFileInfo& f : filesIn(fuzzDir("corpus", t.name)))
            inputs.push_back({&t, true, f.filePath()});
        for (const QFileInfo& f : filesIn(fuzzDir("regressions", t.name)))
            inputs.push_back({&t, false, f.filePath()});
    }
    return inputs;
}

std::string testName(const QString& text)
{
    QString name = text;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return name.toStdString();
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class FuzzInput : public ::testing::TestWithParam<Input> {};

TEST_P(FuzzInput, KeepsEveryRule)
{
    const Input& in = GetParam();
    const QByteArray bytes = contents(in.path);
    ASSERT_TRUE(QFileInfo(in.path).isReadable()) << in.path.toStdString();
    g_broken.clear();
    fuzz::setViolationHandler(recordBroken);
    const bool accepted = in.target->entry(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                           size_t(bytes.size()));
    fuzz::setViolationHandler(nullptr);
    for (const std::string& rule : g_broken)
        ADD_FAILURE() << "broken rule: " << rule;
    if (in.seed && in.target->seedsAreValid) {
        EXPECT_TRUE(accepted) << "a valid seed was refused";
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzInput, ::testing::ValuesIn(allInputs()),
                         [](const ::testing::TestParamInfo<Input>& info) {
                             return testName(QString::fromLatin1(info.param.seed ? "seed_" : "regression_")
                                             + QLatin1String(info.param.target->name).mid(5) + QLatin1Char('_')
                                             + QFileInfo(info.param.path).fileName());
                         });

TEST(FuzzCorpus, EveryTargetHasSeeds)
{
    for (const Target& t : kTargets)
        EXPECT_FALSE(filesIn(fuzzDir("corpus", t.name)).isEmpty()) << "no seeds for " << t.name;
}

// Seed images are named <content>_<bits>bit_<width>x<height>.<ext>.
struct SeedPath {
    std::string path;
};

void PrintTo(const SeedPath& seed, std::ostream* os)
{
    *os << QFileInfo(QString::fromStdString(seed.path)).fileName().toStdString();
}

class SeedImage : public ::testing::TestWithParam<SeedPath> {};

TEST_P(SeedImage, OpensAsItsNameSays)
{
    const QString path = QString::fromStdString(GetParam().path);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("_(\\d+)bit_(\\d+)x(\\d+)\\.(\\w+)$"))
                                          .match(path);
    ASSERT_TRUE(m.hasMatch()) << "seed image without its promises in the name";
    const int bits = m.captured(1).toInt();
    const int width = m.captured(2).toInt();
    const int height = m.captured(3).toInt();
    const QString ext = m.captured(4);
    const int format = ext == QLatin1String("png")   ? FILE_PNG
                       : ext == QLatin1String("jpg") ? FILE_JPEG
                       : ext == QLatin1String("bmp") ? FILE_BMP
                       : ext == QLatin1String("gif") ? FILE_GIF
                       : ext == QLatin1String("tif") ? FILE_TIF
                       : ext == QLatin1String("pcx") ? FILE_PCX
                       : ext == QLatin1String("tga") ? 0 // read, but never stored: no format code
                                                     : -1;
    ASSERT_NE(format, -1) << "unknown extension " << ext.toStdString();

    FileInfo info;
    info.StructSize = FILEINFO_SIZE;
    ASSERT_EQ(L_FileInfo(path, info, FILEINFO_SIZE), SUCCESS);
    EXPECT_EQ(info.Format, format);
    EXPECT_EQ(info.Width, width);
    EXPECT_EQ(info.Height, height);
    if (format != FILE_PCX) { // PCX depth is known once decoded
        EXPECT_EQ(info.BitsPerPixel, bits);
    }
    Bitmap bitmap;
    ASSERT_EQ(L_LoadFile(path, bitmap, &info), SUCCESS);
    EXPECT_EQ(bitmap.width, width);
    EXPECT_EQ(bitmap.height, height);
    EXPECT_EQ(bitmap.bitsPerPixel, bits);
    L_FreeBitmap(bitmap);
}

std::vector<SeedPath> seedImages()
{
    std::vector<SeedPath> paths;
    for (const QFileInfo& f : filesIn(fuzzDir("corpus", "fuzz_image_load")))
        paths.push_back({f.filePath().toStdString()});
    return paths;
}

INSTANTIATE_TEST_SUITE_P(Seeds, SeedImage, ::testing::ValuesIn(seedImages()),
                         [](const ::testing::TestParamInfo<SeedPath>& info) {
                             return testName(QFileInfo(QString::fromStdString(info.param.path)).fileName());
                         });

} // namespace
