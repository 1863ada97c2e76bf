#include "plot_barcode.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>
#include <vector>

#include "plot_layout.h"

namespace markwire::cli {
namespace {

constexpr double kLeft = 48, kRight = 16;
constexpr double kPlotTop = 92;  // the title, the explanation, the legend
constexpr double kPlotHeight = 240;
constexpr double kTextSize = 11;
// A character's label needs this many pixels; the picture widens until
// the narrowest character's samples give it that, within the bounds.
constexpr double kCharacterPixels = 10;
constexpr double kLeastWidth = 800, kMostWidth = 8000;
constexpr double kLabelRow = 18;

const char* const kSampleColour = "black";
const char* const kFittedColour = "#e07000";
const char* const kPositionColour = "#d33";
const char* const kSpanTints[] = {"#dde8ff", "#fff1c8"};

}  // namespace

std::string BarcodePicture(const std::string& title, std::span<const double> samples,
                           const barcode::DecodeResult& r) {
  const double n = static_cast<double>(std::max<std::size_t>(samples.size(), 2));
  double perSample = kLeastWidth / n;
  for (const auto& span : r.spans) {
    const double wide = std::max(span.last - span.first, 1.0);
    perSample = std::max(perSample, kCharacterPixels * static_cast<double>(span.length) / wide);
  }
  perSample = std::min(perSample, kMostWidth / n);
  const auto x = [&](double sample) { return kLeft + sample * perSample; };
  const auto y = [&](double level) { return kPlotTop + kPlotHeight * (1 - level / 255.0); };

  // The characters' labels, under the plot, on as many rows as keep them
  // apart.
  std::vector<std::pair<double, double>> extents;
  for (const auto& span : r.spans) {
    const double middle = x((span.first + span.last) / 2);
    const double half = 0.36 * kTextSize * static_cast<double>(span.length) + 2;
    extents.emplace_back(middle - half, middle + half);
  }
  // A symbol read backwards has its text from the right: rows go by place.
  std::vector<std::size_t> order(extents.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return extents[a].first < extents[b].first; });
  std::vector<std::pair<double, double>> byPlace;
  for (std::size_t i : order) byPlace.push_back(extents[i]);
  const std::vector<int> placed = LabelRows(byPlace, 2);
  std::vector<int> rows(extents.size());
  for (std::size_t k = 0; k < order.size(); ++k) rows[order[k]] = placed[k];
  const int rowCount = rows.empty() ? 0 : *std::max_element(rows.begin(), rows.end()) + 1;
  const double labelsTop = kPlotTop + kPlotHeight + 56;
  const double width = x(n - 1) + kRight;
  const double height = labelsTop + kLabelRow * rowCount + 12;
  const bool fitted = !r.fitted.empty();
  // The classic element positions belong to the picture only when the
  // classic decoder's reading is the one shown: its text was taken, or no
  // text was.
  const bool positions = !r.bySecondDecoder && r.waveformStep != 0;

  std::ostringstream svg;
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' font-family='sans-serif' font-size='" << kTextSize << "'>\n"
      << "<rect width='100%' height='100%' fill='white'/>\n"
      << "<text x='10' y='18' font-size='14'>" << XmlEscaped(title) << "</text>\n";
  if (!r.explanation.empty()) {
    // As much of the explanation as the width holds.
    const auto fits = static_cast<std::size_t>(std::max(20.0, (width - 20) / (0.55 * kTextSize)));
    std::string shown = r.explanation;
    if (shown.size() > fits) shown = shown.substr(0, fits - 3) + "...";
    svg << "<text x='10' y='36' fill='#555'>" << XmlEscaped(shown) << "<title>"
        << XmlEscaped(r.explanation) << "</title></text>\n";
  }

  // The legend.
  svg << "<g class='legend' font-size='" << kTextSize << "'>\n";
  double lx = 10;
  const auto entry = [&](const std::string& swatch, const char* text) {
    svg << "<g transform='translate(" << lx << ",56)'>" << swatch << "<text x='28' y='4'>" << text
        << "</text></g>\n";
    lx += 40 + 0.58 * kTextSize * static_cast<double>(std::string(text).size());
  };
  entry(std::string("<line x1='0' x2='22' y1='0' y2='0' stroke='") + kSampleColour + "'/>",
        "samples");
  if (fitted)
    entry(std::string("<line x1='0' x2='22' y1='0' y2='0' stroke-width='2' stroke='") +
              kFittedColour + "'/>",
          "second decoder's symbol, rendered");
  if (positions)
    entry(std::string("<line x1='11' x2='11' y1='-6' y2='6' stroke='") + kPositionColour + "'/>",
          "classic decoder's element positions");
  if (!r.spans.empty())
    entry(std::string("<rect x='0' y='-6' width='22' height='12' fill='") + kSpanTints[0] + "'/>",
          "a character's samples");
  svg << "</g>\n";

  // Where each character stands, tinted behind the curves.
  for (std::size_t i = 0; i < r.spans.size(); ++i)
    svg << "<rect class='span' x='" << x(r.spans[i].first) << "' y='" << kPlotTop << "' width='"
        << (r.spans[i].last - r.spans[i].first) * perSample << "' height='" << kPlotHeight
        << "' fill='" << kSpanTints[i % 2] << "'/>\n";

  // Axes: gray levels up the left, sample numbers along the bottom.
  svg << "<g class='axes' stroke='#ccc'>\n";
  for (int level : {0, 64, 128, 192, 255})
    svg << "<line x1='" << kLeft << "' x2='" << x(n - 1) << "' y1='" << y(level) << "' y2='"
        << y(level) << "'/><text x='" << kLeft - 5 << "' y='" << y(level) + kTextSize / 3
        << "' text-anchor='end' stroke='none' fill='black'>" << level << "</text>\n";
  std::vector<long> numbers(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<long>(i);
  for (long t : AxisTicks(numbers, perSample, 48))
    svg << "<line x1='" << x(static_cast<double>(t)) << "' x2='" << x(static_cast<double>(t))
        << "' y1='" << kPlotTop + kPlotHeight << "' y2='" << kPlotTop + kPlotHeight + 5
        << "' stroke='black'/><text class='sample' x='" << x(static_cast<double>(t)) << "' y='"
        << kPlotTop + kPlotHeight + 17 << "' text-anchor='middle' stroke='none' fill='black'>" << t
        << "</text>\n";
  svg << "<text x='" << x(n - 1) << "' y='" << kPlotTop + kPlotHeight + 30
      << "' text-anchor='end' stroke='none' fill='#555'>sample</text>\n"
      << "<text transform='translate(14," << kPlotTop + kPlotHeight / 2
      << ") rotate(-90)' text-anchor='middle' stroke='none' fill='#555'>gray level</text>\n"
      << "<rect x='" << kLeft << "' y='" << kPlotTop << "' width='" << (n - 1) * perSample
      << "' height='" << kPlotHeight << "' fill='none' stroke='#888'/>\n</g>\n";

  if (positions) {
    svg << "<g class='positions' stroke='" << kPositionColour << "' stroke-width='0.7'>\n";
    for (double p : r.positions) {
      const double at = x(r.waveformOrigin + r.waveformStep * p);
      svg << "<line x1='" << at << "' x2='" << at << "' y1='" << kPlotTop << "' y2='"
          << kPlotTop + kPlotHeight << "'/>\n";
    }
    svg << "</g>\n";
  }
  svg << "<polyline class='samples' fill='none' stroke='" << kSampleColour
      << "' stroke-width='1' points='";
  for (std::size_t i = 0; i < samples.size(); ++i)
    svg << x(static_cast<double>(i)) << ',' << y(samples[i]) << ' ';
  svg << "'/>\n";
  if (fitted) {
    svg << "<polyline class='fitted' fill='none' stroke='" << kFittedColour
        << "' stroke-width='1.6' stroke-opacity='0.85' points='";
    for (const auto& [at, level] : r.fitted)
      svg << x(at) << ',' << y(std::clamp(level, 0.0, 255.0)) << ' ';
    svg << "'/>\n";
  }

  // The characters, each centred over its span, with a bracket as wide.
  svg << "<g class='characters' font-family='monospace' font-size='" << kTextSize + 2 << "'>\n";
  for (std::size_t i = 0; i < r.spans.size(); ++i) {
    const auto& span = r.spans[i];
    const double row = labelsTop + kLabelRow * rows[i];
    const double a = x(span.first), b = x(span.last);
    svg << "<path class='bracket' d='M" << a << ',' << row - 14 << " V" << row - 10 << " H" << b
        << " V" << row - 14 << "' fill='none' stroke='#666'/>"
        << "<text class='character' x='" << (a + b) / 2 << "' y='" << row + 2
        << "' text-anchor='middle'>"
        << XmlEscaped(r.text.substr(std::min(span.offset, r.text.size()), span.length))
        << "<title>samples " << std::lround(span.first) << " to " << std::lround(span.last)
        << "</title></text>\n";
  }
  svg << "</g>\n</svg>\n";
  return svg.str();
}

}  // namespace markwire::cli
