// talvo: neutron scattering and absorption cross-sections of a sample.
#include <signal.h>

#include <csignal>
#include <iostream>

#include "app/driver.hpp"

namespace {

// The report or sample being written. A run ended by a signal leaves the
// previous files as they were and no temporary file behind.
talvo::PendingFiles pending_files;

extern "C" void remove_pending_and_stop(int sig) {
  pending_files.remove_all();
  // SA_RESETHAND has put back the default action: once this handler returns,
  // the signal ends the run as it would have without it.
  raise(sig);
}

void remove_pending_on(int sig) {
  struct sigaction old {};
  // A signal ignored from the start (nohup) stays ignored.
  if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction sa {};
  sa.sa_handler = remove_pending_and_stop;
  sa.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&sa.sa_mask);
  for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, other);
  sigaction(sig, &sa, nullptr);
}

}  // namespace

int main() {
  // A full disk or a file-size limit must show as a failed write that the run
  // reports, not as a signal that kills it half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) remove_pending_on(sig);
  talvo::Console con{std::cin, std::cout};
  const int status = talvo::run_talvo(con, talvo::setg_f(), {&pending_files});
  std::cout.flush();
  return status;
}
