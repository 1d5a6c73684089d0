#include "scanner/ScannerLayer.h"

#include "scanner/twain/TwainDsm.h"

namespace kelvo {

std::unique_ptr<TwainLayer> createScannerLayer()
{
    return std::make_unique<TwainDsm>();
}

} // namespace kelvo
