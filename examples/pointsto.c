/* Inclusion-based points-to analysis over finite domains, evaluated
 * semi-naively: the C twin of examples/java/PointsTo.java (same generated
 * program, same relations, same rounds), so the two can be timed against
 * each other.
 *
 *   build/examples/pointsto 12      # 2^12 program variables
 */
#include <corvane/corvane.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static uint64_t rng_state = 42;

/* splitmix64, as in the Java version. */
static int below(int n) {
  rng_state += 0x9E3779B97F4A7C15ULL;
  uint64_t z = rng_state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return (int)(z % (uint64_t)n);
}

enum { FD, V1, V2, H1, H2 };

/* A referenced result; the argument references are the caller's. */
static BDD keep(BDD r) { return bdd_addref(r); }
static void drop(BDD r) { bdd_delref(r); }

/* The relation of n tuples of `arity` values over the listed domains. */
static BDD relation(const int *tuples, int n, int arity, const int *doms) {
  BDD r = keep(bddfalse);
  for (int i = 0; i < n; i++) {
    BDD c = keep(bddtrue);
    for (int k = 0; k < arity; k++) {
      BDD t = keep(bdd_apply(c, fdd_ithvar(doms[k], tuples[i * arity + k]), OP_AND));
      drop(c);
      c = t;
    }
    BDD t = keep(bdd_apply(r, c, OP_OR));
    drop(r), drop(c);
    r = t;
  }
  return r;
}

static BDD rename_dom(BDD b, int from, int to) {
  bddPair *p = bdd_newpair();
  fdd_setpair(p, from, to);
  BDD r = keep(bdd_replace(b, p));
  bdd_freepair(p);
  return r;
}

/* rel joined with x, the listed domains quantified. */
static BDD join(BDD rel, BDD x, int d1, int d2) {
  int doms[2] = {d1, d2};
  BDD set = keep(fdd_makeset(doms, d2 < 0 ? 1 : 2));
  BDD r = keep(bdd_appex(rel, x, OP_AND, set));
  drop(set);
  return r;
}

static BDD or_drop(BDD a, BDD b) {
  BDD r = keep(bdd_apply(a, b, OP_OR));
  drop(a), drop(b);
  return r;
}

int main(int argc, char **argv) {
  int log = argc > 1 ? atoi(argv[1]) : 12;
  if (log < 4 || log > 16) {
    fprintf(stderr, "usage: pointsto LOG2_VARIABLES   (4 <= LOG2_VARIABLES <= 16)\n");
    return 2;
  }
  int vars = 1 << log, heap = vars / 4, fields = 4;
  int nalloc = vars / 2, ncopy = vars * 3 / 4, nload = vars / 6, nstore = vars / 6;
  int *alloc = malloc(sizeof(int) * 2 * nalloc), *copy = malloc(sizeof(int) * 2 * ncopy);
  int *load = malloc(sizeof(int) * 3 * nload), *store = malloc(sizeof(int) * 3 * nstore);
  for (int i = 0; i < nalloc; i++) alloc[2 * i] = below(vars), alloc[2 * i + 1] = below(heap);
  for (int i = 0; i < ncopy; i++) copy[2 * i] = below(vars), copy[2 * i + 1] = below(vars);
  for (int i = 0; i < nload; i++)
    load[3 * i] = below(vars), load[3 * i + 1] = below(vars), load[3 * i + 2] = below(fields);
  for (int i = 0; i < nstore; i++)
    store[3 * i] = below(vars), store[3 * i + 1] = below(fields), store[3 * i + 2] = below(vars);

  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  clock_t c0 = clock();
  bdd_init(1000000, 100000);
  bdd_gbc_hook(NULL);
  bdd_setcacheratio(8);
  int sizes[5] = {fields, vars, vars, heap, heap};
  fdd_extdomain(sizes, 1);
  fdd_extdomain(sizes + 1, 2);
  fdd_extdomain(sizes + 3, 2);

  const int d_alloc[2] = {V1, H1}, d_copy[2] = {V1, V2}, d_load[3] = {V1, V2, FD}, d_store[3] = {V1, FD, V2};
  BDD assign = relation(copy, ncopy, 2, d_copy);
  BDD loads = relation(load, nload, 3, d_load);
  BDD stores = relation(store, nstore, 3, d_store);
  BDD pt = relation(alloc, nalloc, 2, d_alloc);
  BDD hpt = keep(bddfalse);
  BDD dpt = keep(pt), dhpt = keep(bddfalse);
  int rounds = 0;
  while (dpt != bddfalse || dhpt != bddfalse) {
    rounds++;
    BDD ptv2 = rename_dom(pt, V1, V2), dptv2 = rename_dom(dpt, V1, V2);
    BDD newpt = join(assign, dptv2, V2, -1);
    BDD ptv2h2 = rename_dom(ptv2, H1, H2), dptv2h2 = rename_dom(dptv2, H1, H2);
    BDD a = join(stores, dpt, V1, -1), b = join(stores, pt, V1, -1);
    BDD newhpt = or_drop(join(a, ptv2h2, V2, -1), join(b, dptv2h2, V2, -1));
    drop(a), drop(b);
    a = join(loads, dptv2, V2, -1), b = join(loads, ptv2, V2, -1);
    BDD viaload = or_drop(join(a, hpt, FD, H1), join(b, dhpt, FD, H1));
    drop(a), drop(b);
    newpt = or_drop(newpt, rename_dom(viaload, H2, H1));
    drop(viaload);
    BDD nextpt = keep(bdd_apply(newpt, pt, OP_DIFF)), nexthpt = keep(bdd_apply(newhpt, hpt, OP_DIFF));
    pt = or_drop(pt, keep(nextpt));
    hpt = or_drop(hpt, keep(nexthpt));
    drop(dpt), drop(dhpt);
    dpt = nextpt, dhpt = nexthpt;
    drop(ptv2), drop(dptv2), drop(ptv2h2), drop(dptv2h2), drop(newpt), drop(newhpt);
  }
  clock_gettime(CLOCK_MONOTONIC, &t1);
  double seconds = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
  int doms[2] = {V1, H1};
  BDD set = keep(fdd_makeset(doms, 2));
  printf("program: %d variables, %d allocation sites, %d fields\n", vars, heap, fields);
  printf("BDD solver: %.0f points-to pairs in %d semi-naive rounds, %.3f s (cpu %.3f s; pt: %d nodes, hpt: %d nodes)\n",
         bdd_satcountset(pt, set), rounds, seconds, (double)(clock() - c0) / CLOCKS_PER_SEC, bdd_nodecount(pt),
         bdd_nodecount(hpt));
  bdd_done();
  free(alloc), free(copy), free(load), free(store);
  return 0;
}
