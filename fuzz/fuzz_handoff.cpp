// libFuzzer target: the hand-off record, its notification framing and the hand-off file.
#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvo::fuzz::handOff(data, size);
    return 0;
}
