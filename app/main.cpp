// talvo: neutron scattering and absorption cross-sections of a sample.
#include <poll.h>
#include <signal.h>

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

// True when a read of standard input would not wait: an answer is there, or
// the input is a file (or at its end).
bool reply_ready() {
  pollfd fd{0, POLLIN, 0};
  return poll(&fd, 1, 0) == 1 && (fd.revents & (POLLIN | POLLHUP)) != 0;
}

// The transcript is output like the report: when it could not be written
// in full (a full disk, a closed descriptor), the run says so and fails.
int finish(int status) {
  std::cout.flush();
  if (std::cout) return status;
  std::cerr << "talvo: cannot write the screen output: it is incomplete\n";
  return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "-h")) {
      std::cout << kUsageText;
      return finish(0);
    }
    if (argc == 2 && arg == "--version") {
      std::cout << "talvo " << talvo::kVersion << '\n';
      return finish(0);
    }
    std::cerr << "talvo: unknown argument " << arg << "\n" << kUsageText;
    return kUsage;
  }
  // A full disk or a file-size limit must show as a failed write that the run
  // reports, not as a signal that kills it half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) remove_pending_on(sig);
  // The streams keep their own buffers: a reply is read from a block of
  // input, not a character at a time, and the screen is written in large
  // pieces. A prompt is flushed before a read that would wait (read_reply),
  // so standard input need not flush the screen before every read.
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  talvo::Console con{std::cin, std::cout, reply_ready};
  const int status =
      talvo::run_talvo(con, talvo::program_data_folder(std::getenv("G_F"), talvo::executable_dir()), {&pending_files});
  return finish(status);
}
