#include "barcode/pipeline/conditioning.h"

#include <cmath>
#include <cstddef>

namespace markwire::barcode {
namespace {

// The sensor's own noise on a flat stretch stays within this; a larger step
// is taken as the edge of the symbol.
constexpr double kFlatTolerance = 5.0;

bool Differs(double a, double b) {
  return std::abs(a - b) > kFlatTolerance;
}

}  // namespace

void SmoothSamples(std::vector<double>& samples) {
  // Each step reads the value replaced just before it, so the filter runs over
  // its own output; the reader software does it this way, and the widths the
  // decoders measure depend on the blur it leaves.
  for (std::size_t i = 1; i + 1 < samples.size(); ++i) {
    samples[i] = 0.2 * ((samples[i + 1] + samples[i - 1]) + 3.0 * samples[i]);
  }
}

std::size_t TrimFlatEnds(std::vector<double>& samples) {
  if (samples.empty()) return 0;
  const double head = samples.front();
  std::size_t k = 1;
  while (k < samples.size() && !Differs(head, samples[k])) ++k;
  if (k == samples.size()) {
    // No edge anywhere: there is no symbol, and one sample leaves the curve
    // fitting nothing to work on, so the read fails there.
    const std::size_t dropped = samples.size() - 1;
    samples.erase(samples.begin(), samples.end() - 1);
    return dropped;
  }
  // The last flat sample stays so that the curve starts on the quiet level
  // and the first edge is a full swing.
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(k - 1));

  const double tail = samples.back();
  std::size_t keep = 2;
  for (std::size_t j = samples.size() - 1; j-- > 1;) {
    if (Differs(tail, samples[j])) {
      keep = j + 2;
      break;
    }
  }
  samples.resize(keep);
  return k - 1;
}

}  // namespace markwire::barcode
