// libFuzzer target: any file the viewer opens (JPEG, PNG, BMP, GIF, TIFF, PCX and whatever else
// Qt's image plugins recognise by content), through L_FileInfo and L_LoadFile.
#include "fuzz/FuzzEntries.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Image plugins are found through the application object; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt keeps argc by reference and may edit argv: give it its own, not libFuzzer's.
    static int argc = 1;
    static char name[] = "fuzz_image_load";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvo::fuzz::imageLoad(data, size);
    return 0;
}
