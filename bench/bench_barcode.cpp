// Decode time of one barcode waveform of about 1,000 samples, per symbology.
#include <benchmark/benchmark.h>

#include <string>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

namespace {

using namespace markwire;

void BM_DecodeWaveform(benchmark::State& state) {
  const int symbology = static_cast<int>(state.range(0));
  const std::string text = symbology == barcode::kCode39 ? "MW2026A7" : "20261205";
  const auto widths = std::get<std::vector<double>>(
      sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text));
  double modules = 0;
  for (double w : widths) modules += w;
  sim::OpticsOptions optics;
  optics.quietModules = 10;
  optics.noise = 0;  // every symbology decodes: the time of a read that succeeds
  optics.samplesPerModule = 1000.0 / (modules + 2 * optics.quietModules);
  const auto bytes = sim::RenderWaveform(widths, optics);
  const barcode::BarcodeLine line{symbology, 2, 1, 0, 8};
  barcode::SymbolTables tables;
  barcode::IgnoredReadEvents events;
  std::string decoded;
  for (auto _ : state) {
    auto result =
        barcode::DecodeSamples(barcode::SamplesInReadingOrder(bytes, line), line, tables, events);
    decoded = result.text;
    benchmark::DoNotOptimize(result);
  }
  state.counters["samples"] = static_cast<double>(bytes.size());
  state.SetLabel(decoded == text ? "decoded " + decoded : "NOT decoded: " + decoded);
}
BENCHMARK(BM_DecodeWaveform)
    ->Arg(barcode::kCode39)
    ->Arg(barcode::kInterleaved2of5)
    ->Arg(barcode::kCode128)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
