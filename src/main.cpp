#include <cstring>

#include "app/root.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--open") == 0) return run_forward(argc, argv);
  return run_normal(argc, argv);
}
