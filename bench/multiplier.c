/* The n x n multiplier of bvec_mul once, operands interleaved bit by bit,
 * with the engine settings of bench_bvec: a deterministic single run for
 * instruction counting (a Google Benchmark loop repeats it a time-dependent
 * number of times).  Prints "multiplier N: M middle-bit nodes, P product
 * nodes". */
#include <stdio.h>
#include <stdlib.h>

#include <corvane/corvane.h>

int main(int argc, char **argv) {
  int n = argc > 1 ? atoi(argv[1]) : 11;
  if (n < 1 || n > 20) {
    fprintf(stderr, "usage: multiplier [N], 1 <= N <= 20\n");
    return 2;
  }
  if (bdd_init(4000000, 1000000) < 0) return 1;
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(4);
  bdd_setvarnum(2 * n);
  Bvec x = bvec_var(n, 0, 2), y = bvec_var(n, 1, 2);
  Bvec p = bvec_mul(x, y);
  if (p.bits == NULL) return 1;
  printf("multiplier %d: %d middle-bit nodes, %d product nodes\n", n, bdd_nodecount(p.bits[n - 1]),
         bdd_anodecount(p.bits, p.nbits));
  bvec_free(p);
  bvec_free(x);
  bvec_free(y);
  bdd_done();
  return 0;
}
