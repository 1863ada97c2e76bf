// Where the simulated reader gets the cards it feeds: one card per "R/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace markwire::sim {

struct Card {
  std::string data;     // what the reader reports for the card: text, no NUL bytes
  std::string barcode;  // the text printed as a barcode on the card; may be empty
};

class CardSource {
 public:
  virtual ~CardSource() = default;
  // The next card in the hopper, or nothing when it is empty.
  virtual std::optional<Card> Next() = 0;
};

// Answer sheets made up from a seed: the same seed gives the same cards on
// every platform. Each card's data is an 8-digit candidate number followed by
// one character per question: "A" to "D" for the mark found, a space for a
// question left blank and "*" for several marks. A card is 40 to 100
// characters long. The barcode is the candidate number.
class GeneratedCards final : public CardSource {
 public:
  static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

  explicit GeneratedCards(std::uint64_t seed, std::size_t count = kUnlimited);
  std::optional<Card> Next() override;

 private:
  std::uint64_t NextRandom();

  std::uint64_t state_;
  std::size_t left_;
};

// A fixed list of cards, fed in order.
class ListCards final : public CardSource {
 public:
  explicit ListCards(std::vector<Card> cards) : cards_(std::move(cards)) {}
  std::optional<Card> Next() override;

 private:
  std::vector<Card> cards_;
  std::size_t next_ = 0;
};

// Cards from a text file, read whole when constructed. Each non-empty line is
// one card. A line "data<TAB>barcode" gives the card's barcode after its
// first TAB; without a TAB the barcode is empty. A carriage return at the end
// of a line is dropped, so files written on Windows read the same.
// The constructor throws std::runtime_error, with a one-line reason naming
// the file, when the file cannot be read or a line holds a NUL byte (card data
// are text, and a NUL would end it early in the application).
class FileCards final : public CardSource {
 public:
  explicit FileCards(const std::string& path);
  std::optional<Card> Next() override { return cards_.Next(); }

 private:
  static std::vector<Card> Load(const std::string& path);
  ListCards cards_;
};

}  // namespace markwire::sim
