// Decode time of one barcode waveform of about 1,000 samples, per symbology
// and read mode: a sharp waveform that the classic decoder reads (the guard
// confirms it), and a blurred noisy one that only the second decoder reads.
#include <benchmark/benchmark.h>

#include <string>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

namespace {

using namespace markwire;

void BM_DecodeWaveform(benchmark::State& state) {
  const int symbology = static_cast<int>(state.range(0));
  const auto mode = static_cast<barcode::BarcodeMode>(state.range(1));
  const bool blurred = state.range(2) != 0;
  const std::string text = symbology == barcode::kCode39 ? "MW2026A7" : "20261205";
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text));
  double modules = 0;
  for (double w : widths) modules += w;
  sim::OpticsOptions optics;
  optics.quietModules = 10;
  // Sharp: every symbology decodes classically. Blurred: beyond the classic
  // decoder, so mode 2 runs the whole second decoder.
  optics.noise = blurred ? 4 : 0;
  optics.blurModules = blurred ? 0.8 : 0.3;
  optics.samplesPerModule = 1000.0 / (modules + 2 * optics.quietModules);
  const auto bytes = sim::RenderWaveform(widths, optics);
  const barcode::BarcodeLine line{symbology, 2, 1, 0, 8};
  barcode::SymbolTables tables;
  barcode::IgnoredReadEvents events;
  std::string decoded;
  for (auto _ : state) {
    auto result =
        barcode::DecodeSamples(barcode::SamplesInReadingOrder(bytes, line), line, tables, events, mode);
    decoded = result.text;
    benchmark::DoNotOptimize(result);
  }
  state.counters["samples"] = static_cast<double>(bytes.size());
  state.SetLabel(decoded == text ? "decoded " + decoded : "NOT decoded: " + decoded);
}
BENCHMARK(BM_DecodeWaveform)
    ->ArgNames({"symbology", "mode", "blurred"})
    ->ArgsProduct({{barcode::kCode39, barcode::kInterleaved2of5, barcode::kCode128}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
