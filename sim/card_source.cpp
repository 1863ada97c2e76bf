#include "card_source.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace markwire::sim {

namespace {

constexpr std::size_t kCandidateDigits = 8;
constexpr std::size_t kShortestCard = 40;
constexpr std::size_t kLongestCard = 100;

}  // namespace

GeneratedCards::GeneratedCards(std::uint64_t seed, std::size_t count)
    : state_(seed), left_(count) {}

// splitmix64: fixed arithmetic, so the cards do not depend on how a standard
// library implements its distributions.
std::uint64_t GeneratedCards::NextRandom() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::optional<Card> GeneratedCards::Next() {
  if (left_ == 0) return std::nullopt;
  if (left_ != kUnlimited) --left_;
  Card card;
  for (std::size_t i = 0; i < kCandidateDigits; ++i)
    card.data.push_back(static_cast<char>('0' + NextRandom() % 10));
  card.barcode = card.data;
  const std::size_t length = kShortestCard + NextRandom() % (kLongestCard - kShortestCard + 1);
  while (card.data.size() < length) {
    // Most questions carry one clear mark; a few are blank or marked twice.
    const std::uint64_t roll = NextRandom() % 100;
    char mark;
    if (roll < 5) {
      mark = ' ';
    } else if (roll < 8) {
      mark = '*';
    } else {
      mark = static_cast<char>('A' + roll % 4);
    }
    card.data.push_back(mark);
  }
  return card;
}

std::optional<Card> ListCards::Next() {
  if (next_ >= cards_.size()) return std::nullopt;
  return cards_[next_++];
}

FileCards::FileCards(const std::string& path) : cards_(Load(path)) {}

std::vector<Card> FileCards::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw std::runtime_error("cannot read card file '" + path + "': " + std::strerror(errno));
  }
  std::vector<Card> cards;
  std::string line;
  std::size_t lineNumber = 0;
  while (std::getline(file, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.find('\0') != std::string::npos) {
      throw std::runtime_error("card file '" + path + "' line " + std::to_string(lineNumber) +
                               " holds a NUL byte");
    }
    const auto tab = line.find('\t');
    if (tab == std::string::npos) {
      cards.push_back({line, {}});
    } else {
      cards.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
  }
  if (file.bad()) throw std::runtime_error("error reading card file '" + path + "'");
  return cards;
}

}  // namespace markwire::sim
