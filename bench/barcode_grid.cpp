// How often the barcode read decodes, and how often it hands back a wrong
// text, over samples per module x blur x noise, for each symbology; beside it
// ZBar's 1-D scanner fed the very same samples. Prints a Markdown table.
//
//   barcode_grid [trials per cell, default 40]
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <random>
#include <string>

#include "barcode/pipeline/decode_samples.h"
#include "barcode_encoder.h"
#include "waveform_model.h"

#ifdef MARKWIRE_WITH_ZBAR
#include <zbar.h>
using namespace zbar;  // its C interface lives in this namespace under C++
#endif

namespace {

using namespace markwire;

std::string RandomText(std::mt19937_64& rng, int symbology) {
  static const char kCode39[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::uniform_int_distribution<int> digit(0, 9), any(0, 35);
  std::string text;
  for (int i = 0; i < 8; ++i)
    text += symbology == barcode::kCode39 ? kCode39[any(rng)] : static_cast<char>('0' + digit(rng));
  return text;
}

#ifdef MARKWIRE_WITH_ZBAR
// ZBar reads intensities sample by sample; only the symbology under test is
// enabled. True when it reports the text (for Code 128 the digits, which it
// may prefix with the FNC1 marker of GS1).
bool ZbarReads(const std::vector<std::uint8_t>& samples, int symbology, const std::string& text) {
  zbar_decoder_t* decoder = zbar_decoder_create();
  zbar_decoder_set_config(decoder, static_cast<zbar_symbol_type_t>(0), ZBAR_CFG_ENABLE, 0);
  const zbar_symbol_type_t type = symbology == barcode::kCode39            ? ZBAR_CODE39
                                  : symbology == barcode::kInterleaved2of5 ? ZBAR_I25
                                                                           : ZBAR_CODE128;
  zbar_decoder_set_config(decoder, type, ZBAR_CFG_ENABLE, 1);
  zbar_decoder_set_config(decoder, type, ZBAR_CFG_MIN_LEN, 1);
  zbar_scanner_t* scanner = zbar_scanner_create(decoder);
  bool found = false;
  const auto check = [&](zbar_symbol_type_t got) {
    if (got <= ZBAR_PARTIAL) return;
    const std::string data(zbar_decoder_get_data(decoder), zbar_decoder_get_data_length(decoder));
    if (data.size() >= text.size() && data.compare(data.size() - text.size(), text.size(), text) == 0)
      found = true;
  };
  zbar_scanner_new_scan(scanner);
  for (std::uint8_t v : samples) check(zbar_scan_y(scanner, v));
  for (int i = 0; i < 3; ++i) check(zbar_scanner_flush(scanner));
  zbar_scanner_destroy(scanner);
  zbar_decoder_destroy(decoder);
  return found;
}
#endif

const char* Name(int symbology) {
  return symbology == barcode::kCode39 ? "Code 39" : symbology == barcode::kInterleaved2of5
                                                         ? "Interleaved 2 of 5"
                                                         : "Code 128";
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  const double spms[] = {1.5, 2, 2.5, 3, 4, 6};
  const double blurs[] = {0.3, 0.5, 0.8};
  const double noises[] = {0, 4, 10};
  std::printf("Decoded %% (misread %%) per cell, %d waveforms a cell, 8 characters, wide:narrow "
              "2.5.\n\n",
              trials);
  for (int symbology : {barcode::kCode39, barcode::kInterleaved2of5, barcode::kCode128}) {
    std::printf("### %s\n\n| samples/module | blur | noise | Markwire | misread |%s\n",
                Name(symbology),
#ifdef MARKWIRE_WITH_ZBAR
                " ZBar |"
#else
                ""
#endif
    );
    std::printf("|---|---|---|---|---|%s\n",
#ifdef MARKWIRE_WITH_ZBAR
                "---|"
#else
                ""
#endif
    );
    std::mt19937_64 rng(static_cast<std::uint64_t>(symbology) * 7919);
    for (double spm : spms)
      for (double blur : blurs)
        for (double noise : noises) {
          int ok = 0, wrong = 0, zbar = 0;
          for (int t = 0; t < trials; ++t) {
            const std::string text = RandomText(rng, symbology);
            const auto widths = std::get<std::vector<double>>(
                sim::EncodeBarcode(static_cast<sim::BarcodeKind>(symbology), text));
            sim::OpticsOptions optics;
            optics.samplesPerModule = spm;
            optics.blurModules = blur;
            optics.noise = noise;
            optics.seed = rng();
            const auto bytes = sim::RenderWaveform(widths, optics);
            const barcode::BarcodeLine line{symbology, 2, 1, 0, 8};
            barcode::SymbolTables tables;
            barcode::IgnoredReadEvents events;
            const auto result = barcode::DecodeSamples(
                barcode::SamplesInReadingOrder(bytes, line), line, tables, events);
            if (result.text == text) {
              ++ok;
            } else if (result.text != std::string(8, '.')) {
              ++wrong;
            }
#ifdef MARKWIRE_WITH_ZBAR
            zbar += ZbarReads(bytes, symbology, text);
#endif
          }
          std::printf("| %.1f | %.1f | %.0f | %.0f | %.0f |", spm, blur, noise, 100.0 * ok / trials,
                      100.0 * wrong / trials);
#ifdef MARKWIRE_WITH_ZBAR
          std::printf(" %.0f |", 100.0 * zbar / trials);
#endif
          std::printf("\n");
        }
    std::printf("\n");
  }
  return 0;
}
