// talvo: neutron scattering and absorption cross-sections of a sample.
#include <iostream>

#include "app/driver.hpp"

int main() {
  talvo::Console con{std::cin, std::cout};
  const int status = talvo::run_talvo(con, talvo::setg_f());
  std::cout.flush();
  return status;
}
