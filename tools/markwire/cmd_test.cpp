// markwire test: the reader's test commands and their values.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "cli.h"
#include "markwire.h"
#include "plot_area.h"

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

// An area's values go out by line and column (the reader's numbers), the
// other read-outs' by their index.
void Print(const Outcome& out, const TestOptions& options, const AreaGrid* area) {
  if (options.json) {
    nlohmann::json j{{"command", out.command}, {"result", out.result}, {"error", out.code}};
    if (area) {
      j["first_line"] = area->firstLine;
      j["first_column"] = area->firstColumn;
      nlohmann::json lines = nlohmann::json::array(), columns = nlohmann::json::array();
      for (long l = 0; l < area->lines; ++l) lines.push_back(area->LineOf(l));
      for (long c = 0; c < area->columns; ++c) columns.push_back(area->ColumnOf(c));
      j["lines"] = lines;
      j["columns"] = columns;
    }
    for (const auto& [side, values] : out.sides) {
      if (!area) {
        j[std::string(1, side)] = values;
        continue;
      }
      nlohmann::json rows = nlohmann::json::array();
      for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % static_cast<std::size_t>(area->columns) == 0)
          rows.push_back(nlohmann::json::array());
        rows.back().push_back(values[i]);
      }
      j[std::string(1, side)] = rows;
    }
    PrintJson(j);
    return;
  }
  if (options.csv) {
    std::printf(area ? "side,line,column,value\n" : "side,index,value\n");
    for (const auto& [side, values] : out.sides)
      for (std::size_t i = 0; i < values.size(); ++i) {
        if (!area) {
          std::printf("%c,%zu,%d\n", side, i, values[i]);
          continue;
        }
        const auto at = static_cast<long>(i);
        std::printf("%c,%ld,%ld,%d\n", side, area->LineOf(at / area->columns),
                    area->ColumnOf(at % area->columns), values[i]);
      }
    return;
  }
  std::printf("%s  result %d  error %s\n", out.command.c_str(), out.result,
              Escaped(out.code).c_str());
  for (const auto& [side, values] : out.sides) {
    std::printf("%c (%zu):", side, values.size());
    for (int v : values) std::printf(" %d", v);
    std::printf("\n");
  }
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
  const auto area =
      kind == "area" ? std::optional(AreaGrid::FromCorners(n[1], n[2], n[3], n[4])) : std::nullopt;
  Print(out, options, area ? &*area : nullptr);
  // The read-outs return 255 through OmrS even when the reader refused: the
  // code says whether it did. A refused read has no picture.
  const int status = out.result > 0 && out.code == "00" ? 0 : kExitRefused;
  if (!options.plot.empty() && area && status == 0) {
    std::string error;
    if (!WriteFileWhole(options.plot, AreaPicture(out.command + "  gray levels", *area, out.sides),
                        error)) {
      Complain(error);
      return kExitNoInput;
    }
  }
  return status;
}

}  // namespace

void AddTestCommand(CLI::App& app, Globals& globals) {
  auto options = std::make_shared<TestOptions>();
  CLI::App* test = app.add_subcommand("test", "Run a reader test command and print its values");
  AddDeviceOption(*test, options->device);
  test->add_flag("--csv", options->csv,
                 "Values as CSV: side,line,column,value of an area, side,index,value else");
  test->add_flag(
      "--json", options->json,
      "One JSON object; an area's values as rows, one a line, with its line and column numbers");
  test->require_subcommand(1);
  const Kind kinds[] = {
      {"point", "Set the test point (I 0)", {"line", "column"}},
      {"area",
       "Gray levels of an area (I 1: side A, I 2: sides A and B)",
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
      auto* numbers = sub->add_option("numbers", options->numbers, names)
                          ->required()
                          ->expected(static_cast<int>(kind.numbers.size()))
                          ->check(WholeNumber(0, 9999));
      // The area's kind is the number of the test command it sends ("I 0" to "I 6").
      if (std::string(kind.name) == "area")
        numbers->check(WholeNumber(0, 6, "kind").application_index(0));
    }
    if (std::string(kind.name) == "area")
      sub->add_option("--plot", options->plot,
                      "Draw the gray levels as an SVG image: both sides, by line and column, "
                      "with a gray scale; not written when the read fails");
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
