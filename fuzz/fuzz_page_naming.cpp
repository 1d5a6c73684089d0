// libFuzzer target: page names, their advancing and the store format.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvo::fuzz::pageNaming(data, size);
    return 0;
}
