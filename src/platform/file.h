// Reading the files the reader is given: card formats (small, read whole) and
// program files (streamed in pieces, so their size is bounded by nothing but
// the disk).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace markwire {

// The whole file, or nothing (with the OS's reason in `error`) when it cannot
// be opened or read, or is larger than `maxBytes`.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         std::string* error);

// A file read front to back in pieces.
class FileReader {
 public:
  // False (with the OS's reason) when the file cannot be opened for reading.
  bool Open(const std::string& path, std::string* error);
  // The file's size when it was opened.
  std::uint64_t Size() const { return size_; }
  // Up to buffer.size() bytes; 0 at the end of the file or on an error.
  std::size_t Read(std::span<std::uint8_t> buffer);
  bool Failed() const;

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::uint64_t size_ = 0;
};

}  // namespace markwire
