#include <cstdio>

int main(int argc, char** argv) {
  std::fprintf(stderr, "brova: nothing to run yet\n");
  return 0;
}
