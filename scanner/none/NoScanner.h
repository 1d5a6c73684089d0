// A scanner layer without scanners: every acquisition finds no device. The Windows build uses
// it where no TWAIN layer is built in, and tests use it for the "no scanner" paths.
#pragma once

#include "scanner/Twain.h"

namespace kelvo {

class NoScanner final : public TwainLayer {
public:
    // The source manager is there (a session opens), but it has no source.
    bool isAvailable() override { return true; }
    int openSession() override { return ACQUIRE_SUCCESS; }
    int selectSource() override { return ACQUIRE_NO_DEVICE; }
    int startCapabilityNegotiation() override { return ACQUIRE_NO_DEVICE; }
    int setCapability(const TwainCapability&, int) override { return ACQUIRE_NO_DEVICE; }
    int setBitsPerPixel(int) override { return ACQUIRE_NO_DEVICE; }
    int setResolution(const TW_FIX32&, const TW_FIX32&) override { return ACQUIRE_NO_DEVICE; }
    int setUnit(int) override { return ACQUIRE_NO_DEVICE; }
    int setImageFrame(const TW_FRAME&) override { return ACQUIRE_NO_DEVICE; }
    int enableDuplex(int) override { return ACQUIRE_NO_DEVICE; }
    int endCapabilityNegotiation() override { return ACQUIRE_NO_DEVICE; }
    int acquire(const PageCallback&, int, const ProgressCallback&) override { return ACQUIRE_NO_DEVICE; }
    int endSession() override { return ACQUIRE_SUCCESS; }
};

} // namespace kelvo
