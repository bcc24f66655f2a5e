// The image example's pictures: block digits of a page counter, and a deterministic test
// pattern of a chosen number of colours whose stripes move from frame to frame.
#pragma once

#include <string>

#include "Graphics.h"
#include "ImageQuery.h"

namespace velmora::example {

// Green digits on black, each a 3 by 5 grid of 4-pixel blocks; other characters are left blank.
TBitmap DrawCounter(const std::string& digits);

// Diagonal stripes of q.Colors colours (colour 0 is the one made transparent), shifted by one
// stripe per frame.
TBitmap DrawPattern(const TImageQuery& q, int frame);
TColor PatternColor(int index);

}  // namespace velmora::example
