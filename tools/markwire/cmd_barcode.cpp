// markwire barcode: render a barcode's sensor waveform as the simulated
// reader would send it, or decode a waveform with the library's barcode read.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "cli.h"
#include "waveform_model.h"

namespace markwire::cli {
namespace {

constexpr int kExitNotDecoded = 3;

const std::map<std::string, int> kSymbologies = {
    {"code128", barcode::kCode128}, {"i2of5", barcode::kInterleaved2of5}, {"code39", barcode::kCode39}};

// The read's reports, for a person: trace lines and error codes on standard
// error when asked for.
class PrintedEvents final : public barcode::ReadEvents {
 public:
  explicit PrintedEvents(bool print) : print_(print) {}
  void ClearPending() override {}
  void SetError(std::string_view code) override {
    if (print_) std::fprintf(stderr, "error %.*s\n", static_cast<int>(code.size()), code.data());
  }
  void Trace(std::string_view line) override {
    if (print_) std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  }

 private:
  bool print_;
};

bool ReadSamples(const std::string& file, bool raw, std::vector<std::uint8_t>& out,
                 std::string& error) {
  std::ifstream in;
  if (file != "-") {
    in.open(file, std::ios::binary);
    if (!in) {
      error = file + ": cannot be read";
      return false;
    }
  }
  std::istream& s = file == "-" ? std::cin : in;
  if (raw) {
    out.assign(std::istreambuf_iterator<char>(s), std::istreambuf_iterator<char>());
    return true;
  }
  std::string word;
  while (s >> word) {
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || v < 0 || v > 255) {
      error = "not a sample 0..255: \"" + word + "\"";
      return false;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

// The waveform, its turning points, the element positions the decoder saw,
// and the patterns it made of them.
bool WritePlot(const std::string& path, const barcode::DecodeResult& r) {
  std::ofstream svg(path);
  const double width = std::max<double>(800.0, static_cast<double>(r.waveform.size()) / 4.0);
  const double height = 300, top = 20, plot = 230;
  const double xScale = r.waveform.size() > 1 ? width / static_cast<double>(r.waveform.size() - 1) : 1;
  const auto y = [&](double v) { return top + plot * (1.0 - v / 255.0); };
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' font-family='sans-serif' font-size='10'>\n<rect width='100%' height='100%' "
         "fill='white'/>\n";
  for (double p : r.positions)
    svg << "<line x1='" << p * xScale << "' x2='" << p * xScale << "' y1='" << top << "' y2='"
        << top + plot << "' stroke='#d33' stroke-width='0.6'/>\n";
  svg << "<polyline fill='none' stroke='black' stroke-width='0.8' points='";
  for (std::size_t i = 0; i < r.waveform.size(); ++i) svg << i * xScale << ',' << y(r.waveform[i]) << ' ';
  svg << "'/>\n";
  for (double p : r.turningPoints)
    svg << "<circle cx='" << p * xScale << "' cy='" << y(barcode::ValueAt(r.waveform, p))
        << "' r='1.5' fill='#36c'/>\n";
  for (std::size_t i = 0; i < r.patterns.size() && !r.positions.empty(); ++i) {
    const std::size_t at = i * r.positions.size() / r.patterns.size();
    svg << "<text x='" << r.positions[at] * xScale << "' y='" << top + plot + 18 << "'>"
        << r.patterns[i] << "</text>\n";
  }
  svg << "<text x='4' y='12'>text \"" << r.text << "\"  (" << r.positions.size()
      << " element positions, " << r.patterns.size() << " patterns)</text>\n</svg>\n";
  return static_cast<bool>(svg);
}

}  // namespace

void AddBarcodeCommand(CLI::App& app, Globals& globals) {
  CLI::App* command = app.add_subcommand("barcode", "Render or decode barcode sensor waveforms");
  command->require_subcommand(1);

  struct Render {
    std::string symbology, text;
    sim::OpticsOptions optics;
    double wideRatio = 2.5;
  };
  auto render = std::make_shared<Render>();
  CLI::App* r = command->add_subcommand(
      "render", "Write a barcode's waveform as integers 0..255 on one line, in reading order");
  r->add_option("--symbology", render->symbology, "code39, i2of5 or code128")
      ->required()
      ->check(CLI::IsMember({"code39", "i2of5", "code128"}));
  r->add_option("--text", render->text, "The text (digits for i2of5 and code128)")->required();
  r->add_option("--samples-per-module", render->optics.samplesPerModule)->capture_default_str();
  r->add_option("--blur", render->optics.blurModules, "Gaussian sigma in modules")
      ->capture_default_str();
  r->add_option("--noise", render->optics.noise, "Additive noise sigma, gray levels")
      ->capture_default_str();
  r->add_option("--jitter", render->optics.speedJitter, "Slow speed variation")
      ->capture_default_str();
  r->add_option("--seed", render->optics.seed)->capture_default_str();
  r->add_option("--wide-ratio", render->wideRatio, "Wide:narrow (code39, i2of5)")
      ->capture_default_str();
  r->callback([render, &globals] {
    sim::EncodeOptions encode;
    encode.wideRatio = render->wideRatio;
    const auto widths = sim::EncodeBarcode(
        static_cast<sim::BarcodeKind>(kSymbologies.at(render->symbology)), render->text, encode);
    if (const auto* reason = std::get_if<std::string>(&widths)) {
      Complain(*reason);
      globals.exitStatus = kExitRefused;
      return;
    }
    const auto samples =
        sim::RenderWaveform(std::get<std::vector<double>>(widths), render->optics);
    std::string line;
    for (std::uint8_t v : samples) line += (line.empty() ? "" : " ") + std::to_string(v);
    std::printf("%s\n", line.c_str());
  });

  struct Decode {
    std::string symbology, file = "-", plot;
    int length = 0;
    int mode = static_cast<int>(barcode::kDefaultBarcodeMode);
    bool raw = false, reversed = false, trace = false, explain = false;
  };
  auto decode = std::make_shared<Decode>();
  CLI::App* d = command->add_subcommand(
      "decode",
      "Run the library's barcode read on samples (exit 0 decoded, 3 full stops)");
  d->add_option("--symbology", decode->symbology, "code39, i2of5 or code128")
      ->required()
      ->check(CLI::IsMember({"code39", "i2of5", "code128"}));
  d->add_option("--length", decode->length, "Characters of barcode text (the format's fifth number)")
      ->required()
      ->check(CLI::Range(0, barcode::kMaxBarcodeLength));
  d->add_option("file", decode->file, "Samples as integers 0..255 (or bytes with --raw); - for stdin")
      ->capture_default_str();
  d->add_flag("--raw", decode->raw, "The file holds raw sample bytes");
  d->add_flag("--reversed", decode->reversed,
              "The samples arrived last first (a barcode line whose second number is not the greater)");
  d->add_flag("--trace", decode->trace, "The decoder's trace line and error codes on standard error");
  d->add_option("--plot", decode->plot, "Draw the waveform, its turning points, the element "
                                        "positions and the patterns as SVG");
  d->add_option("--mode", decode->mode,
                "0 the classic decoder alone; 1 its text only when the samples clearly support it; "
                "2 as 1, and a second decoder when the classic one fails or is refused")
      ->check(CLI::Range(0, 2))
      ->capture_default_str();
  d->add_flag("--explain", decode->explain,
              "Say on standard error which decoder's text was taken, or why a text was refused "
              "(which character, by what margin)");
  d->callback([decode, &globals] {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadSamples(decode->file, decode->raw, bytes, error)) {
      Complain(error);
      globals.exitStatus = kExitRefused;
      return;
    }
    const barcode::BarcodeLine line{kSymbologies.at(decode->symbology), decode->reversed ? 1 : 2,
                                    decode->reversed ? 2 : 1, 0, decode->length};
    barcode::SymbolTables tables;
    PrintedEvents events(decode->trace || globals.trace);
    const auto mode = static_cast<barcode::BarcodeMode>(decode->mode);
    const auto result = barcode::DecodeSamples(barcode::SamplesInReadingOrder(bytes, line), line,
                                               tables, events, mode);
    std::printf("%s\n", result.text.c_str());
    if (decode->explain) {
      const char* by = !result.decoded          ? "not decoded"
                       : result.bySecondDecoder ? "decoded by the second decoder"
                                                : "decoded by the classic decoder";
      std::fprintf(stderr, "%s%s%s\n", by, result.explanation.empty() ? "" : ": ",
                   result.explanation.c_str());
    }
    if (!decode->plot.empty() && !WritePlot(decode->plot, result)) {
      Complain(decode->plot + ": cannot write the plot");
      globals.exitStatus = kExitRefused;
      return;
    }
    globals.exitStatus = result.decoded ? 0 : kExitNotDecoded;
  });
}

}  // namespace markwire::cli
