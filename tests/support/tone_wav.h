#pragma once
// A short sound for tests that play something: a mono 16-bit PCM WAV of a quiet 440 Hz tone.
#include <string>

namespace tessel::testing {

std::string MakeToneWav(unsigned seconds);

}  // namespace tessel::testing
