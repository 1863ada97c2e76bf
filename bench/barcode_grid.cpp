// How often the barcode read decodes, and how often it hands back a wrong
// text, over samples per module x blur x noise, for each symbology and each of
// the read's modes (classic, guarded, guarded with the second decoder); beside
// them ZBar's 1-D scanner and zxing-cpp, fed the very same samples, when they
// are installed. Prints Markdown: a table per symbology (Code 39 at the
// wide:narrow ratios 2.0, 2.5 and 3.0), a summary over all cells, and the
// decode times of the run.
//
//   barcode_grid [TRIALS] [--symbology 39|25|128] [--only-summary] [--jobs N]
//                [--optics other] [--length N]
//
//   TRIALS           waveforms per cell, default 40
//   --symbology S    only Code 39 (39), Interleaved 2 of 5 (25) or Code 128 (128)
//   --only-summary   the summary and the times, without the per-cell tables
//   --jobs N         threads sharing out the cells, default 2
//   --optics other   render with the second optical model (other_optics.h)
//                    instead of the simulator's
//   --length N       characters per barcode, 1 to 123 (default 8; Interleaved
//                    2 of 5 and Code 128 take the even number at or below it)
//
// A waveform counts as decoded when the read hands back the barcode's text,
// as misread when it hands back anything else but the full stops of a failed
// read; for ZBar and zxing, when they report a text that is not the barcode's.
//
// Every cell draws its texts and optics from a seed of its own, made from the
// symbology and the cell's samples per module, blur and noise: the same
// arguments print the same rates whatever --jobs is (only the times change),
// and the three Code 39 tables decode the same texts under the same optics.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "other_optics.h"
#include "waveform_model.h"

#ifdef MARKWIRE_WITH_ZBAR
#include <zbar.h>
using namespace zbar;  // its C interface lives in this namespace under C++
#endif

#ifdef MARKWIRE_WITH_ZXING
#define ZX_USE_UTF8  // Result::text() as UTF-8 std::string
#include <ZXing/ReadBarcode.h>
#include <ZXing/ZXVersion.h>
#endif

namespace {

using namespace markwire;

#ifdef MARKWIRE_WITH_ZBAR
constexpr bool kHaveZbar = true;
#else
constexpr bool kHaveZbar = false;
#endif
#ifdef MARKWIRE_WITH_ZXING
constexpr bool kHaveZxing = true;
#else
constexpr bool kHaveZxing = false;
#endif

int gLength = 8;  // characters per barcode (--length)
constexpr double kSamplesPerModule[] = {1.5, 2, 2.5, 3, 4, 6};
constexpr double kBlurs[] = {0.3, 0.5, 0.65, 0.8};
constexpr double kNoises[] = {0, 4, 10};

// The first three are the read's modes 0, 1 and 2, in that order.
enum Decoder { kClassic, kGuarded, kSecond, kZbar, kZxing, kDecoderCount };
constexpr const char* kDecoderNames[kDecoderCount] = {"classic", "guarded", "second", "ZBar",
                                                      "zxing"};

bool Present(int decoder) {
  return decoder == kZbar ? kHaveZbar : decoder == kZxing ? kHaveZxing : true;
}

enum class Outcome { kNothing, kDecoded, kMisread };

struct Tally {
  int decoded = 0;
  int misread = 0;
  double micros = 0;       // summed over the waveforms
  double worstMicros = 0;  // the slowest waveform
  void Add(const Tally& other) {
    decoded += other.decoded;
    misread += other.misread;
    micros += other.micros;
    worstMicros = std::max(worstMicros, other.worstMicros);
  }
};

struct Cell {
  double samplesPerModule = 0;
  double blur = 0;
  double noise = 0;
  std::array<Tally, kDecoderCount> tallies{};
  // Waveforms on which ZBar reported the text and also some other text.
  int zbarAlsoWrong = 0;
};

struct Table {
  int symbology = 0;
  double wideRatio = 2.5;
  std::string title;
  std::vector<Cell> cells;
};

std::string RandomText(std::mt19937_64& rng, int symbology, int length) {
  static const char kCode39[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::uniform_int_distribution<int> digit(0, 9), any(0, 35);
  std::string text;
  for (int i = 0; i < length; ++i)
    text += symbology == barcode::kCode39 ? kCode39[any(rng)] : static_cast<char>('0' + digit(rng));
  return text;
}

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// The wide:narrow ratio is left out on purpose: see the header comment.
std::uint64_t CellSeed(int symbology, const Cell& cell) {
  std::uint64_t seed = static_cast<std::uint64_t>(symbology);
  for (double v : {cell.samplesPerModule, cell.blur, cell.noise})
    seed = SplitMix(seed ^ static_cast<std::uint64_t>(std::llround(v * 1000)));
  return seed;
}

#if defined(MARKWIRE_WITH_ZBAR) || defined(MARKWIRE_WITH_ZXING)
// A peer's text against the truth. Code 128 symbols here start with FNC1
// (GS1), which a peer may hand back as a marker ahead of the digits: a
// non-digit prefix of up to three characters is accepted there.
bool PeerTextMatches(std::string_view data, int symbology, const std::string& text) {
  if (data == text) return true;
  if (symbology != barcode::kCode128 || data.size() <= text.size() ||
      data.size() > text.size() + 3 || !data.ends_with(text))
    return false;
  const std::string_view prefix = data.substr(0, data.size() - text.size());
  return std::none_of(prefix.begin(), prefix.end(), [](char c) { return c >= '0' && c <= '9'; });
}
#endif

#ifdef MARKWIRE_WITH_ZBAR
// ZBar reads intensities sample by sample; only the symbology under test is
// enabled, any length accepted. A waveform counts as decoded when one of the
// texts it reports is the barcode's, as a misread when it reports only other
// texts.
Outcome ZbarReads(const std::vector<std::uint8_t>& samples, int symbology, const std::string& text,
                  bool& alsoWrong) {
  zbar_decoder_t* decoder = zbar_decoder_create();
  zbar_decoder_set_config(decoder, static_cast<zbar_symbol_type_t>(0), ZBAR_CFG_ENABLE, 0);
  const zbar_symbol_type_t type = symbology == barcode::kCode39            ? ZBAR_CODE39
                                  : symbology == barcode::kInterleaved2of5 ? ZBAR_I25
                                                                           : ZBAR_CODE128;
  zbar_decoder_set_config(decoder, type, ZBAR_CFG_ENABLE, 1);
  zbar_decoder_set_config(decoder, type, ZBAR_CFG_MIN_LEN, 1);
  zbar_scanner_t* scanner = zbar_scanner_create(decoder);
  bool right = false, wrong = false;
  const auto check = [&](zbar_symbol_type_t got) {
    if (got <= ZBAR_PARTIAL) return;
    const std::string_view data(zbar_decoder_get_data(decoder),
                                zbar_decoder_get_data_length(decoder));
    (PeerTextMatches(data, symbology, text) ? right : wrong) = true;
  };
  zbar_scanner_new_scan(scanner);
  for (std::uint8_t v : samples) check(zbar_scan_y(scanner, v));
  for (int i = 0; i < 3; ++i) check(zbar_scanner_flush(scanner));
  zbar_scanner_destroy(scanner);
  zbar_decoder_destroy(decoder);
  alsoWrong = right && wrong;
  return right ? Outcome::kDecoded : wrong ? Outcome::kMisread : Outcome::kNothing;
}
#endif

#ifdef MARKWIRE_WITH_ZXING
// zxing-cpp reads images: the waveform becomes a grayscale image of
// kZxingRows identical rows, one column per sample, read with only the
// symbology under test enabled. What gives it its best chance here:
// - Levels: each waveform is stretched so that its 2nd and 98th percentiles
//   become 0 and 255 (auto levels, from the waveform alone), and the image is
//   cut at zxing's fixed threshold. On these waveforms zxing's own histogram
//   binarizer (its default) read about half of what that reads, and the
//   fixed threshold on the raw samples somewhat less, since each card's gain
//   and offset move its midpoint away from 127.
// - tryHarder on; no rotation and no downscaling, which have nothing to
//   find on an image 8 rows high.
// - One agreeing row is enough: the rows are identical, so asking for more
//   changes nothing. Not declared pure (it made no difference).
// - No check characters are validated (none are printed), no Code 39
//   extended mode.
constexpr int kZxingRows = 8;

const ZXing::DecodeHints& ZxingHints(int symbology) {
  static const auto make = [](ZXing::BarcodeFormat format) {
    ZXing::DecodeHints hints;
    hints.setFormats(format)
        .setTryHarder(true)
        .setTryRotate(false)
        .setTryDownscale(false)
        .setIsPure(false)
        .setMinLineCount(1)
        .setBinarizer(ZXing::Binarizer::FixedThreshold)
        .setTryCode39ExtendedMode(false)
        .setValidateCode39CheckSum(false)
        .setValidateITFCheckSum(false);
    return hints;
  };
  static const ZXing::DecodeHints code39 = make(ZXing::BarcodeFormat::Code39),
                                  itf = make(ZXing::BarcodeFormat::ITF),
                                  code128 = make(ZXing::BarcodeFormat::Code128);
  return symbology == barcode::kCode39            ? code39
         : symbology == barcode::kInterleaved2of5 ? itf
                                                  : code128;
}

Outcome ZxingReads(const std::vector<std::uint8_t>& samples, int symbology,
                   const std::string& text) {
  if (samples.empty()) return Outcome::kNothing;
  std::vector<std::uint8_t> sorted = samples;
  const auto at = [&](std::size_t i) {
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(i), sorted.end());
    return static_cast<double>(sorted[i]);
  };
  const double low = at(sorted.size() / 50), high = at(sorted.size() - 1 - sorted.size() / 50);
  const double scale = 255.0 / std::max(1.0, high - low);
  std::vector<std::uint8_t> row;
  row.reserve(samples.size());
  for (std::uint8_t v : samples)
    row.push_back(static_cast<std::uint8_t>(std::clamp((v - low) * scale + 0.5, 0.0, 255.0)));
  std::vector<std::uint8_t> image;
  image.reserve(row.size() * kZxingRows);
  for (int i = 0; i < kZxingRows; ++i) image.insert(image.end(), row.begin(), row.end());
  const ZXing::Result result =
      ZXing::ReadBarcode(ZXing::ImageView(image.data(), static_cast<int>(samples.size()),
                                          kZxingRows, ZXing::ImageFormat::Lum),
                         ZxingHints(symbology));
  if (!result.isValid()) return Outcome::kNothing;
  return PeerTextMatches(result.text(), symbology, text) ? Outcome::kDecoded : Outcome::kMisread;
}
#endif

void Count(Tally& tally, Outcome outcome, std::chrono::steady_clock::time_point start) {
  const double micros =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  tally.micros += micros;
  tally.worstMicros = std::max(tally.worstMicros, micros);
  tally.decoded += outcome == Outcome::kDecoded;
  tally.misread += outcome == Outcome::kMisread;
}

void RunCell(int symbology, double wideRatio, int trials, bool otherOptics, Cell& cell) {
  std::mt19937_64 rng(CellSeed(symbology, cell));
  sim::EncodeOptions encode;
  encode.wideRatio = wideRatio;
  // Interleaved 2 of 5 and Code 128 carry digit pairs.
  const int length = symbology == barcode::kCode39 ? gLength : std::max(2, gLength / 2 * 2);
  const barcode::BarcodeLine line{symbology, 2, 1, 0, length};
  const std::string failed(static_cast<std::size_t>(length), '.');
  barcode::IgnoredReadEvents events;
  for (int t = 0; t < trials; ++t) {
    const std::string text = RandomText(rng, symbology, length);
    const auto widths = std::get<std::vector<double>>(
        sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text, encode));
    // Both models take the cell's optics the same way.
    const auto render = [&](auto optics, auto renderer) {
      optics.samplesPerModule = cell.samplesPerModule;
      optics.blurModules = cell.blur;
      optics.noise = cell.noise;
      optics.seed = rng();
      return renderer(widths, optics);
    };
    const std::vector<std::uint8_t> bytes =
        otherOptics ? render(bench::OtherOptics{}, bench::RenderOther)
                    : render(sim::OpticsOptions{}, sim::RenderWaveform);
    // The read's modes 0, 1 and 2, each as a fresh session would run it; the
    // clock runs around the call alone. The order turns from waveform to
    // waveform, so that no mode always finds the caches warmed by another.
    for (int k = 0; k < 3; ++k) {
      const int mode = (t + k) % 3;
      barcode::SymbolTables tables;
      auto samples = barcode::SamplesInReadingOrder(bytes, line);
      const auto start = std::chrono::steady_clock::now();
      const auto result = barcode::DecodeSamples(std::move(samples), line, tables, events,
                                                 static_cast<barcode::BarcodeMode>(mode));
      Count(cell.tallies[mode],
            result.text == text     ? Outcome::kDecoded
            : result.text == failed ? Outcome::kNothing
                                    : Outcome::kMisread,
            start);
    }
    // The peers' clocks include their setup (and zxing's image).
#ifdef MARKWIRE_WITH_ZBAR
    {
      bool alsoWrong = false;
      const auto start = std::chrono::steady_clock::now();
      Count(cell.tallies[kZbar], ZbarReads(bytes, symbology, text, alsoWrong), start);
      cell.zbarAlsoWrong += alsoWrong;
    }
#endif
#ifdef MARKWIRE_WITH_ZXING
    {
      const auto start = std::chrono::steady_clock::now();
      Count(cell.tallies[kZxing], ZxingReads(bytes, symbology, text), start);
    }
#endif
  }
}

std::vector<int> PresentDecoders() {
  std::vector<int> decoders;
  for (int d = 0; d < kDecoderCount; ++d)
    if (Present(d)) decoders.push_back(d);
  return decoders;
}

double Percent(int count, int of) {
  return of ? 100.0 * count / of : 0.0;
}

void PrintCells(const Table& table, int trials) {
  const auto decoders = PresentDecoders();
  std::printf("### %s\n\n| samples/module | blur | noise |", table.title.c_str());
  for (int d : decoders) std::printf(" %s | misread |", kDecoderNames[d]);
  std::printf("\n|---|---|---|");
  for (std::size_t i = 0; i < decoders.size(); ++i) std::printf("---|---|");
  std::printf("\n");
  for (const Cell& cell : table.cells) {
    std::printf("| %.1f | %.2g | %.0f |", cell.samplesPerModule, cell.blur, cell.noise);
    for (int d : decoders)
      std::printf(" %.0f | %.0f |", Percent(cell.tallies[d].decoded, trials),
                  Percent(cell.tallies[d].misread, trials));
    std::printf("\n");
  }
  std::printf("\n");
}

// The cells where the read is expected to work: enough samples, little blur
// and noise.
bool GoodCell(const Cell& cell) {
  return cell.samplesPerModule >= 2 && cell.blur <= 0.5 && cell.noise <= 4;
}

// Decoded and misread per decoder over the cells that pass the filter, a row
// per table and one for all of them.
template <typename Filter>
void PrintRates(const std::vector<Table>& tables, int trials, const char* heading, Filter filter) {
  const auto decoders = PresentDecoders();
  std::printf("%s\n\n| table |", heading);
  for (int d : decoders) std::printf(" %s | misread |", kDecoderNames[d]);
  std::printf("\n|---|");
  for (std::size_t i = 0; i < decoders.size(); ++i) std::printf("---|---|");
  std::printf("\n");
  const auto row = [&](const char* title, const std::array<Tally, kDecoderCount>& tallies,
                       int waveforms) {
    std::printf("| %s |", title);
    for (int d : decoders)
      std::printf(" %.1f | %.1f |", Percent(tallies[d].decoded, waveforms),
                  Percent(tallies[d].misread, waveforms));
    std::printf("\n");
  };
  std::array<Tally, kDecoderCount> all{};
  int allWaveforms = 0;
  for (const Table& table : tables) {
    std::array<Tally, kDecoderCount> sum{};
    int waveforms = 0;
    for (const Cell& cell : table.cells) {
      if (!filter(cell)) continue;
      for (int d = 0; d < kDecoderCount; ++d) sum[d].Add(cell.tallies[d]);
      waveforms += trials;
    }
    row(table.title.c_str(), sum, waveforms);
    for (int d = 0; d < kDecoderCount; ++d) all[d].Add(sum[d]);
    allWaveforms += waveforms;
  }
  row("all", all, allWaveforms);
  std::printf("\n");
}

void PrintSummary(const std::vector<Table>& tables, int trials) {
  std::printf("### Summary\n\n");
  PrintRates(tables, trials,
             "Decoded % and misread % over all cells:", [](const Cell&) { return true; });
  PrintRates(tables, trials,
             "Over the cells with at least 2 samples/module, blur at most 0.5 and noise at most 4:",
             GoodCell);

  int zbarAlsoWrong = 0;
  for (const Table& table : tables)
    for (const Cell& cell : table.cells) zbarAlsoWrong += cell.zbarAlsoWrong;
  if (zbarAlsoWrong)
    std::printf(
        "ZBar reported a wrong text besides the right one on %d waveforms (counted as "
        "decoded).\n\n",
        zbarAlsoWrong);

  if (!kHaveZbar && !kHaveZxing) {
    std::printf("Neither ZBar nor zxing-cpp was built in: no comparison with mode 2.\n\n");
    return;
  }
  std::vector<std::string> below;
  int cells = 0;
  for (const Table& table : tables)
    for (const Cell& cell : table.cells) {
      ++cells;
      const int peer = std::max(kHaveZbar ? cell.tallies[kZbar].decoded : 0,
                                kHaveZxing ? cell.tallies[kZxing].decoded : 0);
      if (cell.tallies[kSecond].decoded >= peer) continue;
      char line[200];
      std::snprintf(line, sizeof line,
                    "- %s, %.1f samples/module, blur %.2g, noise %.0f: second %.0f %%",
                    table.title.c_str(), cell.samplesPerModule, cell.blur, cell.noise,
                    Percent(cell.tallies[kSecond].decoded, trials));
      std::string entry = line;
      for (int d : {kZbar, kZxing})
        if (Present(d)) {
          std::snprintf(line, sizeof line, ", %s %.0f %%", kDecoderNames[d],
                        Percent(cell.tallies[d].decoded, trials));
          entry += line;
        }
      below.push_back(entry);
    }
  std::printf("Cells where mode 2 (second) decodes less than %s: %zu of %d.\n\n",
              kHaveZbar && kHaveZxing ? "the better of ZBar and zxing"
              : kHaveZbar             ? "ZBar"
                                      : "zxing",
              below.size(), cells);
  for (const auto& entry : below) std::printf("%s\n", entry.c_str());
  if (!below.empty()) std::printf("\n");
}

void PrintTimes(const std::vector<Table>& tables, int trials, int jobs) {
  std::printf(
      "### Decode time per waveform, this run\n\n"
      "Microseconds around each call, %d thread%s sharing the machine; the worst cases "
      "include whatever else ran.\n\n"
      "| table | classic mean | classic worst | second mean | second worst | second / "
      "classic, mean | second / classic, worst |\n|---|---|---|---|---|---|---|\n",
      jobs, jobs == 1 ? "" : "s");
  std::array<Tally, kDecoderCount> all{};
  int allWaveforms = 0;
  const auto row = [&](const char* title, const std::array<Tally, kDecoderCount>& t, int n) {
    const double classic = t[kClassic].micros / n, second = t[kSecond].micros / n;
    std::printf("| %s | %.1f | %.0f | %.1f | %.0f | %.2f | %.2f |\n", title, classic,
                t[kClassic].worstMicros, second, t[kSecond].worstMicros, second / classic,
                t[kSecond].worstMicros / t[kClassic].worstMicros);
  };
  for (const Table& table : tables) {
    std::array<Tally, kDecoderCount> sum{};
    for (const Cell& cell : table.cells)
      for (int d = 0; d < kDecoderCount; ++d) sum[d].Add(cell.tallies[d]);
    const int waveforms = static_cast<int>(table.cells.size()) * trials;
    row(table.title.c_str(), sum, waveforms);
    for (int d = 0; d < kDecoderCount; ++d) all[d].Add(sum[d]);
    allWaveforms += waveforms;
  }
  row("all", all, allWaveforms);
  std::printf("\n| decoder, all tables | mean | worst |\n|---|---|---|\n");
  for (int d : PresentDecoders())
    std::printf("| %s | %.1f | %.0f |\n", kDecoderNames[d], all[d].micros / allWaveforms,
                all[d].worstMicros);
  std::printf("\n");
}

[[noreturn]] void Usage(const char* program, int status = 2) {
  std::fprintf(status ? stderr : stdout,
               "usage: %s [TRIALS] [--symbology 39|25|128] [--only-summary] [--jobs N]\n"
               "          [--optics other] [--length N]\n"
               "  TRIALS          waveforms per cell (default 40)\n"
               "  --symbology S   only Code 39 (39), Interleaved 2 of 5 (25) or Code 128 (128)\n"
               "  --only-summary  leave out the per-cell tables\n"
               "  --jobs N        threads sharing out the cells (default 2)\n"
               "  --optics other  the second optical model instead of the simulator's\n"
               "  --length N      characters per barcode, 1 to 123 (default 8)\n",
               program);
  std::exit(status);
}

int PositiveNumber(const char* text, const char* program) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 1000000) Usage(program);
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 40, jobs = 2, only = 0;
  bool onlySummary = false, trialsGiven = false, otherOptics = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Usage(argv[0], 0);
    } else if (arg == "--only-summary") {
      onlySummary = true;
    } else if (arg == "--optics" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (value != "other" && value != "sim") Usage(argv[0]);
      otherOptics = value == "other";
    } else if (arg == "--length" && i + 1 < argc) {
      gLength = PositiveNumber(argv[++i], argv[0]);
      if (gLength > barcode::kMaxBarcodeLength) Usage(argv[0]);
    } else if ((arg == "--symbology" || arg == "--jobs") && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (arg == "--jobs") {
        jobs = PositiveNumber(argv[i], argv[0]);
      } else if (value == "39") {
        only = barcode::kCode39;
      } else if (value == "25") {
        only = barcode::kInterleaved2of5;
      } else if (value == "128") {
        only = barcode::kCode128;
      } else {
        Usage(argv[0]);
      }
    } else if (!trialsGiven && !arg.starts_with("-")) {
      trials = PositiveNumber(argv[i], argv[0]);
      trialsGiven = true;
    } else {
      Usage(argv[0]);
    }
  }

  std::vector<Table> tables;
  const auto add = [&](int symbology, double ratio, const char* title) {
    if (only && only != symbology) return;
    Table table{symbology, ratio, title, {}};
    for (double spm : kSamplesPerModule)
      for (double blur : kBlurs)
        for (double noise : kNoises) table.cells.push_back(Cell{spm, blur, noise, {}, 0});
    tables.push_back(std::move(table));
  };
  add(barcode::kCode39, 2.0, "Code 39, wide:narrow 2.0");
  add(barcode::kCode39, 2.5, "Code 39, wide:narrow 2.5");
  add(barcode::kCode39, 3.0, "Code 39, wide:narrow 3.0");
  add(barcode::kInterleaved2of5, 2.5, "Interleaved 2 of 5, wide:narrow 2.5");
  add(barcode::kCode128, 2.5, "Code 128");  // no wide:narrow ratio

  // The cells are shared out one at a time; each writes only its own results.
  std::vector<std::pair<Table*, Cell*>> work;
  for (Table& table : tables)
    for (Cell& cell : table.cells) work.emplace_back(&table, &cell);
  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= work.size()) return;
      RunCell(work[i].first->symbology, work[i].first->wideRatio, trials, otherOptics,
              *work[i].second);
    }
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back(worker);
  worker();
  for (auto& thread : threads) thread.join();

  std::printf(
      "Decoded %% and misread %% per cell, %d waveforms a cell, %d characters. "
      "Markwire's read in mode 0 (classic), 1 (guarded) and 2 (guarded, second "
      "decoder)",
      trials, gLength);
  if (otherOptics)
    std::printf("; waveforms of the second optical model (two-Gaussian spot, sample "
                "aperture, ink spread 0.1 module, speed wander 3 %%, quiet zones of 8 modules)");
#ifdef MARKWIRE_WITH_ZBAR
  unsigned major = 0, minor = 0, patch = 0;
  zbar_version(&major, &minor, &patch);
  std::printf("; ZBar %u.%u.%u", major, minor, patch);
#else
  std::printf("; no ZBar (not built in)");
#endif
#ifdef MARKWIRE_WITH_ZXING
  std::printf("; zxing-cpp %d.%d.%d", ZXING_VERSION_MAJOR, ZXING_VERSION_MINOR,
              ZXING_VERSION_PATCH);
#else
  std::printf("; no zxing-cpp (not built in)");
#endif
  std::printf(".\n\n");
  if (!onlySummary)
    for (const Table& table : tables) PrintCells(table, trials);
  PrintSummary(tables, trials);
  PrintTimes(tables, trials, jobs);
  return 0;
}
