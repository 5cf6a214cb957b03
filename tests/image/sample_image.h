#pragma once
// The image the format tests share: shaped like the program's, small enough to reason about.
#include "tessel/image/image.h"

namespace tessel::image {

// const with a method table at 0x103 (first entry fixed up by the word 0x81B), form, help, code
// ending in service entries, var without stored data, @reloc1 last.
Image SampleImage();

// The image written out; a failure to write fails the test.
Bytes Written(const Image& img, Layout* layout = nullptr);

}  // namespace tessel::image
