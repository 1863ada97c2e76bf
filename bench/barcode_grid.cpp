// How often the barcode read decodes, and how often it hands back a wrong
// text, for each symbology and each of the read's modes (classic, guarded,
// guarded with the second decoder); beside them ZBar's 1-D scanner and
// zxing-cpp, fed the very same samples, when they are installed. Prints
// Markdown: a table per symbology (Code 39 at the wide:narrow ratios 2.0, 2.5
// and 3.0), a summary, and the decode times of the run.
//
// With the simulator's optics (the default) or the second optical model
// (--optics other) the tables cover a grid of samples per module x blur x
// noise. With the card model (--optics card, card_optics.h) they have a row
// per physical effect and samples per module (2, 3 and 4.5), each effect
// alone on top of a mild baseline, for Code 39 at 2.0 and 2.5, Interleaved
// 2 of 5 and Code 128; the summary gives each effect over all tables, and
// lists every row where mode 2 decodes less than mode 0 or than the better
// peer, and every wrong text of modes 1 and 2.
//
//   barcode_grid [TRIALS] [--symbology 39|25|128] [--only-summary] [--jobs N]
//                [--optics sim|other|card] [--length N] [--dump DIR]
//
//   TRIALS           waveforms per cell (per row with --optics card), default 40
//   --symbology S    only Code 39 (39), Interleaved 2 of 5 (25) or Code 128 (128)
//   --only-summary   the summary and the times, without the per-cell tables
//   --jobs N         threads sharing out the cells, default 2
//   --optics M       sim: the simulator's optical model (the default);
//                    other: the second optical model (other_optics.h);
//                    card: the card model, a row per effect (card_optics.h)
//   --length N       characters per barcode, 1 to 123 (default 8; Interleaved
//                    2 of 5 and Code 128 take the even number at or below it)
//   --dump DIR       write every waveform that mode 2 misreads, or that mode
//                    0 decodes and mode 2 does not, into DIR as samples one
//                    per line, for `markwire barcode decode`; the file name
//                    carries the symbology, the length and the text
//
// A waveform counts as decoded when the read hands back the barcode's text,
// as misread when it hands back anything else but the full stops of a failed
// read; for ZBar and zxing, when they report a text that is not the barcode's.
//
// Every cell draws its texts and optics from a seed of its own, made from the
// symbology and the cell's samples per module, blur and noise (with the card
// model: the effect's name and the samples per module): the same arguments
// print the same rates whatever --jobs is (only the times change), and the
// Code 39 tables decode the same texts under the same optics.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "card_optics.h"
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
// The card model's rows: each effect at these samples per module.
constexpr double kCardSamplesPerModule[] = {2, 3, 4.5};

enum class Optics { kSim, kOther, kCard };
constexpr const char* kOpticsNames[] = {"sim", "other", "card"};

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

// One effect of the card model, on top of its baseline.
struct CardEffect {
  std::string name;  // as the tables print it
  std::string slug;  // in the seeds and the dumped files' names
  bench::CardOptics optics;
};

// The rows of --optics card. The baseline is CardOptics' defaults: spot sigma
// 0.35 module, noise 2, paper 210, ink 40, quiet zones of 10 modules, steady
// speed, a linear sensor.
const std::vector<CardEffect>& CardEffects() {
  static const std::vector<CardEffect> effects = [] {
    std::vector<CardEffect> list;
    const auto add = [&](std::string name, std::string slug, auto change) {
      bench::CardOptics optics;
      change(optics);
      list.push_back(CardEffect{std::move(name), std::move(slug), optics});
    };
    add("baseline", "baseline", [](bench::CardOptics&) {});
    for (int x : {3, 6, 10, 15})
      add("speed ramp \u00b1" + std::to_string(x) + " %", "ramp" + std::to_string(x),
          [x](bench::CardOptics& o) { o.speedRamp = x / 100.0; });
    for (int x : {5, 10})
      add("speed wander \u00b1" + std::to_string(x) + " %", "wander" + std::to_string(x),
          [x](bench::CardOptics& o) { o.speedWander = x / 100.0; });
    for (int x : {10, 20, 35})
      add("light falling " + std::to_string(x) + " %", "fall" + std::to_string(x),
          [x](bench::CardOptics& o) { o.levelFall = x / 100.0; });
    add("gamma 0.5", "gamma0.5", [](bench::CardOptics& o) { o.gamma = 0.5; });
    add("gamma 2", "gamma2", [](bench::CardOptics& o) { o.gamma = 2; });
    add("paper texture", "texture", [](bench::CardOptics& o) { o.textureSigma = 8; });
    add("growth +0.25", "growth+0.25", [](bench::CardOptics& o) { o.growth = 0.25; });
    add("growth -0.25", "growth-0.25", [](bench::CardOptics& o) { o.growth = -0.25; });
    add("halo", "halo", [](bench::CardOptics& o) {
      o.haloFraction = 0.5;
      o.haloLength = 1;
    });
    add("aperture 1 module", "aperture", [](bench::CardOptics& o) { o.apertureModules = 1; });
    add("voids and specks", "defects", [](bench::CardOptics& o) {
      o.voids = 2;
      o.specks = 2;
    });
    add("clipping", "clipping", [](bench::CardOptics& o) { o.gain = 1.4; });
    add("mixture", "mixture", [](bench::CardOptics& o) {
      o.growth = 0.15;
      o.haloFraction = 0.3;
      o.haloLength = 1;
      o.speedRamp = 0.08;
      o.textureSigma = 5;
      o.levelFall = 0.15;
      o.eitherDefects = 1;
    });
    return list;
  }();
  return effects;
}

struct Cell {
  double samplesPerModule = 0;
  double blur = 0;
  double noise = 0;
  int effect = -1;  // the card model's effect (CardEffects()), or -1 on the grid
  std::array<Tally, kDecoderCount> tallies{};
  // Every waveform's decode time per decoder, microseconds.
  std::array<std::vector<double>, kDecoderCount> micros{};
  // Waveforms on which ZBar reported the text and also some other text.
  int zbarAlsoWrong = 0;
  // The wrong texts of modes 1 and 2, a line each.
  std::vector<std::string> misreads;
  int dumped = 0;
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

// The wide:narrow ratio is left out on purpose: see the header comment. A
// card model's row is known by its effect's name and its samples per module.
std::uint64_t CellSeed(int symbology, const Cell& cell) {
  std::uint64_t seed = static_cast<std::uint64_t>(symbology);
  if (cell.effect >= 0) {
    std::uint64_t name = 0xcbf29ce484222325ULL;  // FNV-1a
    for (char c : CardEffects()[static_cast<std::size_t>(cell.effect)].slug)
      name = (name ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    seed = SplitMix(SplitMix(seed ^ 0xca4d) ^ name);
    return SplitMix(seed ^ static_cast<std::uint64_t>(std::llround(cell.samplesPerModule * 1000)));
  }
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

Outcome Count(Cell& cell, int decoder, Outcome outcome,
              std::chrono::steady_clock::time_point start) {
  const double micros =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  Tally& tally = cell.tallies[decoder];
  tally.micros += micros;
  tally.worstMicros = std::max(tally.worstMicros, micros);
  tally.decoded += outcome == Outcome::kDecoded;
  tally.misread += outcome == Outcome::kMisread;
  cell.micros[decoder].push_back(micros);
  return outcome;
}

// The names `markwire barcode decode --symbology` takes.
const char* CliSymbology(int symbology) {
  return symbology == barcode::kCode39            ? "code39"
         : symbology == barcode::kInterleaved2of5 ? "i2of5"
                                                  : "code128";
}

// Where a cell is, for the lists at the end of the summary.
std::string CellName(const Table& table, const Cell& cell) {
  char text[160];
  if (cell.effect >= 0)
    std::snprintf(text, sizeof text, "%s, %s, %g samples/module", table.title.c_str(),
                  CardEffects()[static_cast<std::size_t>(cell.effect)].name.c_str(),
                  cell.samplesPerModule);
  else
    std::snprintf(text, sizeof text, "%s, %.1f samples/module, blur %.2g, noise %.0f",
                  table.title.c_str(), cell.samplesPerModule, cell.blur, cell.noise);
  return text;
}

// The samples one per line, as `markwire barcode decode` reads them, named
// e.g. code39-w2.0_len8_Q7ZK2M0A_card-ramp15-spm2_t3_mode2-misread.txt.
void Dump(const std::filesystem::path& dir, const Table& table, const Cell& cell, Optics optics,
          int length, const std::string& text, int trial, const char* why,
          const std::vector<std::uint8_t>& bytes) {
  char where[160];
  if (cell.effect >= 0)
    std::snprintf(where, sizeof where, "%s-spm%g",
                  CardEffects()[static_cast<std::size_t>(cell.effect)].slug.c_str(),
                  cell.samplesPerModule);
  else
    std::snprintf(where, sizeof where, "spm%g-blur%g-noise%g", cell.samplesPerModule, cell.blur,
                  cell.noise);
  char name[400];
  std::snprintf(name, sizeof name, "%s%s_len%d_%s_%s-%s_t%d_%s.txt", CliSymbology(table.symbology),
                table.symbology == barcode::kCode128 ? ""
                                                     : (table.wideRatio == 2.0   ? "-w2.0"
                                                        : table.wideRatio == 2.5 ? "-w2.5"
                                                                                 : "-w3.0"),
                length, text.c_str(), kOpticsNames[static_cast<int>(optics)], where, trial, why);
  std::ofstream out(dir / name);
  for (std::uint8_t v : bytes) out << static_cast<int>(v) << '\n';
  if (!out) std::fprintf(stderr, "%s: cannot be written\n", (dir / name).c_str());
}

void RunCell(const Table& table, int trials, Optics optics, const std::string& dumpDir,
             Cell& cell) {
  const int symbology = table.symbology;
  std::mt19937_64 rng(CellSeed(symbology, cell));
  sim::EncodeOptions encode;
  encode.wideRatio = table.wideRatio;
  // Interleaved 2 of 5 and Code 128 carry digit pairs.
  const int length = symbology == barcode::kCode39 ? gLength : std::max(2, gLength / 2 * 2);
  const barcode::BarcodeLine line{symbology, 2, 1, 0, length};
  const std::string failed(static_cast<std::size_t>(length), '.');
  barcode::IgnoredReadEvents events;
  for (int t = 0; t < trials; ++t) {
    const std::string text = RandomText(rng, symbology, length);
    const auto widths = std::get<std::vector<double>>(
        sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text, encode));
    // Both grid models take the cell's optics the same way.
    const auto render = [&](auto model, auto renderer) {
      model.samplesPerModule = cell.samplesPerModule;
      model.blurModules = cell.blur;
      model.noise = cell.noise;
      model.seed = rng();
      return renderer(widths, model);
    };
    std::vector<std::uint8_t> bytes;
    if (optics == Optics::kCard) {
      bench::CardOptics card = CardEffects()[static_cast<std::size_t>(cell.effect)].optics;
      card.samplesPerModule = cell.samplesPerModule;
      card.seed = rng();
      bytes = bench::RenderCard(widths, card);
    } else if (optics == Optics::kOther) {
      bytes = render(bench::OtherOptics{}, bench::RenderOther);
    } else {
      bytes = render(sim::OpticsOptions{}, sim::RenderWaveform);
    }
    // The read's modes 0, 1 and 2, each as a fresh session would run it; the
    // clock runs around the call alone. The order turns from waveform to
    // waveform, so that no mode always finds the caches warmed by another.
    std::array<Outcome, 3> outcomes{};
    for (int k = 0; k < 3; ++k) {
      const int mode = (t + k) % 3;
      barcode::SymbolTables tables;
      auto samples = barcode::SamplesInReadingOrder(bytes, line);
      const auto start = std::chrono::steady_clock::now();
      const auto result = barcode::DecodeSamples(std::move(samples), line, tables, events,
                                                 static_cast<barcode::BarcodeMode>(mode));
      outcomes[static_cast<std::size_t>(mode)] = Count(cell, mode,
                                                       result.text == text     ? Outcome::kDecoded
                                                       : result.text == failed ? Outcome::kNothing
                                                                               : Outcome::kMisread,
                                                       start);
      if (mode != 0 && outcomes[static_cast<std::size_t>(mode)] == Outcome::kMisread)
        cell.misreads.push_back("waveform " + std::to_string(t) + ": mode " + std::to_string(mode) +
                                " read \"" + result.text + "\" for \"" + text + "\"");
    }
    if (!dumpDir.empty()) {
      const char* why = outcomes[2] == Outcome::kMisread ? "mode2-misread"
                        : outcomes[0] == Outcome::kDecoded && outcomes[2] != Outcome::kDecoded
                            ? "mode0-only"
                            : nullptr;
      if (why) {
        Dump(dumpDir, table, cell, optics, length, text, t, why, bytes);
        ++cell.dumped;
      }
    }
    // The peers' clocks include their setup (and zxing's image).
#ifdef MARKWIRE_WITH_ZBAR
    {
      bool alsoWrong = false;
      const auto start = std::chrono::steady_clock::now();
      Count(cell, kZbar, ZbarReads(bytes, symbology, text, alsoWrong), start);
      cell.zbarAlsoWrong += alsoWrong;
    }
#endif
#ifdef MARKWIRE_WITH_ZXING
    {
      const auto start = std::chrono::steady_clock::now();
      Count(cell, kZxing, ZxingReads(bytes, symbology, text), start);
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
  const bool card = !table.cells.empty() && table.cells.front().effect >= 0;
  std::printf("### %s\n\n|%s", table.title.c_str(),
              card ? " effect | samples/module |" : " samples/module | blur | noise |");
  for (int d : decoders) std::printf(" %s | misread |", kDecoderNames[d]);
  std::printf("\n|%s", card ? "---|---|" : "---|---|---|");
  for (std::size_t i = 0; i < decoders.size(); ++i) std::printf("---|---|");
  std::printf("\n");
  for (const Cell& cell : table.cells) {
    if (card)
      std::printf("| %s | %g |", CardEffects()[static_cast<std::size_t>(cell.effect)].name.c_str(),
                  cell.samplesPerModule);
    else
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

// Per effect of the card model, over all tables and samples per module.
void PrintEffects(const std::vector<Table>& tables, int trials) {
  const auto decoders = PresentDecoders();
  std::printf(
      "Per effect, decoded %% and misread %% over all tables and samples/module:\n\n"
      "| effect |");
  for (int d : decoders) std::printf(" %s | misread |", kDecoderNames[d]);
  std::printf("\n|---|");
  for (std::size_t i = 0; i < decoders.size(); ++i) std::printf("---|---|");
  std::printf("\n");
  for (std::size_t e = 0; e < CardEffects().size(); ++e) {
    std::array<Tally, kDecoderCount> sum{};
    int waveforms = 0;
    for (const Table& table : tables)
      for (const Cell& cell : table.cells) {
        if (cell.effect != static_cast<int>(e)) continue;
        for (int d = 0; d < kDecoderCount; ++d) sum[d].Add(cell.tallies[d]);
        waveforms += trials;
      }
    std::printf("| %s |", CardEffects()[e].name.c_str());
    for (int d : decoders)
      std::printf(" %.1f | %.1f |", Percent(sum[d].decoded, waveforms),
                  Percent(sum[d].misread, waveforms));
    std::printf("\n");
  }
  std::printf("\n");
}

const char* BetterPeerName() {
  return kHaveZbar && kHaveZxing ? "the better of ZBar and zxing" : kHaveZbar ? "ZBar" : "zxing";
}

// A cell where mode 2 decodes less than the better peer; on the card
// model's rows, also where it decodes less than mode 0.
bool SecondFallsShort(const Cell& cell) {
  const int peer = std::max(kHaveZbar ? cell.tallies[kZbar].decoded : 0,
                            kHaveZxing ? cell.tallies[kZxing].decoded : 0);
  const int second = cell.tallies[kSecond].decoded;
  return second < peer || (cell.effect >= 0 && second < cell.tallies[kClassic].decoded);
}

void PrintSummary(const std::vector<Table>& tables, int trials, bool card) {
  std::printf("### Summary\n\n");
  if (card) {
    PrintRates(tables, trials,
               "Decoded % and misread % per table, over all effects and samples/module:",
               [](const Cell&) { return true; });
    PrintEffects(tables, trials);
  } else {
    PrintRates(tables, trials,
               "Decoded % and misread % over all cells:", [](const Cell&) { return true; });
    PrintRates(
        tables, trials,
        "Over the cells with at least 2 samples/module, blur at most 0.5 and noise at most 4:",
        GoodCell);
  }

  int zbarAlsoWrong = 0;
  for (const Table& table : tables)
    for (const Cell& cell : table.cells) zbarAlsoWrong += cell.zbarAlsoWrong;
  if (zbarAlsoWrong)
    std::printf(
        "ZBar reported a wrong text besides the right one on %d waveforms (counted as "
        "decoded).\n\n",
        zbarAlsoWrong);

  std::vector<std::string> below;
  int cells = 0;
  for (const Table& table : tables)
    for (const Cell& cell : table.cells) {
      ++cells;
      if (!SecondFallsShort(cell)) continue;
      std::string entry = "- " + CellName(table, cell) + ": second ";
      char number[80];
      std::snprintf(number, sizeof number, "%.0f %%",
                    Percent(cell.tallies[kSecond].decoded, trials));
      entry += number;
      for (int d : {kClassic, kZbar, kZxing})
        if (Present(d) && (card || d != kClassic)) {
          std::snprintf(number, sizeof number, ", %s %.0f %%", kDecoderNames[d],
                        Percent(cell.tallies[d].decoded, trials));
          entry += number;
        }
      below.push_back(entry);
    }
  if (!kHaveZbar && !kHaveZxing && !card) {
    std::printf("Neither ZBar nor zxing-cpp was built in: no comparison with mode 2.\n\n");
  } else {
    const std::string against = !kHaveZbar && !kHaveZxing ? "mode 0 (classic)"
                                : card ? std::string("mode 0 (classic) or than ") + BetterPeerName()
                                       : BetterPeerName();
    std::printf("%s where mode 2 (second) decodes less than %s: %zu of %d.\n\n",
                card ? "Rows" : "Cells", against.c_str(), below.size(), cells);
    for (const auto& entry : below) std::printf("%s\n", entry.c_str());
    if (!below.empty()) std::printf("\n");
  }

  std::vector<std::string> misreads;
  for (const Table& table : tables)
    for (const Cell& cell : table.cells)
      for (const auto& line : cell.misreads)
        misreads.push_back("- " + CellName(table, cell) + ", " + line);
  std::printf("Wrong texts handed back by modes 1 and 2: %zu.\n\n", misreads.size());
  for (const auto& entry : misreads) std::printf("%s\n", entry.c_str());
  if (!misreads.empty()) std::printf("\n");
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
  // The spread of each decoder's times over every waveform of the run: the
  // median, the 99th percentile (nearest rank) and the slowest.
  std::printf(
      "\n| decoder, all tables | mean | median | 99th percentile | worst |\n"
      "|---|---|---|---|---|\n");
  for (int d : PresentDecoders()) {
    std::vector<double> times;
    for (const Table& table : tables)
      for (const Cell& cell : table.cells)
        times.insert(times.end(), cell.micros[d].begin(), cell.micros[d].end());
    if (times.empty()) continue;
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    const double p99 = times[std::clamp<std::size_t>(rank, 1, n) - 1];
    std::printf("| %s | %.1f | %.1f | %.0f | %.0f |\n", kDecoderNames[d],
                all[d].micros / allWaveforms, median, p99, times.back());
  }
  std::printf("\n");
}

[[noreturn]] void Usage(const char* program, int status = 2) {
  std::fprintf(status ? stderr : stdout,
               "usage: %s [TRIALS] [--symbology 39|25|128] [--only-summary] [--jobs N]\n"
               "          [--optics sim|other|card] [--length N] [--dump DIR]\n"
               "  TRIALS          waveforms per cell, or per row with --optics card (default 40)\n"
               "  --symbology S   only Code 39 (39), Interleaved 2 of 5 (25) or Code 128 (128)\n"
               "  --only-summary  leave out the per-cell tables\n"
               "  --jobs N        threads sharing out the cells (default 2)\n"
               "  --optics M      sim: the simulator's optical model (default); other: the\n"
               "                  second optical model; card: the card model, a row per\n"
               "                  effect (speed ramps and wander, light falling, gamma,\n"
               "                  texture, print growth, halo, aperture, defects, clipping)\n"
               "                  at 2, 3 and 4.5 samples/module\n"
               "  --length N      characters per barcode, 1 to 123 (default 8)\n"
               "  --dump DIR      write the waveforms mode 2 misreads, or that mode 0 decodes\n"
               "                  and mode 2 does not, into DIR as samples one per line\n"
               "                  (for markwire barcode decode; the name gives symbology,\n"
               "                  length and text)\n",
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
  bool onlySummary = false, trialsGiven = false;
  Optics optics = Optics::kSim;
  std::string dumpDir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Usage(argv[0], 0);
    } else if (arg == "--only-summary") {
      onlySummary = true;
    } else if (arg == "--optics" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (value == "sim")
        optics = Optics::kSim;
      else if (value == "other")
        optics = Optics::kOther;
      else if (value == "card")
        optics = Optics::kCard;
      else
        Usage(argv[0]);
    } else if (arg == "--dump" && i + 1 < argc) {
      dumpDir = argv[++i];
      std::error_code error;
      std::filesystem::create_directories(dumpDir, error);
      if (error || !std::filesystem::is_directory(dumpDir)) {
        std::fprintf(stderr, "%s: cannot make the directory\n", dumpDir.c_str());
        return 2;
      }
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
    if (optics == Optics::kCard) {
      // A row per effect and samples per module.
      for (std::size_t e = 0; e < CardEffects().size(); ++e)
        for (double spm : kCardSamplesPerModule) {
          Cell cell;
          cell.samplesPerModule = spm;
          cell.effect = static_cast<int>(e);
          table.cells.push_back(std::move(cell));
        }
    } else {
      for (double spm : kSamplesPerModule)
        for (double blur : kBlurs)
          for (double noise : kNoises) {
            Cell cell;
            cell.samplesPerModule = spm;
            cell.blur = blur;
            cell.noise = noise;
            table.cells.push_back(std::move(cell));
          }
    }
    tables.push_back(std::move(table));
  };
  add(barcode::kCode39, 2.0, "Code 39, wide:narrow 2.0");
  add(barcode::kCode39, 2.5, "Code 39, wide:narrow 2.5");
  if (optics != Optics::kCard) add(barcode::kCode39, 3.0, "Code 39, wide:narrow 3.0");
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
      RunCell(*work[i].first, trials, optics, dumpDir, *work[i].second);
    }
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back(worker);
  worker();
  for (auto& thread : threads) thread.join();

  const char* unit = optics == Optics::kCard ? "row" : "cell";
  std::printf(
      "Decoded %% and misread %% per %s, %d waveforms a %s, %d characters. "
      "Markwire's read in mode 0 (classic), 1 (guarded) and 2 (guarded, second "
      "decoder)",
      unit, trials, unit, gLength);
  if (optics == Optics::kOther)
    std::printf(
        "; waveforms of the second optical model (two-Gaussian spot, sample "
        "aperture, ink spread 0.1 module, speed wander 3 %%, quiet zones of 8 modules)");
  if (optics == Optics::kCard)
    std::printf(
        "; waveforms of the card model, one effect a row on top of its baseline (spot "
        "sigma 0.35 module, noise 2, paper 210, ink 40, quiet zones of 10 modules, "
        "steady speed)");
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
  PrintSummary(tables, trials, optics == Optics::kCard);
  PrintTimes(tables, trials, jobs);
  if (!dumpDir.empty()) {
    int dumped = 0;
    for (const Table& table : tables)
      for (const Cell& cell : table.cells) dumped += cell.dumped;
    std::printf(
        "%d waveform%s written to %s (mode 2 misread, or mode 0 decoded and mode 2 did not).\n",
        dumped, dumped == 1 ? "" : "s", dumpDir.c_str());
  }
  return 0;
}
