/* The public interface used from a plain C99 program: start-up, variables,
 * node creation, references, collection, the exported kernel variables
 * and a few operators. Exits nonzero when any check fails. */
#include <stdio.h>
#include <stdlib.h>
#include <corvane/corvane.h>

static int failures = 0;
static int last_error = 0;
static int error_count = 0;

static void record_error(int code) {
  last_error = code;
  error_count++;
}

static void quiet_gbc(int pre, GbcStat *s) {
  (void)pre;
  (void)s;
}

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,     \
              __LINE__, #cond);                                  \
      failures++;                                                \
    }                                                            \
  } while (0)

/* Evaluates r under the assignment given as bits of `bits` (bit v is the
 * value of variable v), walking the nodes with the public accessors. */
static int eval(BDD r, unsigned bits) {
  while (r > 1) {
    int v = bdd_var(r);
    r = ((bits >> v) & 1u) ? bdd_high(r) : bdd_low(r);
  }
  return r;
}

int main(void) {
  int i;
  KernelStats ks;

  CHECK(bdd_init(1000, 100) == 0);
  bdd_error_hook(record_error);
  bdd_gbc_hook(quiet_gbc);

  CHECK(bdd_isrunning() == 1);
  CHECK(bddrunning == 1);
  CHECK(bddnodesize == 1009);
  CHECK(bddfreenum == 1007);
  CHECK(bddnodes != NULL);
  CHECK(bddtrue == 1 && bddfalse == 0);
  CHECK(bdd_true() == bddtrue && bdd_false() == bddfalse);
  CHECK(bdderrorcond == 0);

  CHECK(bdd_setvarnum(4) == 0);
  CHECK(bddvarnum == 4 && bdd_varnum() == 4);
  for (i = 0; i < 4; i++) {
    CHECK(bdd_ithvar(i) == 2 + 2 * i);
    CHECK(bdd_nithvar(i) == 3 + 2 * i);
    CHECK(bdd_var(bdd_ithvar(i)) == i);
    CHECK(bdd_low(bdd_ithvar(i)) == bddfalse && bdd_high(bdd_ithvar(i)) == bddtrue);
  }

  /* x0 & x1 built by hand: a second request finds the same node. */
  {
    int produced = bddproduced;
    BDD x1 = bdd_makenode(1, 0, 1);
    BDD f = bdd_makenode(0, 0, x1);
    CHECK(x1 == bdd_ithvar(1));
    CHECK(bddproduced == produced + 1);
    CHECK(bdd_makenode(0, 0, x1) == f);
    CHECK(bddproduced == produced + 1);
    CHECK(bdd_makenode(2, f, f) == f);
    CHECK(eval(f, 3u) == 1 && eval(f, 1u) == 0 && eval(f, 2u) == 0);

    /* Referenced, f survives a collection; released, it goes. */
    CHECK(bdd_addref(f) == f);
    bdd_gbc();
    CHECK(bdd_low(f) == bddfalse);
    CHECK(bdd_delref(f) == f);
    bdd_gbc();
    CHECK(bddnodesize - bddfreenum == 2 + 2 * 4);
    CHECK(bdd_getnodenum() == 2 + 2 * 4);
    CHECK(error_count == 0);
    CHECK(bdd_low(f) == BDD_ERR_ILLBDD);
    CHECK(last_error == BDD_ERR_ILLBDD);
  }

  /* A refused variable and a refused reference come back as codes. */
  error_count = 0;
  CHECK(bdd_ithvar(4) == bddfalse);
  CHECK(last_error == BDD_ERR_UNKNOWN_VAR);
  CHECK(bdd_delref(bddnodesize) == BDD_ERR_ILLBDD);
  CHECK(error_count == 2);

  /* The operators agree with a truth table. */
  {
    BDD a = bdd_apply(bdd_ithvar(0), bdd_ithvar(2), OP_XOR);
    unsigned bits;
    bdd_addref(a);
    for (bits = 0; bits < 16u; bits++)
      CHECK(eval(a, bits) == (int)(((bits >> 0) ^ (bits >> 2)) & 1u));
    CHECK(bdd_satcount(a) == 8.0);
    CHECK(bdd_satcount(bdd_apply(a, bdd_ithvar(3), OP_AND)) == 4.0);
    bdd_delref(a);
  }

  /* Bit vectors: a division of constants, and a sum that wraps. */
  {
    Bvec x = bvec_var(3, 0, 1), q = {0, NULL}, r = {0, NULL};
    Bvec six = bvec_con(3, 6), four = bvec_con(3, 4);
    Bvec sum = bvec_add(x, four);
    BDD lt;
    unsigned bits;
    CHECK(bvec_div(six, four, &q, &r) == 0);
    CHECK(bvec_isconst(q) && bvec_val(q) == 1 && bvec_val(r) == 2);
    /* x + 4 wraps exactly where x >= 4 */
    lt = bvec_lth(sum, x);
    for (bits = 0; bits < 8u; bits++) CHECK(eval(lt, bits) == (bits >= 4u));
    CHECK(bvec_divfixed(x, 0, &q, &r) == BVEC_ERR_DIVZERO && last_error == BVEC_ERR_DIVZERO);
    bvec_free(q);
    bvec_free(r);
    bvec_free(sum);
    bvec_free(six);
    bvec_free(four);
    bvec_free(x);
  }

  /* Finite domains: two of size 3 over the four variables, interleaved;
   * equality against their values, renaming one into the other. */
  {
    int sizes[2] = {3, 3};
    BDD eq;
    bddPair *p;
    unsigned bits;
    CHECK(fdd_extdomain(sizes, 2) == 0);
    CHECK(fdd_domainnum() == 2 && fdd_varnum(0) == 2 && fdd_vars(1)[1] == 3);
    eq = fdd_equals(0, 1);
    for (bits = 0; bits < 16u; bits++)
      CHECK(eval(eq, bits) == ((bits & 1u) + ((bits >> 1) & 2u) == ((bits >> 1) & 1u) + ((bits >> 2) & 2u)));
    CHECK(fdd_scanvar(fdd_ithvar(1, 2), 1) == 2);
    p = bdd_newpair();
    CHECK(fdd_setpair(p, 0, 1) == 0);
    CHECK(bdd_replace(fdd_ithvar(0, 1), p) == fdd_ithvar(1, 1));
    bdd_freepair(p);
    error_count = 0;
    CHECK(fdd_ithvar(0, 3) == bddfalse && last_error == BDD_ERR_RANGE && error_count == 1);
  }

  bdd_stats(&ks);
  CHECK(ks.nodesize == bddnodesize);
  CHECK(ks.varnum == 4);
  CHECK(ks.cachesize == 100);
  CHECK(ks.gbcollectnum >= 2);
  CHECK(bdd_errstring(BDD_ERR_NODENUM) != NULL);
  CHECK(bdd_versionnum() == 24);

  bdd_done();
  CHECK(bdd_isrunning() == 0);
  CHECK(bddnodes == NULL);

  if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures ? 1 : 0;
}
