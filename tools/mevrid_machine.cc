// Placeholder entry of the machine tool; replaced by its command set.
#include <cstdio>
int main() {
  fprintf(stderr, "mevrid-machine: not built yet\n");
  return 2;
}
