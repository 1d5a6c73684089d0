#include "scanner/ScannerLayer.h"

#include "scanner/none/NoScanner.h"

namespace kelvo {

std::unique_ptr<TwainLayer> createScannerLayer()
{
    return std::make_unique<NoScanner>();
}

} // namespace kelvo
