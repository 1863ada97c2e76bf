#include "platform/file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace markwire {
namespace {

std::string Reason(const std::string& path) { return path + ": " + std::strerror(errno); }

}  // namespace

bool FileReader::Open(const std::string& path, std::string* error) {
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_) {
    if (error) *error = Reason(path);
    return false;
  }
  struct stat st {};
  // A directory opens on some systems; it is not a file to send.
  if (fstat(fileno(file_.get()), &st) != 0 || S_ISDIR(st.st_mode)) {
    if (error) *error = path + ": not a regular file";
    file_.reset();
    return false;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::size_t FileReader::Read(std::span<std::uint8_t> buffer) {
  if (!file_) return 0;
  return std::fread(buffer.data(), 1, buffer.size(), file_.get());
}

bool FileReader::Failed() const { return !file_ || std::ferror(file_.get()) != 0; }

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         std::string* error) {
  FileReader reader;
  if (!reader.Open(path, error)) return std::nullopt;
  if (reader.Size() > maxBytes) {
    if (error) *error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
    return std::nullopt;
  }
  std::string text;
  std::uint8_t chunk[65536];
  for (std::size_t n; (n = reader.Read(chunk)) > 0;) {
    if (text.size() + n > maxBytes) {
      if (error) *error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
      return std::nullopt;
    }
    text.append(reinterpret_cast<const char*>(chunk), n);
  }
  if (reader.Failed()) {
    if (error) *error = Reason(path);
    return std::nullopt;
  }
  return text;
}

}  // namespace markwire
