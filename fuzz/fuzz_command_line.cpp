// libFuzzer target: the calling application's command line, in the C and the German locale.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvo::fuzz::commandLine(data, size);
    return 0;
}
