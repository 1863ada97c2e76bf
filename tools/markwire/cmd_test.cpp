// markwire test: the reader's test commands and their values.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {
namespace {

struct TestOptions {
  std::string device;
  bool csv = false, json = false;
  std::vector<int> numbers;
  std::string plot;
};

// The most values a block can hold (its count has four digits).
constexpr std::size_t kMaxValues = 9999;

struct Outcome {
  std::string command;
  int result = 0;
  std::string code;
  std::vector<std::pair<char, std::vector<int>>> sides;
};

std::string CurrentCode() {
  char code[4] = {};
  OmrGetError(code);
  return code;
}

std::vector<int> Copy(int (*readout)(int, int*), char side) {
  std::vector<int> values(kMaxValues);
  const int n = readout(side, values.data());
  values.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return values;
}

void Print(const Outcome& out, const TestOptions& options) {
  if (options.json) {
    nlohmann::json j{{"command", out.command}, {"result", out.result}, {"error", out.code}};
    for (const auto& [side, values] : out.sides) j[std::string(1, side)] = values;
    PrintJson(j);
    return;
  }
  if (options.csv) {
    std::printf("side,index,value\n");
    for (const auto& [side, values] : out.sides)
      for (std::size_t i = 0; i < values.size(); ++i) std::printf("%c,%zu,%d\n", side, i, values[i]);
    return;
  }
  std::printf("%s  result %d  error %s\n", out.command.c_str(), out.result, out.code.c_str());
  for (const auto& [side, values] : out.sides) {
    std::printf("%c (%zu):", side, values.size());
    for (int v : values) std::printf(" %d", v);
    std::printf("\n");
  }
}

// The gray levels of an area read as an image: one square per point, side A
// and side B next to each other.
bool WritePlot(const std::string& path, const Outcome& out, int lines, int columns) {
  constexpr int kCell = 12, kGap = 24;
  std::ofstream svg(path);
  const int sideWidth = columns * kCell;
  const int width = static_cast<int>(out.sides.size()) * (sideWidth + kGap);
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='"
      << lines * kCell + 20 << "'>\n";
  int x0 = 0;
  for (const auto& [side, values] : out.sides) {
    svg << "<text x='" << x0 << "' y='14' font-family='sans-serif' font-size='12'>side " << side
        << "</text>\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int v = values[i];
      svg << "<rect x='" << x0 + static_cast<int>(i % columns) * kCell << "' y='"
          << 20 + static_cast<int>(i / columns) * kCell << "' width='" << kCell << "' height='"
          << kCell << "' fill='rgb(" << v << "," << v << "," << v << ")'/>\n";
    }
    x0 += sideWidth + kGap;
  }
  svg << "</svg>\n";
  return static_cast<bool>(svg);
}

// One test subcommand: its command, how many numbers it takes, what it reads.
struct Kind {
  const char* name;
  const char* help;
  std::vector<const char*> numbers;
};

int Run(const std::string& kind, const TestOptions& options) {
  Outcome out;
  const auto& n = options.numbers;
  char command[64] = {};
  if (kind == "point") {
    std::snprintf(command, sizeof command, "OmrSetTest(%d, %d)", n[0], n[1]);
    out.result = OmrSetTest(n[0], n[1]);
  } else if (kind == "pair") {
    std::snprintf(command, sizeof command, "I 5 %d %d/", n[0], n[1]);
    out.result = OmrS(command);
  } else if (kind == "area") {
    std::snprintf(command, sizeof command, "I %d %d %d %d %d/", n[0], n[1], n[2], n[3], n[4]);
    out.result = OmrS(command);
    out.sides.emplace_back('A', Copy(OmrGetOriOrGray, 'A'));
    if (n[0] == 2) out.sides.emplace_back('B', Copy(OmrGetOriOrGray, 'B'));
  } else if (kind == "values") {
    std::snprintf(command, sizeof command, "I 4/");
    out.result = OmrS(command);
    out.sides.emplace_back('A', Copy(OmrGetValue, 'A'));
    out.sides.emplace_back('B', Copy(OmrGetValue, 'B'));
  } else {  // curve
    std::snprintf(command, sizeof command, "I 6 %d/", n[0]);
    out.result = OmrS(command);
    out.sides.emplace_back('A', Copy(OmrGetCurve, 'A'));
  }
  out.command = command;
  out.code = CurrentCode();
  Print(out, options);
  if (!options.plot.empty()) {
    const int lines = std::abs(n[3] - n[1]) + 1, columns = std::abs(n[4] - n[2]) + 1;
    if (!WritePlot(options.plot, out, lines, columns)) {
      Complain(options.plot + ": cannot write the plot");
      return kExitRefused;
    }
  }
  // The read-outs return 255 through OmrS even when the reader refused: the
  // code says whether it did.
  return out.result > 0 && out.code == "00" ? 0 : kExitRefused;
}

}  // namespace

void AddTestCommand(CLI::App& app, Globals& globals) {
  auto options = std::make_shared<TestOptions>();
  CLI::App* test = app.add_subcommand("test", "Run a reader test command and print its values");
  AddDeviceOption(*test, options->device);
  test->add_flag("--csv", options->csv, "Values as CSV: side,index,value");
  test->add_flag("--json", options->json, "One JSON object");
  test->require_subcommand(1);
  const Kind kinds[] = {
      {"point", "Set the test point (I 0)", {"line", "column"}},
      {"area", "Gray levels of an area (I 1: side A, I 2: sides A and B)",
       {"kind", "first-line", "first-column", "last-line", "last-column"}},
      {"values", "The value block (I 4), halves A and B", {}},
      {"curve", "A sensor's curve (I 6)", {"number"}},
      {"pair", "Set the test pair (I 5)", {"first", "second"}},
  };
  for (const auto& kind : kinds) {
    CLI::App* sub = test->add_subcommand(kind.name, kind.help);
    if (!kind.numbers.empty()) {
      std::string names;
      for (const char* name : kind.numbers) names += std::string(names.empty() ? "" : " ") + name;
      sub->add_option("numbers", options->numbers, names)
          ->required()
          ->expected(static_cast<int>(kind.numbers.size()));
    }
    if (std::string(kind.name) == "area")
      sub->add_option("--plot", options->plot, "Draw the gray levels as an SVG image");
    sub->callback([options, &globals, name = std::string(kind.name)] {
      InstallTrace(globals);
      if (!OpenReader(options->device)) {
        globals.exitStatus = kExitNoReader;
        return;
      }
      globals.exitStatus = Run(name, *options);
    });
  }
}

}  // namespace markwire::cli
