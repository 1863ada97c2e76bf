// Decode time of one barcode waveform per case and read mode, and each mode's
// time as a multiple of the classic read (mode 0) of the very same waveform,
// measured in the same run: the ratios hold on a loaded machine where the
// absolute times do not.
//
// Cases: waveforms of about 1,000 samples, sharp (the classic decoder reads
// them and the guard confirms) and blurred (only the second decoder reads
// them); long symbols (Code 39 of 40 characters, Interleaved 2 of 5 and
// Code 128 of 122 digits); and 9,999 samples of noise, a flat line and a
// square wave between 300 samples of paper at either end, under the longest
// barcode line a format can give.
//
//   bench_barcode [google benchmark flags]
//   bench_barcode --once CASE MODE   one decode and nothing else (for
//                                    valgrind --tool=callgrind); CASE is the
//                                    case's name as listed by --list
//   bench_barcode --list
//   bench_barcode --work             per case, the work the second decoder
//                                    spends on it, in its budget's units
//   bench_barcode --hostile N SEED   N random hostile waveforms (noise, square
//                                    and sine waves, random bars, symbol-like
//                                    patterns, paper at the ends; up to 9,999
//                                    samples, any symbology and length) read
//                                    in mode 2;
//                                    prints the five slowest (CPU time)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "barcode/pipeline/decode_samples.h"
#include "barcode/synthesis/synthesis.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

namespace {

using namespace markwire;

enum class Shape { kSymbol, kNoise, kFlat, kSquare };

struct Case {
  std::string name;
  int symbology;
  int length;        // the format's barcode length
  std::string text;  // the symbol's text (kSymbol)
  Shape shape = Shape::kSymbol;
  double samples = 1000;  // about this many samples in all
  double blur = 0.3;
  double noise = 0;
};

std::string Digits(int n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string text;
  for (int i = 0; i < n; ++i) text += static_cast<char>('0' + rng() % 10);
  return text;
}

std::string Code39Text(int n, std::uint64_t seed) {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ. $/+%";  // "-" reads "_"
  std::mt19937_64 rng(seed);
  std::string text;
  for (int i = 0; i < n; ++i) text += kChars[rng() % (sizeof kChars - 1)];
  return text;
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = [] {
    std::vector<Case> c;
    const struct {
      const char* tag;
      int symbology;
      std::string text;
    } shortOnes[] = {{"39", barcode::kCode39, "MW2026A7"},
                     {"25", barcode::kInterleaved2of5, "20261205"},
                     {"128", barcode::kCode128, "20261205"}};
    for (const auto& s : shortOnes) {
      c.push_back({std::string("sharp_") + s.tag + "_8_1k", s.symbology, 8, s.text, Shape::kSymbol,
                   1000, 0.3, 0});
      c.push_back({std::string("blurred_") + s.tag + "_8_1k", s.symbology, 8, s.text,
                   Shape::kSymbol, 1000, 0.8, 4});
    }
    c.push_back({"sharp_39_40_3.75k", barcode::kCode39, 40, Code39Text(40, 40), Shape::kSymbol,
                 3754, 0.3, 2});
    c.push_back({"blurred_39_40_3.75k", barcode::kCode39, 40, Code39Text(40, 40), Shape::kSymbol,
                 3754, 0.8, 4});
    c.push_back({"sharp_25_122_3k", barcode::kInterleaved2of5, 122, Digits(122, 25), Shape::kSymbol,
                 3000, 0.3, 2});
    c.push_back({"blurred_25_122_3k", barcode::kInterleaved2of5, 122, Digits(122, 25),
                 Shape::kSymbol, 3000, 0.8, 4});
    c.push_back({"sharp_128_122_2.2k", barcode::kCode128, 122, Digits(122, 128), Shape::kSymbol,
                 2200, 0.3, 2});
    c.push_back({"blurred_128_122_2.2k", barcode::kCode128, 122, Digits(122, 128), Shape::kSymbol,
                 2200, 0.8, 4});
    for (const int symbology : {barcode::kCode39, barcode::kInterleaved2of5, barcode::kCode128}) {
      const std::string tag = symbology == barcode::kCode39            ? "39"
                              : symbology == barcode::kInterleaved2of5 ? "25"
                                                                       : "128";
      c.push_back({"noise_" + tag + "_123_10k", symbology, 123, "", Shape::kNoise, 9999});
    }
    c.push_back({"noise_25_122_10k", barcode::kInterleaved2of5, 122, "", Shape::kNoise, 9999});
    c.push_back({"flat_39_123_10k", barcode::kCode39, 123, "", Shape::kFlat, 9999});
    c.push_back({"square_39_123_10k", barcode::kCode39, 123, "", Shape::kSquare, 9999});
    c.push_back({"square_128_123_10k", barcode::kCode128, 123, "", Shape::kSquare, 9999});
    return c;
  }();
  return cases;
}

// The outer 300 samples of a waveform that is no symbol are paper: a read
// looks for a symbol only where its ends and quiet zones are in the samples.
constexpr std::size_t kPaperMargin = 300;

std::vector<std::uint8_t> Waveform(const Case& c) {
  if (c.shape != Shape::kSymbol) {
    std::vector<std::uint8_t> w(static_cast<std::size_t>(c.samples));
    std::mt19937_64 rng(9999);
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (i < kPaperMargin || i + kPaperMargin >= w.size()) {
        w[i] = 215;
        continue;
      }
      switch (c.shape) {
        case Shape::kNoise:
          w[i] = static_cast<std::uint8_t>(rng() % 256);
          break;
        case Shape::kFlat:
          w[i] = 200;
          break;
        default:
          w[i] = static_cast<std::uint8_t>((i / 7) % 2 ? 210 : 40);
          break;
      }
    }
    return w;
  }
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(c.symbology), c.text));
  double modules = 0;
  for (double w : widths) modules += w;
  sim::OpticsOptions optics;
  optics.quietModules = 10;
  optics.noise = c.noise;
  optics.blurModules = c.blur;
  optics.samplesPerModule = c.samples / (modules + 2 * optics.quietModules);
  return sim::RenderWaveform(widths, optics);
}

std::string Decode(const std::vector<std::uint8_t>& bytes, const Case& c, int mode) {
  const barcode::BarcodeLine line{c.symbology, 2, 1, 0, c.length};
  barcode::SymbolTables tables;
  barcode::IgnoredReadEvents events;
  return barcode::DecodeSamples(barcode::SamplesInReadingOrder(bytes, line), line, tables, events,
                                static_cast<barcode::BarcodeMode>(mode))
      .text;
}

void BM_Decode(benchmark::State& state) {
  const Case& c = Cases()[static_cast<std::size_t>(state.range(0))];
  const int mode = static_cast<int>(state.range(1));
  const auto bytes = Waveform(c);
  std::string decoded;
  for (auto _ : state) {
    decoded = Decode(bytes, c, mode);
    benchmark::DoNotOptimize(decoded);
  }
  state.counters["samples"] = static_cast<double>(bytes.size());
  state.SetLabel(c.name +
                 (c.shape != Shape::kSymbol
                      ? (decoded.find_first_not_of('.') == std::string::npos ? ": refused"
                                                                             : ": TEXT " + decoded)
                  : decoded == c.text                                   ? ": decoded"
                  : decoded.find_first_not_of('.') == std::string::npos ? ": not decoded"
                                                                        : ": MISREAD " + decoded));
}

void Register() {
  for (std::size_t i = 0; i < Cases().size(); ++i)
    for (int mode = 0; mode < 3; ++mode)
      benchmark::RegisterBenchmark(
          ("Decode/" + Cases()[i].name + "/mode:" + std::to_string(mode)).c_str(), BM_Decode)
          ->Args({static_cast<long>(i), mode})
          ->Unit(benchmark::kMillisecond);
}

// The console report, then per case each mode's time against mode 0 of the
// same waveform in this run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const auto slash = name.rfind("/mode:");
      if (slash == std::string::npos) continue;
      const std::string key = name.substr(0, slash);
      const int mode = std::atoi(name.c_str() + slash + 6);
      times_[key][mode] = run.GetAdjustedCPUTime();  // in the run's unit (ms)
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-34s %10s %10s %10s %9s %9s %8s\n", "case (cpu time)", "mode 0 ms", "mode 1 ms",
                "mode 2 ms", "1 / 0", "2 / 0", "2 ms/ks");
    for (const Case& c : Cases()) {
      const auto it = times_.find("Decode/" + c.name);
      if (it == times_.end()) continue;
      const auto& t = it->second;
      const auto at = [&](int m) { return t.count(m) ? t.at(m) : 0.0; };
      const double base = at(0);
      std::printf("%-34s %10.3f %10.3f %10.3f %9.1f %9.1f %8.2f\n", c.name.c_str(), base, at(1),
                  at(2), base > 0 ? at(1) / base : 0.0, base > 0 ? at(2) / base : 0.0,
                  at(2) / (c.samples / 1000));
    }
  }

 private:
  std::map<std::string, std::map<int, double>> times_;
};

double CpuMs() {
  return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Waveforms that look like anything but a barcode of the format's length.
void Hostile(int count, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  struct Slow {
    double ms;
    std::string what;
  };
  std::vector<Slow> slow;
  const int lengths[] = {1, 2, 8, 20, 40, 61, 122, 123};
  for (int t = 0; t < count; ++t) {
    const int shape = static_cast<int>(rng() % 6);
    const std::size_t size = rng() % 3 == 0 ? 1000 + rng() % 9000 : 9999;
    const int period = 2 + static_cast<int>(rng() % 30);
    const double frequency = 0.001 + static_cast<double>(rng() % 1000) / 1000.0 * 0.3;
    std::vector<std::uint8_t> w(size);
    int left = 0;
    bool dark = false;
    for (std::size_t i = 0; i < size; ++i) {
      if (left-- <= 0) {
        left = static_cast<int>(rng() % static_cast<std::uint64_t>(period));
        dark = !dark;
      }
      const bool inside = i > size / 10 && i < 9 * size / 10;
      if (i < size / 30 || i + size / 30 >= size) {
        w[i] = 215;  // paper at the ends, as around a symbol
        continue;
      }
      switch (shape) {
        case 0:
          w[i] = static_cast<std::uint8_t>(rng() % 256);
          break;
        case 1:
          w[i] = (i / static_cast<std::size_t>(period)) % 2 ? 210 : 40;
          break;
        case 2:
          w[i] =
              static_cast<std::uint8_t>(128 + 100 * std::sin(static_cast<double>(i) * frequency));
          break;
        case 3:
          w[i] = static_cast<std::uint8_t>(dark ? 40 + rng() % 10 : 210 - rng() % 10);
          break;
        case 4:
          w[i] = inside && dark ? 40 : 210;
          break;
        default:
          w[i] = inside && (i / static_cast<std::size_t>(period)) % 2 ? 60 : 200;
          break;
      }
    }
    const int symbology = 1 + static_cast<int>(rng() % 3);
    const Case c{"", symbology, lengths[rng() % 8], "", Shape::kNoise, static_cast<double>(size)};
    const double start = CpuMs();
    const std::string text = Decode(w, c, 2);
    const double ms = CpuMs() - start;
    char line[160];
    std::snprintf(line, sizeof line, "#%d shape %d, %zu samples, symbology %d, length %d: %s", t,
                  shape, size, symbology, c.length,
                  text.find_first_not_of('.') == std::string::npos ? "refused" : text.c_str());
    slow.push_back({ms, line});
  }
  std::sort(slow.begin(), slow.end(), [](const Slow& a, const Slow& b) { return a.ms > b.ms; });
  for (std::size_t i = 0; i < 5 && i < slow.size(); ++i)
    std::printf("%6.1f ms  %s\n", slow[i].ms, slow[i].what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--hostile") {
    Hostile(std::atoi(argv[2]), static_cast<std::uint64_t>(std::atoll(argv[3])));
    return 0;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--list") {
    for (const Case& c : Cases()) std::printf("%s\n", c.name.c_str());
    return 0;
  }
  if (argc >= 2 && std::string_view(argv[1]) == "--work") {
    for (const Case& c : Cases()) {
      const barcode::BarcodeLine line{c.symbology, 2, 1, 0, c.length};
      const auto samples = barcode::SamplesInReadingOrder(Waveform(c), line);
      const barcode::synthesis::SymbolReader reader(samples, c.symbology,
                                                    barcode::ExpectedCount(line));
      const auto verdict = reader.Decode();
      std::printf("%-24s %9ld %s\n", c.name.c_str(), reader.WorkSpent(),
                  verdict.accepted ? "accepted"
                  : verdict.gaveUp ? "gave up"
                                   : "refused");
    }
    return 0;
  }
  if (argc == 4 && std::string_view(argv[1]) == "--once") {
    for (const Case& c : Cases())
      if (c.name == argv[2]) {
        const auto text = Decode(Waveform(c), c, std::atoi(argv[3]));
        std::printf("%s\n", text.c_str());
        return 0;
      }
    std::fprintf(stderr, "no case %s (see --list)\n", argv[2]);
    return 2;
  }
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
