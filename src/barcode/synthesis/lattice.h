// The darkness of every glyph of a set (a layout's data glyphs, or what
// could stand in the place of its start or stop) at one place in the
// samples, built from the distinct bar edges of the whole set: the search and
// the test compare every glyph at a place, and the glyphs share most of their
// edges.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "barcode/synthesis/glyphs.h"
#include "barcode/synthesis/optics.h"

namespace markwire::barcode::synthesis::detail {

// The edges of every glyph of a set, in modules from the glyph's
// start, and each glyph's bars as pairs of edge indices.
//
// A glyph's darkness is a sum of edge columns: each bar's start edge, less
// its end edge. Column e < E is edge e as a bar's start; with ink spread a
// bar's end is a column of its own, E + e, else the same column e. So that
// a glyph's sums over samples need no rendered glyph, each glyph also lists
// its columns with their signs, and the products of its columns' pairs
// (into a list of the pairs any glyph needs) with their factors.
struct Lattice {
  struct Terms {
    std::vector<std::pair<std::size_t, double>> columns;   // column, sign
    std::vector<std::pair<std::size_t, double>> products;  // pair, factor
  };
  std::vector<double> edges;
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> bars;  // per glyph
  // [0] without ink spread, [1] with.
  std::vector<Terms> terms[2];
  std::vector<std::pair<std::size_t, std::size_t>> pairs[2];
};

Lattice BuildLattice(std::span<const Glyph> glyphs);
inline Lattice BuildLattice(const SymbolLayout& layout) {
  return BuildLattice(layout.Alphabet());
}

// The glyphs of a lattice placed at module `at`, stretched by `scale`, over
// the samples [ks, ke): glyph g's darkness at sample ks + i is Glyph(g)[i].
// An edge costs one distribution-function value per sample within its reach
// (EdgeReach), computed when a glyph or a sum first needs it; a glyph one
// addition per bar and sample where the bar darkens anything, built when
// first asked for. SseAll scores every glyph at once without building any.
class GlyphBank {
 public:
  void Place(const Lattice& lattice, const Frame& frame, long ks, long ke, double at, double scale);
  long Start() const { return ks_; }
  std::size_t Length() const { return len_; }
  const double* Glyph(std::size_t g) {
    if (!ready_[g]) Build(g);
    return all_.data() + g * len_;
  }
  // The samples [First(g), Last(g)) are the only ones glyph g darkens.
  std::size_t First(std::size_t g) const { return first_[g]; }
  std::size_t Last(std::size_t g) const { return last_[g]; }
  // Glyph g's residual sum of squares against residual r (over the bank's
  // samples, whose squares sum to r2), the glyph's darkness scaled by
  // `contrast`.
  double Sse(std::size_t g, const double* r, double r2, double contrast) {
    const double* t = Glyph(g);
    const std::size_t from = first_[g];
    work_ += static_cast<long>(last_[g] - from) / 8 + 1;
    return r2 - 2 * contrast * Dot(r + from, t + from, last_[g] - from) +
           contrast * contrast * norm_[g];
  }
  // Every glyph's residual sum of squares against residual r (whose squares
  // sum to r2), out[g] as Sse(g, ...) gives it: through the edges' sums
  // with r and the products of a glyph's edges, never a rendered glyph.
  void SseAll(const double* r, double r2, double contrast, std::vector<double>& out);

  // The work done since the last call, in the units of Budget (engine.h).
  long TakeWork() {
    const long work = work_;
    work_ = 0;
    return work;
  }

 private:
  void Column(std::size_t column);
  void Edges();
  void Build(std::size_t g);
  void Products();
  int Spread() const { return frame_.spread != 0 ? 1 : 0; }

  const Lattice* lattice_ = nullptr;
  Frame frame_;
  long ks_ = 0;
  std::size_t len_ = 0;
  double at_ = 0;
  double scale_ = 1;
  bool edgesReady_ = false;
  long work_ = 0;
  // Per edge: where it starts to darken and where it is full; the bars'
  // starting edges and their ending edges differ by the ink spread.
  std::vector<double> edge_;
  std::vector<std::size_t> edgeFrom_, edgeTo_;
  std::vector<char> columnReady_;
  bool productsReady_ = false;
  std::vector<double> product_;  // per pair of the lattice
  std::vector<double> running_;  // per column, its running sum where it rises
  std::vector<std::size_t> runningAt_;
  std::vector<double> formNorm_;            // per glyph, from the products
  std::vector<double> columnSum_, suffix_;  // scratch of SseAll
  std::vector<double> all_;
  std::vector<double> norm_;
  std::vector<std::size_t> first_, last_;
  std::vector<char> ready_;
};

}  // namespace markwire::barcode::synthesis::detail
