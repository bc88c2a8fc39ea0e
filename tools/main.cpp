// talvo-tools: the command line onto the TALVO library.
//
// Every subcommand prints one result row per line, numbers separated by one
// blank, each the shortest text that reads back to the same value (in single
// precision where the library computes in single precision), comment lines
// beginning with "#". An error of a routine or unusable input data prints its
// message on standard error and exits 1 (a warning prints its message, then
// the values, and exits 0); wrong usage exits 2. Output that cannot be
// written (a full disk, a closed device) or memory that runs out ends any
// subcommand with the reason and exit 1.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

#include "talvo/text/quote.hpp"
#include "talvo/version.hpp"
#include "tools/commands.hpp"

namespace {

using talvo::cli::Subcommand;

const Subcommand* const kCommands[] = {
    &talvo::cli::kFoqCommand,         &talvo::cli::kElementCommand, &talvo::cli::kDensityCommand,
    &talvo::cli::kXrdmlCommand,       &talvo::cli::kMoqCommand,     &talvo::cli::kFilonCommand,
    &talvo::cli::kPeakCommand,        &talvo::cli::kSq2grCommand,   &talvo::cli::kXsCommand,
    &talvo::cli::kXrayAverageCommand, &talvo::cli::kXrayCommand,    &talvo::cli::kComptonCommand,
    &talvo::cli::kPdfCommand,         &talvo::cli::kNcorrCommand,
    &talvo::cli::kModelCommand,       &talvo::cli::kRefineCommand,
};

std::string help() {
  std::string s = "usage: talvo-tools SUBCOMMAND [ARGS]\nsubcommands:\n";
  std::size_t widest = 0;
  for (const Subcommand* c : kCommands) widest = std::max(widest, std::string_view(c->name).size());
  for (const Subcommand* c : kCommands) {
    std::string name = c->name;
    name.resize(widest + 2, ' ');  // every summary in one column
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

namespace {
int run(int argc, char** argv);
}  // namespace

int main(int argc, char** argv) {
  // A file grown past the size limit (ulimit -f) is a write that fails with
  // its reason, EFBIG, "File too large", not a signal that kills the command
  // with its output cut and nothing said.
  std::signal(SIGXFSZ, SIG_IGN);
  // Rows go out through std::cout alone: it needs no step with C's stdio.
  std::ios::sync_with_stdio(false);
  // Every subcommand writes through this one buffer, so that one check here
  // catches output that could not be written, whichever command wrote it.
  talvo::cli::OutputBuffer output(STDOUT_FILENO);
  std::streambuf* const previous = std::cout.rdbuf(&output);
  int status = run(argc, argv);
  std::cout.flush();
  std::cout.rdbuf(previous);
  if (output.error() != 0) {
    std::cerr << "talvo-tools: cannot write output: " << std::strerror(output.error()) << '\n';
    if (status == 0) status = 1;
  }
  return status;
}

namespace {

int run(int argc, char** argv) {
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
    std::cerr << (sub.empty() ? "" : "unknown subcommand: " + talvo::quote_for_message(sub) + "\n") << help();
    return talvo::cli::kUsage;
  }
  try {
    talvo::Result<talvo::cli::Args> a = talvo::cli::parse(argc, argv, 2, command->flags, command->options);
    if (!a.ok()) {
      talvo::cli::Args named;
      named.command = sub;
      return talvo::cli::usage(named, a.error());
    }
    a->command = sub;
    if (a->flag("--help")) {
      std::cout << command->help;
      return 0;
    }
    return command->run(*a);
  } catch (const std::bad_alloc&) {
    std::cerr << "talvo-tools " << sub << ": out of memory\n";
    return 1;
  }
}

}  // namespace
