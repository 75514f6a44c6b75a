// The demo job's test page, drawn in code so the demo needs no file.
#pragma once

#include "image_io.h"

namespace moxtool {

// An RGB page with a photographic area, line art, text-like strokes and
// flat colour patches; the same pixels on every run.
Image makeDemoPage(int width = 1200, int height = 900);

// Peak signal-to-noise ratio of b against a in dB (99 when identical).
double psnr(const Image& a, const Image& b);

}  // namespace moxtool
