/* Starts a program with the launch time in its environment, so that it can tell how long its own
 * start-up took from the moment of exec: launch <program> [arguments...] */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <program> [arguments...]\n", argv[0]);
    return 2;
  }
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  char t0[32];
  snprintf(t0, sizeof t0, "%lld", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
  setenv("KORVANTA_BENCH_T0_NS", t0, 1);
  execvp(argv[1], argv + 1);
  perror("exec");
  return 127;
}
