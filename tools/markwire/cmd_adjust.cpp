// markwire adjust: the reader's calibration commands.
#include <climits>
#include <cstdio>
#include <string>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

void AddAdjustCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device;
    std::vector<int> numbers;
  };
  auto options = std::make_shared<Options>();
  CLI::App* adjust = app.add_subcommand("adjust", "Adjust the reader (calibration commands)");
  AddDeviceOption(*adjust, options->device);
  adjust->require_subcommand(1);
  struct Kind {
    const char* name;
    const char* help;
    int count;
    long long least, most;  // of every value: the fields the command has room for
    int (*call)(const std::vector<int>&);
  };
  static const Kind kinds[] = {
      {"gray", "Gray information (J, two-digit fields)", 2, 0, 99,
       [](const std::vector<int>& n) { return AdjustGrayInfo(n[0], n[1]); }},
      {"card", "Card information (J, three-digit first field)", 2, 0, 999,
       [](const std::vector<int>& n) { return AdjustCardInfo(n[0], n[1]); }},
      {"mota", "The MO setting", 1, 0, INT_MAX,
       [](const std::vector<int>& n) { return AdjustMota(n[0]); }},
      {"fore", "The fore time (m); negative allowed", 1, INT_MIN, INT_MAX,
       [](const std::vector<int>& n) { return AdjustForeTime(n[0]); }},
      {"behind", "The behind time (M); negative allowed", 1, INT_MIN, INT_MAX,
       [](const std::vector<int>& n) { return AdjustBehindTime(n[0]); }},
  };
  for (const auto& kind : kinds) {
    CLI::App* sub = adjust->add_subcommand(kind.name, kind.help);
    auto* values = sub->add_option("values", options->numbers, "The value(s)")
                       ->required()
                       ->expected(kind.count)
                       ->check(WholeNumber(kind.least, kind.most));
    // The card information's second field has two digits, as the gray's.
    if (std::string(kind.name) == "card")
      values->check(WholeNumber(0, 99, "the second field").application_index(1));
    sub->callback([options, &globals, &kind] {
      InstallTrace(globals);
      if (!OpenReader(options->device)) {
        globals.exitStatus = kExitNoReader;
        return;
      }
      const int result = kind.call(options->numbers);
      char code[4] = {}, text[64] = {};
      OmrGetError(code);
      OmrGetErrorStr(text);
      if (result > 0) {
        std::printf("result %d\n", result);
      } else {
        std::printf("result %d  error %s %s\n", result, Escaped(code).c_str(),
                    Escaped(text).c_str());
      }
      globals.exitStatus = result > 0 ? 0 : kExitRefused;
    });
  }
}

}  // namespace markwire::cli
