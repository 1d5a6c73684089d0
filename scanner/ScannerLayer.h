// The scanner layer of this build: SANE on Linux, the TWAIN source manager on Windows (or,
// before that is built in, the layer that finds no scanner). The program creates it once.
#pragma once

#include "scanner/Twain.h"

#include <memory>

namespace kelvo {

std::unique_ptr<TwainLayer> createScannerLayer();

} // namespace kelvo
