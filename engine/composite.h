#pragma once
// The two sequences that the program builds from CLead's operations. They call
// only public operations, so they work on any CLead, including test doubles.

#include <string>

namespace pv::engine {

class CLead;

// Prepares a freshly loaded image for saving or drawing: an alpha source's
// fully transparent pixels are painted with `background`, which becomes the
// transparent colour; an image with a transparent colour has its pixels of
// that colour painted (fill) or only selected (no fill). `secondary` is
// scratch space. `sourceCode` is the source file's format code.
void flattenTransparency(CLead& primary, CLead& secondary, short sourceCode, int background, bool fill);

// Makes the next LoadImage of the file produce its largest listed resolution
// (the first of equal areas).
void chooseLoadResolution(CLead& lead, const std::string& path);

}  // namespace pv::engine
