// talvo-tools: the command line onto the TALVO library.
//
// Every subcommand prints one result row per line, numbers separated by one
// blank, each the shortest text that reads back to the same value (in single
// precision where the library computes in single precision), comment lines
// beginning with "#". An error of a routine or unusable input data prints its
// message on standard error and exits 1 (a warning prints its message, then
// the values, and exits 0); wrong usage exits 2.
#include <iostream>
#include <string>

#include "talvo/version.hpp"
#include "tools/commands.hpp"

namespace {

using talvo::cli::Subcommand;

const Subcommand* const kCommands[] = {
    &talvo::cli::kFoqCommand,         &talvo::cli::kElementCommand, &talvo::cli::kDensityCommand,
    &talvo::cli::kXrdmlCommand,       &talvo::cli::kMoqCommand,     &talvo::cli::kFilonCommand,
    &talvo::cli::kPeakCommand,        &talvo::cli::kSq2grCommand,   &talvo::cli::kXsCommand,
    &talvo::cli::kXrayAverageCommand,
};

std::string help() {
  std::string s = "usage: talvo-tools SUBCOMMAND [ARGS]\nsubcommands:\n";
  for (const Subcommand* c : kCommands) {
    std::string name = c->name;
    name.resize(std::max<std::size_t>(name.size() + 1, 10), ' ');
    s += "  " + name + c->summary + "\n";
  }
  s += "options: --help (also after a subcommand), --version\n";
  s += "Numbers print as the shortest text that reads back to the same value: in single precision for\n"
       "values computed in single precision (24.40697, not 24.40696907043457), else in double.\n"
       "xs prints 6 significant digits in its plain and CSV output (--digits N for more), and JSON\n"
       "as the shortest text that reads back.\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  // Rows go out through std::cout alone: it needs no step with C's stdio.
  std::ios::sync_with_stdio(false);
  const std::string sub = argc > 1 ? argv[1] : "";
  if (sub == "--version") {
    std::cout << "talvo-tools " << talvo::kVersion << '\n';
    return 0;
  }
  if (sub == "--help" || sub == "-h") {
    std::cout << help();
    return 0;
  }
  const Subcommand* command = nullptr;
  for (const Subcommand* c : kCommands)
    if (sub == c->name) command = c;
  if (!command) {
    std::cerr << (sub.empty() ? "" : "unknown subcommand: " + sub + "\n") << help();
    return talvo::cli::kUsage;
  }
  try {
    const talvo::cli::Args a = talvo::cli::parse(argc, argv, 2, command->flags, command->options);
    if (a.flag("--help")) {
      std::cout << command->help;
      return 0;
    }
    return command->run(a);
  } catch (const talvo::cli::UsageError& e) {
    std::cerr << "talvo-tools " << sub << ": " << e.text << '\n' << command->help;
    return talvo::cli::kUsage;
  } catch (const talvo::cli::InputError& e) {
    std::cerr << "talvo-tools " << sub << ": " << e.text << '\n';
    return 1;
  }
}
