#include "plot_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace markwire::cli {

AreaGrid AreaGrid::FromCorners(long firstLine, long firstColumn, long lastLine, long lastColumn) {
  AreaGrid grid;
  grid.firstLine = firstLine;
  grid.firstColumn = firstColumn;
  grid.lineStep = lastLine >= firstLine ? 1 : -1;
  grid.columnStep = lastColumn >= firstColumn ? 1 : -1;
  grid.lines = std::labs(lastLine - firstLine + 1);
  grid.columns = std::labs(lastColumn - firstColumn + 1);
  return grid;
}

std::vector<long> AxisTicks(const std::vector<long>& numbers, double pitch, double room) {
  const long count = static_cast<long>(numbers.size());
  std::vector<long> ticks;
  if (count == 0) return ticks;
  long step = 1;
  for (int k = 0; step * pitch < room && step < 1'000'000'000L; ++k)
    step = (k % 3 == 1 ? 5 * step / 2 : 2 * step);  // 1, 2, 5, 10, 20, 50, ...
  const auto apart = [&](long a, long b) { return std::labs(a - b) * pitch >= room; };
  const long last = count - 1;
  const bool lastToo = last > 0 && apart(0, last);
  ticks.push_back(0);
  for (long row = 1; row < last; ++row)
    if (numbers[static_cast<std::size_t>(row)] % step == 0 && apart(row, 0) &&
        (!lastToo || apart(row, last)) && apart(row, ticks.back()))
      ticks.push_back(row);
  if (lastToo) ticks.push_back(last);
  return ticks;
}

std::vector<int> LabelRows(const std::vector<std::pair<double, double>>& extents, double gap) {
  std::vector<int> rows;
  std::vector<double> ends;  // where each row's last label ends
  for (const auto& [left, right] : extents) {
    std::size_t row = 0;
    while (row < ends.size() && left < ends[row] + gap) ++row;
    if (row == ends.size()) ends.push_back(right);
    ends[row] = right;
    rows.push_back(static_cast<int>(row));
  }
  return rows;
}

std::string XmlEscaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters have no place in XML 1.0 text.
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' ? '?' : c;
    }
  }
  return out;
}

bool WriteFileWhole(const std::string& path, std::string_view content, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // A new file gets the permissions any other file the user makes gets,
  // not mkstemp's private ones.
  const mode_t mask = umask(0);
  umask(mask);
  int failure = fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  for (std::size_t done = 0; failure == 0 && done < content.size();) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      failure = n < 0 ? errno : EIO;
    else
      done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  error = path + ": " + std::strerror(failure != 0 ? failure : errno);
  std::remove(temporary.c_str());
  return false;
}

}  // namespace markwire::cli
