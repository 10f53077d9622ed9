// Kernel hot paths: node creation that finds an existing node, node
// creation that takes a fresh slot, and garbage collection of a large table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include <corvane/corvane.h>

namespace {

void quiet_gbc(int, GbcStat *) {}
void ignore_error(int) {}

void start(int nodes, int vars) {
  if (bdd_isrunning()) bdd_done();
  bdd_init(nodes, 1000);
  bdd_error_hook(ignore_error);
  bdd_gbc_hook(quiet_gbc);
  bdd_setvarnum(vars);
}

struct Triple {
  unsigned level;
  int low, high;
};

// An ordered random graph: `levels` levels of `width` nodes each, every
// node's children drawn from the level below (the last level uses the
// variable nodes and constants). Returns the nodes level by level, bottom
// first.
std::vector<int> layered_graph(int levels, int width, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<int> below = {0, 1, bdd_ithvar(levels), bdd_nithvar(levels)};
  std::vector<int> all;
  all.reserve((size_t)levels * (size_t)width);
  for (int lev = levels - 1; lev >= 0; lev--) {
    std::vector<int> here;
    here.reserve((size_t)width);
    std::uniform_int_distribution<size_t> pick(0, below.size() - 1);
    while ((int)here.size() < width) {
      int lo = below[pick(rng)], hi = below[pick(rng)];
      if (lo == hi) continue;
      here.push_back(bdd_makenode((unsigned)lev, lo, hi));
    }
    all.insert(all.end(), here.begin(), here.end());
    below.swap(here);
  }
  return all;
}

// Every request finds its node: one hash and a short chain walk.
void BM_MakenodeHit(benchmark::State &state) {
  const int count = (int)state.range(0);
  start(count + count / 2, 101);
  std::vector<int> nodes = layered_graph(100, count / 100, 1);
  std::vector<Triple> triples;
  triples.reserve(nodes.size());
  for (int n : nodes) {
    const BddNode &b = bddnodes[n];
    unsigned level = (b.word2 >> 27) | ((b.word3 >> 27) << 5);
    triples.push_back({level, (int)(b.word2 & 0x07FFFFFF), (int)(b.word3 & 0x07FFFFFF)});
  }
  std::shuffle(triples.begin(), triples.end(), std::mt19937(2));
  size_t i = 0;
  for (auto _ : state) {
    const Triple &t = triples[i];
    benchmark::DoNotOptimize(bdd_makenode(t.level, t.low, t.high));
    if (++i == triples.size()) i = 0;
  }
  state.counters["nodes"] = (double)bdd_getnodenum();
  bdd_done();
}
BENCHMARK(BM_MakenodeHit)->Arg(1 << 20)->Arg(4 << 20)->Iterations(8 << 20);

// Every request misses and takes the head of the free list; the table is
// emptied by a collection (outside the timing) whenever it runs low.
void BM_MakenodeMiss(benchmark::State &state) {
  const int size = (int)state.range(0);
  start(size, 64);
  int prev = bdd_ithvar(63), prev2 = bdd_nithvar(63);
  unsigned k = 0;
  for (auto _ : state) {
    if (bddfreenum < 2) {
      state.PauseTiming();
      bdd_gbc();
      prev = bdd_ithvar(63);
      prev2 = bdd_nithvar(63);
      state.ResumeTiming();
    }
    int n = bdd_makenode(k++ % 63, prev, prev2);
    prev2 = prev;
    prev = n;
  }
  state.counters["tablesize"] = (double)bddnodesize;
  bdd_done();
}
BENCHMARK(BM_MakenodeMiss)->Arg(1 << 20)->Arg(4 << 20)->Iterations(8 << 20);

// One collection of a table holding about state.range(0) live nodes, a
// quarter of its slots free.
void BM_GarbageCollection(benchmark::State &state) {
  const int live = (int)state.range(0);
  start(live + live / 3, 201);
  std::vector<int> nodes = layered_graph(200, live / 200, 3);
  // Reference the top level; whatever it does not reach goes at the first
  // collection, after which every collection keeps the same nodes.
  for (size_t i = nodes.size() - (size_t)(live / 200); i < nodes.size(); i++) bdd_addref(nodes[i]);
  bdd_gbc();
  for (auto _ : state) bdd_gbc();
  state.counters["live"] = (double)bdd_getnodenum();
  state.counters["tablesize"] = (double)bddnodesize;
  bdd_done();
}
BENCHMARK(BM_GarbageCollection)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
