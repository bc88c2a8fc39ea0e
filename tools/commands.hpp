// The subcommands of talvo-tools, one library area each.
#pragma once

#include "tools/cli.hpp"

namespace talvo::cli {

extern const Subcommand kFoqCommand;
extern const Subcommand kElementCommand;
extern const Subcommand kXrayAverageCommand;
extern const Subcommand kXrayCommand;
extern const Subcommand kComptonCommand;
extern const Subcommand kDensityCommand;
extern const Subcommand kXrdmlCommand;
extern const Subcommand kMoqCommand;
extern const Subcommand kFilonCommand;
extern const Subcommand kXsCommand;
extern const Subcommand kPeakCommand;
extern const Subcommand kSq2grCommand;
extern const Subcommand kPdfCommand;
extern const Subcommand kNcorrCommand;
extern const Subcommand kModelCommand;
extern const Subcommand kRefineCommand;

// pdf --radiation neutron (neutron_pdf_commands.cpp): its run, and the names
// of its options that take a value, which pdf's arguments admit beside its own.
int run_neutron_pdf(const Args& a);
// True when the file at `path` holds a "radiation = neutron" setting (a neutron reduction's header).
bool names_neutron_settings(const std::string& path);
std::vector<std::string> neutron_pdf_value_options();

}  // namespace talvo::cli
