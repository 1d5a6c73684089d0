#include "scanner/ScannerLayer.h"

#include "scanner/sane/SaneTwain.h"

namespace kelvo {

std::unique_ptr<TwainLayer> createScannerLayer()
{
    return std::make_unique<SaneTwain>();
}

} // namespace kelvo
