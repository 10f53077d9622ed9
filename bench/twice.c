/* Start-up cost against warm cost: builds every output of a netlist twice
 * (and a third time) in one process on one engine (bdd_init(1000000, 100000), the caches at
 * ratio 4 as the circuit example runs them) and prints both CPU times.
 * The first build pays for whatever the fresh engine has yet to touch;
 * the later ones repeat the same operations with the nodes freed and the
 * caches emptied in between (the third on memory the engine has surely
 * touched before).
 *   cc -O2 -I<build>/include -I<src>/examples bench/twice.c -L<build> -lcorvane
 *   ./twice file.bench [file.bench ...]
 * prints "file: first F ms, second S ms, third T ms, first/third R" per netlist, each
 * netlist on an engine of its own. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <corvane/corvane.h>
#include "netlist.h"

static double cpu_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static BDD gate(int type, int n, const BDD *in) {
  int op = OP_AND, last = OP_AND, i;
  switch (type) {
    case NL_AND: break;
    case NL_NAND: last = OP_NAND; break;
    case NL_OR: op = last = OP_OR; break;
    case NL_NOR: op = OP_OR; last = OP_NOR; break;
    case NL_XOR: op = last = OP_XOR; break;
    case NL_XNOR: op = OP_XOR; last = OP_BIIMP; break;
    case NL_NOT: return bdd_addref(bdd_not(in[0]));
    default: return bdd_addref(in[0]);
  }
  if (n == 1) return bdd_addref(op == last ? in[0] : bdd_not(in[0]));
  BDD acc = bdd_addref(in[0]);
  for (i = 1; i < n; i++) {
    BDD next = bdd_addref(bdd_apply(acc, in[i], i == n - 1 ? last : op));
    bdd_delref(acc);
    acc = next;
  }
  return acc;
}

/* Builds every output, in file order of the gates, and drops them all;
 * returns the CPU milliseconds taken and the outputs' total node count
 * (the same for every build: a check that each did the same work). */
static double build(const netlist *nl, long *sum) {
  BDD *val = (BDD *)calloc((size_t)nl->nsigs, sizeof(BDD));
  BDD args[64];
  int i, k;
  double t0 = cpu_ms();
  for (k = 0; k < nl->ninputs; k++) val[nl->inputs[k]] = bdd_ithvar(k);
  for (i = 0; i < nl->norder; i++) {
    const nl_signal *g = &nl->sigs[nl->order[i]];
    int n = g->nfanin < 64 ? g->nfanin : 64;
    for (k = 0; k < n; k++) args[k] = val[g->fanin[k]];
    val[nl->order[i]] = gate(g->type, n, args);
  }
  double t = cpu_ms() - t0;
  *sum = 0;
  for (i = 0; i < nl->noutputs; i++) *sum += bdd_nodecount(val[nl->outputs[i]]);
  for (i = 0; i < nl->norder; i++) bdd_delref(val[nl->order[i]]);
  free(val);
  return t;
}

int main(int argc, char **argv) {
  int a;
  for (a = 1; a < argc; a++) {
    netlist nl;
    long s1, s2;
    if (nl_read(&nl, argv[a]) < 0) {
      fprintf(stderr, "%s\n", nl.error);
      nl_free(&nl);
      return 1;
    }
    if (bdd_init(1000000, 100000) < 0) return 1;
    bdd_gbc_hook(NULL);
    bdd_setcacheratio(4);
    bdd_setvarnum(nl.ninputs > 0 ? nl.ninputs : 1);
    double first = build(&nl, &s1);
    bdd_gbc();
    double second = build(&nl, &s2);
    bdd_gbc();
    long s3;
    double third = build(&nl, &s3);
    printf("%s: first %.3f ms, second %.3f ms, third %.3f ms, first/third %.2f%s\n", argv[a],
           first, second, third, first / third, s1 == s2 && s2 == s3 ? "" : " (results differ)");
    bdd_done();
    nl_free(&nl);
  }
  return 0;
}
