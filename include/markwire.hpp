// markwire.hpp - a C++ reader over the C reader handle of markwire.h.
//
// Header-only: it uses nothing but the C interface, so a C++ program gets a
// reader that closes itself without depending on the library's internals.
//
//   markwire::Reader reader("/dev/ttyUSB0");       // hand-shake, or throws
//   reader.DownloadFormat("/home/exam/card.fmt");
//   while (auto card = reader.ReadCard()) std::puts(card->c_str());
//
// A call the reader refuses throws markwire::ReaderError with the two-digit
// code and its text; ReadCard returns no card when the hopper is empty.
#ifndef MARKWIRE_HPP
#define MARKWIRE_HPP

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "markwire.h"

namespace markwire {

class ReaderError : public std::runtime_error {
 public:
  ReaderError(std::string code, const std::string& text)
      : std::runtime_error(code.empty() ? text : code + " " + text), code_(std::move(code)) {}
  // Two digits, or empty when no reader was involved (the open failed).
  const std::string& Code() const { return code_; }

 private:
  std::string code_;
};

class Reader {
 public:
  explicit Reader(const std::string& device) {
    char why[256] = "";
    reader_ = mw_open(device.c_str(), why, sizeof why);
    if (reader_ == nullptr) throw ReaderError("", why);
  }
  ~Reader() { mw_close(reader_); }
  Reader(Reader&& other) noexcept : reader_(std::exchange(other.reader_, nullptr)) {}
  Reader& operator=(Reader&& other) noexcept {
    if (this != &other) {
      mw_close(reader_);
      reader_ = std::exchange(other.reader_, nullptr);
    }
    return *this;
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // As OmrS: 255 done, a positive count or 1 (accepted, not answered); a
  // refusal throws.
  int Send(const std::string& command) { return Checked(mw_send(reader_, command.c_str())); }
  // One data block (as OmrG); a pending status code throws.
  std::string Receive() {
    std::string block(MW_BLOCK_SIZE, '\0');
    const int n = Checked(mw_receive(reader_, block.data(), block.size()));
    block.resize(std::char_traits<char>::length(block.c_str()));
    if (n == 255 && block.size() == 2) Fail();  // a status code instead of data
    return block;
  }
  // The next card's data (with its barcode where the format has one), or no
  // card when the hopper is empty ("16"); any other failure throws.
  std::optional<std::string> ReadCard(int option = 0, int limit = 2000) {
    std::string data(MW_BLOCK_SIZE, '\0');
    const int n = mw_read_card(reader_, option, limit, data.data(), data.size());
    if (n > 0) {
      data.resize(std::char_traits<char>::length(data.c_str()));
      // 255 and two digits: the reader answered the read command with a
      // status, not a card.
      if (n == 255 && data.size() == 2 && IsDigit(data[0]) && IsDigit(data[1]))
        throw ReaderError(data, "the reader answered the read with status " + data);
      return data;
    }
    if (n == 0 && ErrorCode() == "16") return std::nullopt;
    Fail(n);
  }
  void DownloadFormat(const std::string& path) { Checked(mw_download_format(reader_, path.c_str())); }
  void DownloadFormatText(const std::string& text) {
    Checked(mw_download_format_text(reader_, text.c_str()));
  }
  void DownloadProgram(const std::string& path) {
    Checked(mw_download_program(reader_, path.c_str()));
  }
  // The half 'A' or 'B' of the value read-out (as OmrGetValue), and a
  // block read-out (as OmrGetOriOrGray), as integers.
  std::vector<int> Values(char selector) {
    std::vector<int> values = All(mw_get_values, selector);
    const std::size_t n = values.size();
    values.resize(selector == 'B' ? n - n / 2 : n >= 96 ? n / 2 : n);
    if (selector == 'B') {
      std::vector<int> half(values.size());
      mw_get_values(reader_, selector, half.data(), half.size());
      return half;
    }
    return values;
  }
  std::vector<int> Block(char selector) { return All(mw_get_block, selector); }
  void BarcodeMode(int mode) { Checked(mw_barcode_mode(reader_, mode)); }
  // Where the barcode sits in ReadCard's text: {offset, length}; length 0
  // when the format reads no barcode.
  std::pair<int, int> BarcodeLayout() const {
    int offset = 0;
    int length = 0;
    Checked(mw_barcode_layout(reader_, &offset, &length));
    return {offset, length};
  }

  std::string ErrorCode() const {
    char code[3] = "";
    mw_error(reader_, code);
    return code;
  }
  std::string ErrorText() const {
    char text[64] = "";
    mw_error_text(reader_, text, sizeof text);
    return text;
  }
  mw_reader* Handle() const { return reader_; }

 private:
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  [[noreturn]] void Fail(int result = 0) const {
    if (result == MW_UNKNOWN_READER) throw ReaderError("", "the reader is not open");
    if (result == MW_SMALL_BUFFER) throw ReaderError("", "buffer too small");
    throw ReaderError(ErrorCode(), ErrorText());
  }
  int Checked(int result) const {
    if (result <= 0) Fail(result);
    return result;
  }
  template <typename Get>
  std::vector<int> All(Get get, char selector) {
    const int n = get(reader_, selector, nullptr, 0);
    if (n < 0) Fail(n);
    std::vector<int> values(static_cast<std::size_t>(n));
    get(reader_, selector, values.data(), values.size());
    return values;
  }

  mw_reader* reader_ = nullptr;
};

}  // namespace markwire

#endif  // MARKWIRE_HPP
