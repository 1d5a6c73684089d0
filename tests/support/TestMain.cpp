// Shared main for every test program: a QApplication on whatever platform the environment
// names (offscreen for most), so widget and image code can run.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (ctest's discovery) happens without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The PDF engine module is built next to KelvoBild, not next to the test programs; the
    // programs the tests start inherit this.
    if (qEnvironmentVariableIsEmpty("KELVO_MODULE_DIR"))
        qputenv("KELVO_MODULE_DIR", KELVO_BINARY_DIR);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    // As the program does: no library destructors at exit, where a lock left by the SANE
    // test backend's cancelled reader thread can make one wait forever.
    std::fflush(nullptr);
    std::_Exit(result);
}
