/* The public interface used from a plain C99 program: every header's
 * types, functions and exported kernel variables must compile and link
 * from C. The behaviour itself is checked by the C++ suites; here a few
 * results show that the calls reach the engine. Exits nonzero when any
 * check fails. */
#include <stdio.h>
#include <stdlib.h>
#include <corvane/corvane.h>

static int failures = 0;
static int last_error = 0;

static void record_error(int code) { last_error = code; }

static void quiet_gbc(int pre, GbcStat *s) {
  (void)pre;
  (void)s;
}

#define CHECK(cond)                                                              \
  do {                                                                           \
    if (!(cond)) {                                                               \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);   \
      failures++;                                                                \
    }                                                                            \
  } while (0)

int main(void) {
  KernelStats ks;
  int sizes[2] = {3, 3};
  BDD f, a, eq;
  bddPair *p;
  Bvec six, four, q = {0, NULL}, r = {0, NULL};

  CHECK(bdd_init(1000, 100) == 0);
  bdd_error_hook(record_error);
  bdd_gbc_hook(quiet_gbc);
  CHECK(bdd_isrunning() == 1 && bddrunning == 1 && bddnodes != NULL && bdderrorcond == 0);
  CHECK(bddnodesize == 1009 && bddfreenum == 1007);
  CHECK(bdd_setvarnum(4) == 0 && bddvarnum == 4 && bdd_ithvar(3) == 8 && bdd_nithvar(3) == 9);

  /* x0 & x1 by hand: referenced it survives a collection, released it goes. */
  f = bdd_makenode(0, bddfalse, bdd_ithvar(1));
  CHECK(bddproduced == 9 && bdd_makenode(0, 0, bdd_ithvar(1)) == f && bdd_var(f) == 0);
  CHECK(bdd_addref(f) == f);
  bdd_gbc();
  CHECK(bdd_high(f) == bdd_ithvar(1) && bdd_delref(f) == f);
  bdd_gbc();
  CHECK(bdd_getnodenum() == 2 + 2 * 4 && bdd_low(f) == BDD_ERR_ILLBDD && last_error == BDD_ERR_ILLBDD);

  a = bdd_addref(bdd_apply(bdd_ithvar(0), bdd_ithvar(2), OP_XOR));
  CHECK(bdd_satcount(a) == 8.0 && bdd_satcount(bdd_apply(a, bdd_ithvar(3), OP_AND)) == 4.0);
  bdd_delref(a);

  six = bvec_con(3, 6);
  four = bvec_con(3, 4);
  CHECK(bvec_div(six, four, &q, &r) == 0 && bvec_isconst(q) && bvec_val(q) == 1 && bvec_val(r) == 2);
  CHECK(bvec_divfixed(six, 0, &q, &r) == BVEC_ERR_DIVZERO && last_error == BVEC_ERR_DIVZERO);
  bvec_free(q);
  bvec_free(r);
  bvec_free(six);
  bvec_free(four);

  CHECK(fdd_extdomain(sizes, 2) == 0 && fdd_domainnum() == 2 && fdd_vars(1)[1] == 3);
  eq = fdd_equals(0, 1);
  CHECK(bdd_satcountset(eq, fdd_makeset((int[]){0, 1}, 2)) == 4.0);
  p = bdd_newpair();
  CHECK(fdd_setpair(p, 0, 1) == 0 && bdd_replace(fdd_ithvar(0, 1), p) == fdd_ithvar(1, 1));
  bdd_freepair(p);
  CHECK(fdd_ithvar(0, 3) == bddfalse && last_error == BDD_ERR_RANGE);

  bdd_stats(&ks);
  CHECK(ks.nodesize == bddnodesize && ks.varnum == 4 && ks.cachesize == 100);
  CHECK(bdd_errstring(BDD_ERR_NODENUM) != NULL && bdd_versionnum() == 24);
  bdd_done();
  CHECK(bdd_isrunning() == 0 && bddnodes == NULL);

  if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures ? 1 : 0;
}
