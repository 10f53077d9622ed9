/* Start-up cost: bdd_init with the macro benchmarks' sizes, two variables
 * and the first conjunction (which creates its cache), timed by the wall
 * clock in a fresh process, since first touches of fresh memory are most of
 * it.  Prints "startup: T ms (init I ms, first conjunction C ms)". */
#include <stdio.h>
#include <time.h>

#include <corvane/corvane.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

int main(void) {
  double t0 = now_ms();
  if (bdd_init(1000000, 100000) < 0) return 1;
  double t1 = now_ms();
  bdd_setvarnum(2);
  BDD r = bdd_and(bdd_ithvar(0), bdd_ithvar(1));
  double t2 = now_ms();
  if (r < 2) return 1;
  printf("startup: %.3f ms (init %.3f ms, first conjunction %.3f ms)\n", t2 - t0, t1 - t0, t2 - t1);
  bdd_done();
  return 0;
}
