// Finite domains at work: the transitive closure of a random graph with
// 2^k vertices and as many edges (average out-degree one), as a fixed
// point of relational products over three domains (source, middle,
// destination) declared one after another.  Every timed iteration starts
// from a fresh engine with the edge relation built (untimed), so caches
// and table size do not carry over from the previous one.
#include <benchmark/benchmark.h>

#include <random>

#include <corvane/corvane.h>

namespace {

struct Closure {
  BDD relation;
  int rounds;
};

// Starts the engine, declares the domains and builds the edge relation of
// a random graph; returns it referenced.
BDD setup(int k, int *S, int *M, int *D) {
  bdd_init(1000000, 100000);
  bdd_gbc_hook(nullptr);
  bdd_setcacheratio(4);
  int n = 1 << k;
  *S = fdd_extdomain(&n, 1);
  *M = fdd_extdomain(&n, 1);
  *D = fdd_extdomain(&n, 1);
  std::mt19937 rng((unsigned)k);
  std::uniform_int_distribution<int> vertex(0, n - 1);
  BDD edges = bdd_addref(bddfalse);
  for (int e = 0; e < n; e++) {
    BDD c = bdd_addref(bdd_and(fdd_ithvar(*S, vertex(rng)), fdd_ithvar(*D, vertex(rng))));
    BDD t = bdd_addref(bdd_or(edges, c));
    bdd_delref(c);
    bdd_delref(edges);
    edges = t;
  }
  return edges;
}

// Rounds join the pairs found last with the edges until none is new.
Closure closure(BDD edges, int S, int M, int D) {
  bddPair *s_to_m = bdd_newpair(), *d_to_m = bdd_newpair();
  fdd_setpair(s_to_m, S, M);
  fdd_setpair(d_to_m, D, M);
  BDD from_m = bdd_addref(bdd_replace(edges, s_to_m));
  BDD all = bdd_addref(edges), fresh = bdd_addref(edges);
  int rounds = 0;
  while (fresh != bddfalse) {
    rounds++;
    BDD ends = bdd_addref(bdd_replace(fresh, d_to_m));
    BDD longer = bdd_addref(bdd_appex(ends, from_m, OP_AND, fdd_ithset(M)));
    BDD f = bdd_addref(bdd_apply(longer, all, OP_DIFF));
    BDD a = bdd_addref(bdd_or(all, f));
    for (BDD b : {ends, longer, fresh, all}) bdd_delref(b);
    fresh = f;
    all = a;
  }
  bdd_delref(from_m);
  bdd_freepair(s_to_m);
  bdd_freepair(d_to_m);
  return {all, rounds};
}

void BM_TransitiveClosure(benchmark::State &state) {
  const int k = (int)state.range(0);
  int nodes = 0, rounds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    int S, M, D;
    BDD edges = setup(k, &S, &M, &D);
    state.ResumeTiming();
    Closure c = closure(edges, S, M, D);
    state.PauseTiming();
    nodes = bdd_nodecount(c.relation);
    rounds = c.rounds;
    bdd_delref(c.relation);
    bdd_delref(edges);
    bdd_done();
    state.ResumeTiming();
  }
  state.counters["closure_nodes"] = (double)nodes;
  state.counters["fixpoint_iterations"] = (double)rounds;
}
BENCHMARK(BM_TransitiveClosure)->DenseRange(10, 16)->Unit(benchmark::kMillisecond);

}  // namespace
