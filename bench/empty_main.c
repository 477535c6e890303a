/* Does nothing but report how long it took to reach main after the launcher's exec: built twice,
 * against Qt Widgets' libraries and against all the Updater's, it shows what loading them costs. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const char* t0 = getenv("KORVANTA_BENCH_T0_NS");
  const double ms = t0 ? (now.tv_sec * 1e9 + now.tv_nsec - strtod(t0, NULL)) / 1e6 : -1;
  printf("ok main_ms=%.1f\n", ms);
  return 0;
}
