// What each fuzz target does with one input: turn the bytes into the values the program takes
// from outside, run the real code on them and check the rules its results must obey. Shared
// with the regression test, so every input that once crashed stays in the normal test suite.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvo::fuzz {

// Called when a result breaks one of those rules. The default traps, which libFuzzer records as
// a crash together with the input; the regression test records a failure instead.
using ViolationHandler = void (*)(const char* rule);
void setViolationHandler(ViolationHandler handler);

// Each returns true when the input was valid as a whole: the command line converted every
// number, the image decoded. Bad input must give false, never a crash or a broken rule.

// Arguments separated by newline or NUL, UTF-8; parsed in the C and the German locale.
bool commandLine(const uint8_t* data, size_t size);
// First byte: page bits ('1' → 1, '8' → 8, else 24); then the target name, a newline, the
// output format.
bool pageNaming(const uint8_t* data, size_t size);
// A PCX file, read from a random-access and from a sequential device.
bool pcx(const uint8_t* data, size_t size);
// Any image file, opened the way the viewer opens it. Needs a Q(Gui)Application.
bool imageLoad(const uint8_t* data, size_t size);
// Four bytes page count (little endian), then file name, NUL, result code.
bool handOff(const uint8_t* data, size_t size);

} // namespace kelvo::fuzz
