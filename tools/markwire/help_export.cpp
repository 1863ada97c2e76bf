#include "help_export.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace markwire::cli {

namespace help_detail {

std::string Upper(std::string text) {
  for (char& c : text) c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// IsMember's check describes itself as "{a,b,c}" in the type name.
std::vector<std::string> Choices(const std::string& typeName) {
  const auto open = typeName.find('{');
  const auto close = typeName.find('}', open);
  if (open == std::string::npos || close == std::string::npos) return {};
  std::vector<std::string> choices;
  std::stringstream list(typeName.substr(open + 1, close - open - 1));
  for (std::string item; std::getline(list, item, ',');) {
    if (!item.empty()) choices.push_back(item);
  }
  return choices;
}

OptionHelp DescribeOption(const CLI::Option& option) {
  OptionHelp help;
  help.positional = !option.nonpositional();
  if (help.positional) {
    help.names.push_back(option.get_name());
  } else {
    for (const auto& name : option.get_snames()) help.names.push_back("-" + name);
    for (const auto& name : option.get_lnames()) help.names.push_back("--" + name);
  }
  const std::string key =
      help.positional ? option.get_name()
                      : (option.get_lnames().empty() ? option.get_snames().front()
                                                     : option.get_lnames().front());
  if (help.positional || option.get_expected_max() > 0) help.value = Upper(key);
  help.description = option.get_description();
  const std::string type = option.get_type_name();
  help.choices = Choices(type);
  help.repeated = option.get_items_expected_max() > 1;
  help.required = option.get_required();
  help.env = option.get_envname();
  help.device = key == "device";
  // A file check names a file; so does an option whose name says it writes
  // or links one.
  help.file = !help.value.empty() &&
              (type.find("FILE") != std::string::npos || key.find("file") != std::string::npos ||
               key == "plot" || key == "link");
  return help;
}

CommandHelp DescribeCommand(const CLI::App& app, const std::string& parentPath) {
  CommandHelp help;
  help.name = app.get_parent() == nullptr ? "" : app.get_name();
  help.path = parentPath.empty() ? help.name : parentPath + " " + help.name;
  help.description = app.get_description();
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_group().empty()) continue;  // hidden
    help.options.push_back(DescribeOption(*option));
  }
  const auto visible = [](const CLI::App* sub) { return !sub->get_group().empty(); };
  for (const CLI::App* sub : app.get_subcommands(visible))
    help.commands.push_back(DescribeCommand(*sub, help.path));
  return help;
}

bool IsHelpOrVersion(const OptionHelp& option) {
  return std::find(option.names.begin(), option.names.end(), "--help") != option.names.end() ||
         std::find(option.names.begin(), option.names.end(), "--version") != option.names.end();
}

// A subcommand also takes the options of the commands above it (the tool
// falls through to them), except help and version.
std::vector<OptionHelp> InheritedOptions(const std::vector<OptionHelp>& above,
                                         const CommandHelp& command) {
  std::vector<OptionHelp> all;
  for (const auto& option : command.options)
    if (!option.positional) all.push_back(option);
  for (const auto& option : above) {
    if (IsHelpOrVersion(option)) continue;
    const bool shadowed = std::any_of(all.begin(), all.end(), [&](const OptionHelp& own) {
      return std::any_of(own.names.begin(), own.names.end(), [&](const std::string& name) {
        return std::find(option.names.begin(), option.names.end(), name) != option.names.end();
      });
    });
    if (!shadowed) all.push_back(option);
  }
  return all;
}

template <typename Visit>
void Walk(const CommandHelp& command, const std::vector<OptionHelp>& above, Visit&& visit) {
  const std::vector<OptionHelp> options = InheritedOptions(above, command);
  visit(command, options);
  for (const auto& sub : command.commands) Walk(sub, options, visit);
}

std::string Join(const std::vector<std::string>& words, const std::string& between) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : between) + word;
  return text;
}

// ---- bash ------------------------------------------------------------------

std::string BashValueKind(const OptionHelp& option) {
  if (!option.choices.empty()) return "choice " + Join(option.choices, " ");
  if (option.device) return "device";
  if (option.file) return "file";
  return "text";
}

// ---- zsh -------------------------------------------------------------------

std::string ZshFunction(const std::string& program, const std::string& path) {
  std::string name = "_" + program + (path.empty() ? "" : "_");
  for (char c : path) name += (c == ' ' || c == '-') ? '_' : c;
  return name;
}

// Text inside a single-quoted zsh word.
std::string ZshQuoted(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// The first clause of a description, short enough for a completion menu,
// with the brackets and colons that _arguments reads escaped.
std::string ZshDescription(const std::string& text, bool inBrackets) {
  std::string first = text.substr(0, text.find('\n'));
  for (const char* end : {"; ", " (", ". "}) {
    auto at = first.find(end);
    // "e.g. " ends no sentence.
    while (at != std::string::npos && at >= 3 && first.compare(at - 3, 3, "e.g") == 0)
      at = first.find(end, at + 1);
    if (at != std::string::npos && at > 10) first = first.substr(0, at);
  }
  if (first.size() > 72) first = first.substr(0, 69) + "...";
  std::string out;
  for (char c : first) {
    if (c == '\\' || (inBrackets && (c == '[' || c == ']')) || (!inBrackets && c == ':'))
      out += '\\';
    out += c;
  }
  return ZshQuoted(out);
}

std::string ZshAction(const OptionHelp& option) {
  if (!option.choices.empty()) return "(" + Join(option.choices, " ") + ")";
  if (option.device) return "_markwire_devices";
  if (option.file) return "_files";
  return " ";
}

std::string ZshOptionWord(const OptionHelp& option) {
  const std::string describe = "[" + ZshDescription(option.description, true) + "]";
  const std::string value =
      option.value.empty() ? "" : ":" + Upper(option.value) + ":" + ZshAction(option);
  // An option given more than once (--fault) may be offered again.
  if (option.repeated) return "'*" + option.names[0] + describe + value + "'";
  if (option.names.size() == 1) return "'" + option.names[0] + describe + value + "'";
  return "'(" + Join(option.names, " ") + ")'{" + Join(option.names, ",") + "}'" + describe +
         value + "'";
}

// ---- roff ------------------------------------------------------------------

std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::string RoffOptionTerm(const OptionHelp& option) {
  std::vector<std::string> names;
  for (const auto& name : option.names) names.push_back("\\fB" + Roff(name) + "\\fR");
  std::string term = Join(names, ", ");
  if (!option.value.empty() && !option.positional) term += " \\fI" + Roff(option.value) + "\\fR";
  return term;
}

std::string Synopsis(const CommandHelp& command, const std::string& program) {
  std::string line = "\\fB" + Roff(program + (command.path.empty() ? "" : " " + command.path)) + "\\fR";
  for (const auto& option : command.options) {
    if (option.positional || IsHelpOrVersion(option)) continue;
    std::string word = "\\fB" + Roff(option.names.front()) + "\\fR";
    if (!option.value.empty()) word += " \\fI" + Roff(option.value) + "\\fR";
    line += option.required ? " " + word : " [" + word + "]";
  }
  if (!command.commands.empty()) {
    std::vector<std::string> names;
    for (const auto& sub : command.commands) names.push_back(sub.name);
    line += " {" + Roff(Join(names, "|")) + "} ...";
  }
  for (const auto& option : command.options) {
    if (!option.positional) continue;
    std::string word = "\\fI" + Roff(option.value) + "\\fR" + (option.repeated ? "..." : "");
    line += option.required ? " " + word : " [" + word + "]";
  }
  return line;
}

struct ExitStatus {
  const char* code;
  const char* meaning;
};
constexpr ExitStatus kExitStatuses[] = {
    {"0", "Done."},
    {"1", "The reader refused a command or a read failed; its code and text are printed."},
    {"2", "No reader: the device could not be opened, nothing answered the hand-shake, or the "
          "reader was lost."},
    {"3", "A barcode waveform was not decoded (barcode decode)."},
    {"64", "Bad usage: an unknown option, a missing argument, a value out of range."},
    {"65", "Bad input data: a file or text that does not parse."},
    {"66", "A file could not be opened."},
    {"130", "Interrupted (SIGINT)."},
    {"141", "Standard output was closed (SIGPIPE)."},
    {"143", "Terminated (SIGTERM)."},
};

}  // namespace help_detail

CommandHelp DescribeApp(const CLI::App& app) { return help_detail::DescribeCommand(app, ""); }

std::string BashCompletion(const CommandHelp& tool, const std::string& program) {
  using namespace help_detail;
  std::ostringstream commands, options, values, positionals;
  Walk(tool, {}, [&](const CommandHelp& command, const std::vector<OptionHelp>& all) {
    const std::string key = "\"" + command.path + "\")";
    if (!command.commands.empty()) {
      std::vector<std::string> names;
      for (const auto& sub : command.commands) names.push_back(sub.name);
      commands << "    " << key << " echo \"" << Join(names, " ") << "\" ;;\n";
    }
    std::vector<std::string> names;
    for (const auto& option : all) {
      names.insert(names.end(), option.names.begin(), option.names.end());
      if (option.value.empty()) continue;
      std::vector<std::string> patterns;
      for (const auto& name : option.names) patterns.push_back("\"" + command.path + "|" + name + "\"");
      values << "    " << Join(patterns, "|") << ") echo \"" << BashValueKind(option) << "\" ;;\n";
    }
    options << "    " << key << " echo \"" << Join(names, " ") << "\" ;;\n";
    for (const auto& option : command.options) {
      if (option.positional && option.file) {
        positionals << "    " << key << " echo file ;;\n";
        break;
      }
    }
  });

  const std::string f = "_" + program;
  std::ostringstream out;
  out << "# bash completion for " << program << "        -*- shell-script -*-\n"
      << "# Generated by `" << program << " generate bash` from the tool's own help.\n\n"
      << f << "_commands() {\n  case \"$1\" in\n" << commands.str() << "  esac\n}\n\n"
      << f << "_options() {\n  case \"$1\" in\n" << options.str() << "  esac\n}\n\n"
      << "# What an option's value is: file, device, text or \"choice WORDS\"; fails for a flag.\n"
      << f << "_value() {\n  case \"$1|$2\" in\n" << values.str()
      << "    *) return 1 ;;\n  esac\n}\n\n"
      << f << "_arguments_are_files() {\n  case \"$1\" in\n" << positionals.str()
      << "    *) return 1 ;;\n  esac\n}\n\n"
      << f << "_devices() {\n"
      << "  local cur=$1\n"
      << "  if [[ -z $cur ]]; then\n"
      << "    compgen -G '/dev/serial/by-id/*'; compgen -G '/dev/ttyUSB*'\n"
      << "    compgen -G '/dev/ttyACM*'; compgen -G '/dev/ttyS*'\n"
      << "  else\n"
      << "    compgen -f -- \"$cur\"\n"
      << "  fi\n"
      << "}\n\n"
      << f << "() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev= path= word sub i kind\n"
      << "  COMPREPLY=()\n"
      << "  # The subcommands named so far; an option's value is skipped.\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    word=${COMP_WORDS[i]}\n"
      << "    if [[ $word == -* ]]; then\n"
      << "      [[ $word != *=* ]] && " << f << "_value \"$path\" \"$word\" >/dev/null && ((i++))\n"
      << "      continue\n"
      << "    fi\n"
      << "    for sub in $(" << f << "_commands \"$path\"); do\n"
      << "      if [[ $sub == \"$word\" ]]; then path=${path:+$path }$word; break; fi\n"
      << "    done\n"
      << "  done\n"
      << "  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
      << "  if [[ $prev == -* ]] && kind=$(" << f << "_value \"$path\" \"$prev\"); then\n"
      << "    case $kind in\n"
      << "      file) compopt -o filenames 2>/dev/null\n"
      << "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\") ;;\n"
      << "      device) compopt -o filenames 2>/dev/null\n"
      << "        mapfile -t COMPREPLY < <(" << f << "_devices \"$cur\") ;;\n"
      << "      choice\\ *) mapfile -t COMPREPLY < <(compgen -W \"${kind#choice }\" -- \"$cur\") ;;\n"
      << "    esac\n"
      << "    return 0\n"
      << "  fi\n"
      << "  if [[ $cur == -* ]]; then\n"
      << "    mapfile -t COMPREPLY < <(compgen -W \"$(" << f << "_options \"$path\")\" -- \"$cur\")\n"
      << "    return 0\n"
      << "  fi\n"
      << "  local commands\n"
      << "  commands=$(" << f << "_commands \"$path\")\n"
      << "  if [[ -n $commands ]]; then\n"
      << "    mapfile -t COMPREPLY < <(compgen -W \"$commands\" -- \"$cur\")\n"
      << "  elif " << f << "_arguments_are_files \"$path\"; then\n"
      << "    compopt -o filenames 2>/dev/null\n"
      << "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
      << "  fi\n"
      << "  return 0\n"
      << "}\n\n"
      << "complete -F " << f << " " << program << "\n";
  return out.str();
}

std::string ZshCompletion(const CommandHelp& tool, const std::string& program) {
  using namespace help_detail;
  std::ostringstream functions;
  Walk(tool, {}, [&](const CommandHelp& command, const std::vector<OptionHelp>& all) {
    const std::string name = ZshFunction(program, command.path);
    functions << name << "() {\n";
    std::vector<std::string> words;
    for (const auto& option : all) words.push_back(ZshOptionWord(option));
    if (command.commands.empty()) {
      int index = 1;
      for (const auto& option : command.options) {
        if (!option.positional) continue;
        const std::string position = option.repeated ? "*" : std::to_string(index++);
        words.push_back("'" + position + ":" + Upper(option.value) + ":" + ZshAction(option) + "'");
      }
      functions << "  _arguments -s";
      for (const auto& word : words) functions << " \\\n    " << word;
      functions << "\n}\n\n";
      return;
    }
    functions << "  local curcontext=$curcontext state state_descr line\n"
              << "  typeset -A opt_args\n"
              << "  _arguments -C";
    for (const auto& word : words) functions << " \\\n    " << word;
    functions << " \\\n    '1: :->command' \\\n    '*:: :->argument' && return\n"
              << "  case $state in\n"
              << "    command)\n"
              << "      local -a commands=(\n";
    for (const auto& sub : command.commands) {
      functions << "        '" << sub.name << ":" << ZshDescription(sub.description, false) << "'\n";
    }
    functions << "      )\n"
              << "      _describe -t commands '"
              << ZshQuoted(command.path.empty() ? program : program + " " + command.path)
              << " command' commands ;;\n"
              << "    argument)\n"
              << "      case $words[1] in\n";
    for (const auto& sub : command.commands) {
      functions << "        " << sub.name << ") " << ZshFunction(program, sub.path) << " ;;\n";
    }
    functions << "      esac ;;\n"
              << "  esac\n"
              << "}\n\n";
  });
  std::ostringstream out;
  out << "#compdef " << program << "\n"
      << "# zsh completion for " << program << ", generated by `" << program
      << " generate zsh` from the tool's own help.\n\n"
      << "_markwire_devices() {\n"
      << "  local -a devices\n"
      << "  devices=(/dev/serial/by-id/*(N) /dev/ttyUSB*(N) /dev/ttyACM*(N) /dev/ttyS*(N))\n"
      << "  compadd -a devices\n"
      << "  _files\n"
      << "}\n\n"
      << functions.str()
      << "if [[ $funcstack[1] == _" << program << " ]]; then\n"
      << "  _" << program << " \"$@\"\n"
      << "else\n"
      << "  compdef _" << program << " " << program << "\n"
      << "fi\n";
  return out.str();
}

std::string ManPage(const CommandHelp& tool, const std::string& program,
                    const std::string& version) {
  using namespace help_detail;
  // The tool's description: "name - summary." on its first line, then prose.
  std::string summary = tool.description.substr(0, tool.description.find('\n'));
  std::string prose = tool.description.size() > summary.size()
                          ? tool.description.substr(summary.size() + 1)
                          : std::string();
  if (summary.starts_with(program + " - ")) summary = summary.substr(program.size() + 3);
  if (!summary.empty() && summary.back() == '.') summary.pop_back();
  std::replace(prose.begin(), prose.end(), '\n', ' ');

  std::ostringstream out;
  out << ".\\\" Generated by `" << program << " generate man` from the tool's own help.\n"
      << ".TH " << Upper(program) << " 1 \"\" \"" << Roff(version) << "\" \"User Commands\"\n"
      << ".SH NAME\n"
      << Roff(program) << " \\- " << Roff(summary) << "\n"
      << ".SH SYNOPSIS\n"
      << Synopsis(tool, program) << "\n"
      << ".SH DESCRIPTION\n"
      << Roff(prose) << "\n"
      << ".PP\n"
      << "Results go to standard output, diagnostics to standard error. Every command takes\n"
      << "\\fB\\-h\\fR, \\fB\\-\\-help\\fR.\n"
      << ".SH OPTIONS\n";
  for (const auto& option : tool.options) {
    out << ".TP\n" << RoffOptionTerm(option) << "\n" << Roff(option.description) << "\n";
  }
  out << ".SH COMMANDS\n";
  std::vector<std::string> environment;
  Walk(tool, {}, [&](const CommandHelp& command, const std::vector<OptionHelp>&) {
    for (const auto& option : command.options)
      if (!option.env.empty() &&
          std::find(environment.begin(), environment.end(), option.env) == environment.end())
        environment.push_back(option.env);
    if (command.path.empty()) return;
    out << ".SS " << Roff(command.path) << "\n"
        << Synopsis(command, program) << "\n"
        << ".PP\n"
        << Roff(command.description) << "\n";
    for (const auto& option : command.options) {
      if (IsHelpOrVersion(option)) continue;
      out << ".TP\n" << RoffOptionTerm(option) << "\n" << Roff(option.description);
      if (!option.choices.empty()) out << " (" << Roff(Join(option.choices, ", ")) << ")";
      if (!option.env.empty()) out << " Default: $" << option.env << ".";
      out << "\n";
    }
  });
  out << ".SH ENVIRONMENT\n";
  for (const auto& name : environment) {
    out << ".TP\n.B " << name << "\n";
    if (name == "MARKWIRE_DEVICE") {
      out << "The serial device of the commands that talk to a reader when \\fB\\-d\\fR is not "
             "given; \\fB\\-d\\fR wins over it. Empty counts as unset.\n";
    } else {
      out << "The default of the options that name it.\n";
    }
  }
  out << ".TP\n.B MARKWIRE_DATA_DIR\n"
      << "Where \\fBdemo\\fR looks for its sample card format, card.fmt, instead of the "
         "installed share/markwire.\n"
      << ".SH EXIT STATUS\n";
  for (const auto& status : kExitStatuses) {
    out << ".TP\n.B " << status.code << "\n" << Roff(status.meaning) << "\n";
  }
  out << ".SH SEE ALSO\n"
      << ".BR stty (1),\n"
      << ".BR udevadm (8),\n"
      << ".BR bash (1),\n"
      << ".BR zshcompsys (1)\n"
      << ".PP\n"
      << "The library's C interface: \\fBmarkwire.h\\fR.\n";
  return out.str();
}

}  // namespace markwire::cli
