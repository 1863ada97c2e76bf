#include "barcode_card.h"

#include <algorithm>
#include <variant>

namespace markwire::sim {

BarcodeKind KindOfLine(long symbology) {
  switch (symbology) {
    case 2:
      return BarcodeKind::Interleaved2of5;
    case 3:
      return BarcodeKind::Code39;
    default:
      return BarcodeKind::Code128;
  }
}

std::string FitBarcodeText(BarcodeKind kind, std::string_view text, long length) {
  if (text.empty()) return {};
  const auto field = static_cast<std::size_t>(std::clamp(length, 0L, kLongestBarcodeField));
  const bool digits = kind != BarcodeKind::Code39;
  std::string fitted;
  if (text.size() >= field) {
    fitted = text.substr(text.size() - field);
  } else {
    fitted.assign(field - text.size(), digits ? '0' : ' ');
    fitted += text;
  }
  if (digits && fitted.size() % 2 != 0) fitted.insert(fitted.begin(), '0');
  return fitted;
}

std::vector<std::uint8_t> SampleCardBarcode(const std::array<long, 5>& line,
                                            std::string_view barcode, const OpticsOptions& optics,
                                            double wideRatio) {
  const BarcodeKind kind = KindOfLine(line[0]);
  const std::string text = FitBarcodeText(kind, barcode, line[4]);
  if (text.empty()) return {};
  EncodeOptions printing;
  printing.wideRatio = wideRatio;
  const auto widths = EncodeBarcode(kind, text, printing);
  if (!std::holds_alternative<std::vector<double>>(widths)) return {};
  std::vector<std::uint8_t> samples = RenderWaveform(std::get<std::vector<double>>(widths), optics);
  if (samples.size() > kMostWaveformSamples) {
    const std::size_t excess = samples.size() - kMostWaveformSamples;
    samples.erase(samples.end() - static_cast<std::ptrdiff_t>(excess - excess / 2), samples.end());
    samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(excess / 2));
  }
  return samples;
}

}  // namespace markwire::sim
