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

}  // namespace talvo::cli
