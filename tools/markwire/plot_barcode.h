// A barcode read as a picture: the samples, the characters of the text over
// the samples each one stands on, the second decoder's symbol rendered over
// the samples when its text was taken, the classic decoder's element
// positions when its reading is the one shown, and a legend.
#pragma once

#include <span>
#include <string>

#include "barcode/pipeline/decode_samples.h"

namespace markwire::cli {

// `samples`: those the read was given, in reading order. `title` heads the
// picture (the symbology and the outcome, say). The SVG document.
std::string BarcodePicture(const std::string& title, std::span<const double> samples,
                           const barcode::DecodeResult& result);

}  // namespace markwire::cli
