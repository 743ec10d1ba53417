#include <cstdio>

int main(int, char**) {
  std::puts("usage: qvf COMMAND CABINET [ARGS]");
  return 0;
}
