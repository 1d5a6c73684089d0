// libFuzzer target: our PCX decoder, on a file and on a stream.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvo::fuzz::pcx(data, size);
    return 0;
}
