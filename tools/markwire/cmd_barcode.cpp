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
#include "plot_barcode.h"
#include "plot_layout.h"
#include "waveform_model.h"

namespace markwire::cli {
namespace {

const std::map<std::string, int> kSymbologies = {{"code128", barcode::kCode128},
                                                 {"i2of5", barcode::kInterleaved2of5},
                                                 {"code39", barcode::kCode39}};

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

// Returns 0, or the exit status with `error` the reason: a file that cannot
// be read, or one that holds something else than samples.
int ReadSamples(const std::string& file, bool raw, std::vector<std::uint8_t>& out,
                std::string& error) {
  std::ifstream in;
  if (file != "-") {
    if (!Readable(file, error)) return kExitNoInput;
    in.open(file, std::ios::binary);
    if (!in) {
      error = file + ": cannot be read";
      return kExitNoInput;
    }
  }
  std::istream& s = file == "-" ? std::cin : in;
  if (raw) {
    out.assign(std::istreambuf_iterator<char>(s), std::istreambuf_iterator<char>());
    return 0;
  }
  std::string word;
  while (s >> word) {
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || v < 0 || v > 255) {
      error = "not a sample 0..255: \"" + word.substr(0, 24) + "\"";
      return kExitBadData;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return 0;
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
  r->add_option("--samples-per-module", render->optics.samplesPerModule)
      ->check(AboveZero())
      ->capture_default_str();
  r->add_option("--blur", render->optics.blurModules, "Gaussian sigma in modules")
      ->check(NotNegative())
      ->capture_default_str();
  r->add_option("--noise", render->optics.noise, "Additive noise sigma, gray levels")
      ->check(NotNegative())
      ->capture_default_str();
  r->add_option("--jitter", render->optics.speedJitter, "Slow speed variation")
      ->check(NumberFrom(0, 0.5))
      ->capture_default_str();
  r->add_option("--seed", render->optics.seed)
      ->check(WholeNumber(0, INT64_MAX))
      ->capture_default_str();
  r->add_option("--wide-ratio", render->wideRatio, "Wide:narrow (code39, i2of5)")
      ->capture_default_str();
  r->callback([render, &globals] {
    sim::EncodeOptions encode;
    encode.wideRatio = render->wideRatio;
    const auto widths = sim::EncodeBarcode(
        static_cast<sim::BarcodeKind>(kSymbologies.at(render->symbology)), render->text, encode);
    if (const auto* reason = std::get_if<std::string>(&widths)) {
      Complain(*reason);  // a text or a ratio the symbology has no room for
      globals.exitStatus = kExitUsage;
      return;
    }
    const auto samples = sim::RenderWaveform(std::get<std::vector<double>>(widths), render->optics);
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
      "decode", "Run the library's barcode read on samples (exit 0 decoded, 3 full stops)");
  d->add_option("--symbology", decode->symbology, "code39, i2of5 or code128")
      ->required()
      ->check(CLI::IsMember({"code39", "i2of5", "code128"}));
  d->add_option("--length", decode->length,
                "Characters of barcode text (the format's fifth number)")
      ->required()
      ->check(WholeNumber(0, barcode::kMaxBarcodeLength));
  d->add_option("file", decode->file,
                "Samples as integers 0..255 (or bytes with --raw); - for stdin")
      ->capture_default_str();
  d->add_flag("--raw", decode->raw, "The file holds raw sample bytes");
  d->add_flag(
      "--reversed", decode->reversed,
      "The samples arrived last first (a barcode line whose second number is not the greater)");
  d->add_flag("--trace", decode->trace,
              "The decoder's trace line and error codes on standard error");
  d->add_option("--plot", decode->plot,
                "Draw the samples and the decoded characters over them as SVG, with the second "
                "decoder's symbol or the classic element positions");
  d->add_option("--mode", decode->mode,
                "0 the classic decoder alone; 1 its text only when the samples clearly support it; "
                "2 as 1, and a second decoder when the classic one fails or is refused")
      ->check(WholeNumber(0, 2))
      ->capture_default_str();
  d->add_flag("--explain", decode->explain,
              "Say on standard error which decoder's text was taken, or why a text was refused "
              "(which character, by what margin)");
  d->callback([decode, &globals] {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (const int status = ReadSamples(decode->file, decode->raw, bytes, error); status != 0) {
      Complain(error);
      globals.exitStatus = status;
      return;
    }
    const barcode::BarcodeLine line{kSymbologies.at(decode->symbology), decode->reversed ? 1 : 2,
                                    decode->reversed ? 2 : 1, 0, decode->length};
    barcode::SymbolTables tables;
    PrintedEvents events(decode->trace || globals.trace);
    const auto mode = static_cast<barcode::BarcodeMode>(decode->mode);
    const auto samples = barcode::SamplesInReadingOrder(bytes, line);
    const auto result = barcode::DecodeSamples(samples, line, tables, events, mode);
    std::printf("%s\n", result.text.c_str());
    if (decode->explain) {
      const char* by = !result.decoded          ? "not decoded"
                       : result.bySecondDecoder ? "decoded by the second decoder"
                                                : "decoded by the classic decoder";
      std::fprintf(stderr, "%s%s%s\n", by, result.explanation.empty() ? "" : ": ",
                   result.explanation.c_str());
    }
    // A waveform of fewer than two samples is no curve: nothing is drawn,
    // and the read's outcome stands.
    if (!decode->plot.empty() && samples.size() < 2)
      Complain(decode->plot + ": no waveform to draw, not written");
    if (!decode->plot.empty() && samples.size() >= 2) {
      const std::string title =
          decode->symbology + ", length " + std::to_string(decode->length) + ": " +
          (result.decoded ? "\"" + result.text + "\" decoded by the " +
                                (result.bySecondDecoder ? "second" : "classic") + " decoder"
                          : std::string("not decoded"));
      if (!WriteFileWhole(decode->plot, BarcodePicture(title, samples, result), error)) {
        Complain(error);
        globals.exitStatus = kExitNoInput;
        return;
      }
    }
    globals.exitStatus = result.decoded ? 0 : kExitNotDecoded;
  });
}

}  // namespace markwire::cli
