#include "barcode/synthesis/lattice.h"

#include <algorithm>

namespace markwire::barcode::synthesis::detail {

Lattice BuildLattice(std::span<const Glyph> glyphs) {
  Lattice lattice;
  for (const Glyph& glyph : glyphs)
    for (const auto& [a, b] : glyph.bars) lattice.edges.insert(lattice.edges.end(), {a, b});
  std::sort(lattice.edges.begin(), lattice.edges.end());
  lattice.edges.erase(std::unique(lattice.edges.begin(), lattice.edges.end(),
                                  [](double a, double b) { return std::fabs(a - b) < 1e-9; }),
                      lattice.edges.end());
  const auto index = [&](double x) {
    return static_cast<std::size_t>(
        std::lower_bound(lattice.edges.begin(), lattice.edges.end(), x - 1e-9) -
        lattice.edges.begin());
  };
  for (const Glyph& glyph : glyphs) {
    auto& bars = lattice.bars.emplace_back();
    for (const auto& [a, b] : glyph.bars) bars.emplace_back(index(a), index(b));
  }
  const std::size_t edges = lattice.edges.size();
  const std::size_t columns = 2 * edges;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> pairIndex;
  std::vector<double> signs(columns);
  for (int spread = 0; spread < 2; ++spread) {
    pairIndex.assign(columns * columns, kNone);
    lattice.terms[spread].reserve(lattice.bars.size());
    for (const auto& bars : lattice.bars) {
      // The glyph's columns in order, with their signs.
      std::fill(signs.begin(), signs.end(), 0.0);
      for (const auto& [a, b] : bars) {
        signs[a] += 1;
        signs[spread ? edges + b : b] -= 1;
      }
      Lattice::Terms& terms = lattice.terms[spread].emplace_back();
      terms.columns.reserve(2 * bars.size());
      for (std::size_t column = 0; column < columns; ++column)
        if (signs[column] != 0) terms.columns.emplace_back(column, signs[column]);
      terms.products.reserve(terms.columns.size() * (terms.columns.size() + 1) / 2);
      for (std::size_t i = 0; i < terms.columns.size(); ++i) {
        for (std::size_t j = i; j < terms.columns.size(); ++j) {
          const std::size_t c = terms.columns[i].first, d = terms.columns[j].first;
          std::size_t& pair = pairIndex[c * columns + d];
          if (pair == kNone) {
            pair = lattice.pairs[spread].size();
            lattice.pairs[spread].emplace_back(c, d);
          }
          terms.products.emplace_back(
              pair, terms.columns[i].second * terms.columns[j].second * (i == j ? 1 : 2));
        }
      }
    }
  }
  return lattice;
}

void GlyphBank::Place(const Lattice& lattice, const Frame& frame, long ks, long ke, double at,
                      double scale) {
  lattice_ = &lattice;
  frame_ = frame;
  ks_ = ks;
  len_ = static_cast<std::size_t>(std::max(0L, ke - ks));
  at_ = at;
  scale_ = scale;
  edgesReady_ = false;
  productsReady_ = false;
  // Storage is kept from place to place; what is computed is marked.
  const std::size_t columns = (Spread() + 1) * lattice.edges.size();
  if (edge_.size() < columns * len_) edge_.resize(columns * len_);
  edgeFrom_.resize(columns);
  edgeTo_.resize(columns);
  columnReady_.assign(columns, 0);
  const std::size_t glyphs = lattice.bars.size();
  if (all_.size() < glyphs * len_) all_.resize(glyphs * len_);
  norm_.resize(glyphs);
  first_.resize(glyphs);
  last_.resize(glyphs);
  ready_.assign(glyphs, 0);
}

void GlyphBank::Column(std::size_t column) {
  // Bars begin half the spread early and end half of it late: with a spread
  // the ends are columns of their own (E + e), behind the starts.
  const std::size_t edges = lattice_->edges.size();
  if (columnReady_[column]) return;
  const NormalCdf& phi = Phi();
  const double shift = column < edges ? frame_.spread / 2 : -frame_.spread / 2;
  const double inv = 1 / frame_.sigma;
  const auto len = static_cast<long>(len_);
  double* out = edge_.data() + column * len_;
  // Where the edge's blur reaches, as AddBars draws it; before it paper,
  // behind it ink.
  const double centre = at_ + lattice_->edges[column % edges] * scale_ - shift;
  const double halfWidth = EdgeReach(frame_.sigma);
  const long from =
      ClampIndex(std::floor(frame_.K(centre - halfWidth)) - static_cast<double>(ks_), 0, len);
  const long to =
      ClampIndex(std::ceil(frame_.K(centre + halfWidth)) + 1 - static_cast<double>(ks_), from, len);
  std::fill(out, out + from, 0.0);
  const double offset = (static_cast<double>(ks_) - frame_.k0) / frame_.spm - centre;
  const double perSample = 1 / frame_.spm;
  for (long i = from; i < to; ++i)
    out[i] = phi((offset + static_cast<double>(i) * perSample) * inv);
  std::fill(out + to, out + len, 1.0);
  work_ += to - from + len / 8;
  edgeFrom_[column] = static_cast<std::size_t>(from);
  edgeTo_[column] = static_cast<std::size_t>(to);
  columnReady_[column] = 1;
}

void GlyphBank::Edges() {
  const std::size_t columns = (Spread() + 1) * lattice_->edges.size();
  for (std::size_t column = 0; column < columns; ++column) Column(column);
  edgesReady_ = true;
}

void GlyphBank::Products() {
  if (!edgesReady_) Edges();
  const int spread = Spread();
  const auto& pairs = lattice_->pairs[spread];
  // Each column's running sum where it rises.
  const std::size_t columns = edgeFrom_.size();
  runningAt_.resize(columns);
  std::size_t size = 0;
  for (std::size_t c = 0; c < columns; ++c) {
    runningAt_[c] = size;
    size += edgeTo_[c] - edgeFrom_[c] + 1;
  }
  running_.resize(size);
  for (std::size_t c = 0; c < columns; ++c) {
    double* out = running_.data() + runningAt_[c];
    const double* in = edge_.data() + c * len_;
    double sum = 0;
    *out++ = 0.0;
    for (std::size_t i = edgeFrom_[c]; i < edgeTo_[c]; ++i) *out++ = sum += in[i];
    work_ += static_cast<long>(edgeTo_[c] - edgeFrom_[c]) / 4;
  }
  // Column c's sum over samples [a, b), from < a <= b: 0 before it rises,
  // 1 a sample behind.
  const auto sumOf = [&](std::size_t c, std::size_t a, std::size_t b) {
    const auto upTo = [&](std::size_t k) {
      const std::size_t from = edgeFrom_[c], to = edgeTo_[c];
      if (k <= from) return 0.0;
      if (k <= to) return running_[runningAt_[c] + (k - from)];
      return running_[runningAt_[c] + (to - from)] + static_cast<double>(k - to);
    };
    return upTo(b) - upTo(a);
  };
  product_.resize(pairs.size());
  for (std::size_t p = 0; p < pairs.size(); ++p) {
    const auto [c, d] = pairs[p];
    // Before the later column rises the product is 0; where both rise, it
    // is summed sample by sample; where one is full, it is the other's sum;
    // behind both, 1.
    const std::size_t from = std::max(edgeFrom_[c], edgeFrom_[d]);
    const std::size_t both = std::min(edgeTo_[c], edgeTo_[d]);
    const std::size_t to = std::max(edgeTo_[c], edgeTo_[d]);
    const std::size_t later = edgeTo_[c] >= edgeTo_[d] ? c : d;
    double product = static_cast<double>(len_ - to);
    if (from < both) {
      product += Dot(edge_.data() + c * len_ + from, edge_.data() + d * len_ + from, both - from);
      work_ += static_cast<long>(both - from) / 8;
    }
    product += sumOf(later, std::max(from, both), to);
    product_[p] = product;
    work_ += 4;
  }
  const auto& terms = lattice_->terms[spread];
  formNorm_.resize(terms.size());
  for (std::size_t g = 0; g < terms.size(); ++g) {
    double norm = 0;
    for (const auto& [p, factor] : terms[g].products) norm += factor * product_[p];
    formNorm_[g] = norm;
    work_ += static_cast<long>(terms[g].products.size()) / 8;
  }
  productsReady_ = true;
}

void GlyphBank::SseAll(const double* r, double r2, double contrast, std::vector<double>& out) {
  if (!productsReady_) Products();
  // Each column's sum with r: where it rises sample by sample, behind that
  // the sum of r that is left.
  suffix_.resize(len_ + 1);
  suffix_[len_] = 0;
  for (std::size_t i = len_; i-- > 0;) suffix_[i] = suffix_[i + 1] + r[i];
  const std::size_t columns = edgeFrom_.size();
  columnSum_.resize(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    const std::size_t from = edgeFrom_[c], to = edgeTo_[c];
    columnSum_[c] = Dot(r + from, edge_.data() + c * len_ + from, to - from) + suffix_[to];
    work_ += static_cast<long>(to - from) / 8;
  }
  work_ += static_cast<long>(len_) / 4;
  const auto& terms = lattice_->terms[Spread()];
  out.resize(terms.size());
  for (std::size_t g = 0; g < terms.size(); ++g) {
    double dot = 0;
    for (const auto& [c, sign] : terms[g].columns) dot += sign * columnSum_[c];
    out[g] = r2 - 2 * contrast * dot + contrast * contrast * formNorm_[g];
  }
  work_ += static_cast<long>(terms.size() * (terms.front().columns.size() / 4 + 1));
}

void GlyphBank::Build(std::size_t g) {
  const std::size_t ends = frame_.spread != 0 ? lattice_->edges.size() : 0;
  for (const auto& [a, b] : lattice_->bars[g]) {
    Column(a);
    Column(ends + b);
  }
  double* out = all_.data() + g * len_;
  std::fill(out, out + len_, 0.0);
  std::size_t first = len_, last = 0;
  for (const auto& [a, b] : lattice_->bars[g]) {
    const double* ea = edge_.data() + a * len_;
    const double* eb = edge_.data() + (ends + b) * len_;
    // Before the start's rise and behind the end's both read alike.
    const std::size_t from = edgeFrom_[a];
    const std::size_t to = std::max(from, edgeTo_[ends + b]);
    for (std::size_t i = from; i < to; ++i) out[i] += ea[i] - eb[i];
    work_ += static_cast<long>(to - from) / 4;
    first = std::min(first, from);
    last = std::max(last, to);
  }
  if (first > last) first = last = 0;
  first_[g] = first;
  last_[g] = last;
  norm_[g] = Dot(out + first, out + first, last - first);
  ready_[g] = 1;
}

}  // namespace markwire::barcode::synthesis::detail
