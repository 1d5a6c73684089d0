#include "scanner/ScannerLayer.h"

#include "imaging/SaneTwain.h"

namespace kelvo {

std::unique_ptr<TwainLayer> createScannerLayer()
{
    return std::make_unique<SaneTwain>();
}

} // namespace kelvo
