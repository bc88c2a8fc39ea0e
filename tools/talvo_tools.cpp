// talvo-tools: the command line onto the TALVO library.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("talvo-tools %s\n", TALVO_VERSION);
    return 0;
  }
  std::fprintf(stderr, "usage: talvo-tools --version\n");
  return 2;
}
