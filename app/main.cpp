// talvo: neutron scattering and absorption cross-sections of a sample.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "app/driver.hpp"
#include "talvo/version.hpp"

namespace {

constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: talvo [--help | --version]\n"
    "Asks for the composition of one scattering unit (natural elements or isotopes, the atoms of\n"
    "each, the density) or reads it from a .sample file, and writes its neutron scattering and\n"
    "absorption cross-sections to the screen and to NAME.talvo; a typed composition is saved as\n"
    "NAME.sample. The data files are read from the folder named by G_F, else from the working\n"
    "folder or the folder TALVO was installed with. See talvo(1).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "-h")) {
      std::cout << kUsageText;
      return 0;
    }
    if (argc == 2 && arg == "--version") {
      std::cout << "talvo " << talvo::kVersion << '\n';
      return 0;
    }
    std::cerr << "talvo: unknown argument " << arg << "\n" << kUsageText;
    return kUsage;
  }
  // A full disk or a file-size limit must show as a failed write that the run
  // reports, not as a signal that kills it half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  talvo::Console con{std::cin, std::cout};
  const int status = talvo::run_talvo(con, talvo::program_data_folder(std::getenv("G_F"), talvo::executable_dir()));
  std::cout.flush();
  return status;
}
