// talvo: neutron scattering and absorption cross-sections of a sample.
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "app/driver.hpp"

int main() {
  // A full disk or a file-size limit must show as a failed write that the run
  // reports, not as a signal that kills it half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  talvo::Console con{std::cin, std::cout};
  const int status = talvo::run_talvo(con, talvo::program_data_folder(std::getenv("G_F"), talvo::executable_dir()));
  std::cout.flush();
  return status;
}
