#include <cstdio>
#include <cstring>

#include "KelvarinVersion.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kelvarin-cli %s\n", KELVARIN_VERSION);
    return 0;
  }
  return 2;
}
