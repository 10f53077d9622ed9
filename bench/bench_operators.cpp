// Operator throughput: apply building growing random functions, the
// relational product of an image step, renaming, and model counting.
// Caches are emptied before every timed iteration so that each one does
// the full work instead of answering from the previous iteration.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <corvane/corvane.h>

namespace {

constexpr int kBits = 24;  // state bits; current/next interleaved
constexpr int kVars = 2 * kBits;

void engine() {
  static bool started = false;
  if (started) return;
  started = true;
  bdd_init(1000000, 100000);
  bdd_gbc_hook(nullptr);
  bdd_setcacheratio(4);
  bdd_setvarnum(kVars);
}

int cur(int i) { return 2 * i; }
int nxt(int i) { return 2 * i + 1; }

// A random disjunction of k cubes of 6 to 12 literals over the current
// state variables, built with conjunction and disjunction.
BDD random_dnf(std::mt19937 &rng, int k) {
  BDD f = bdd_addref(bddfalse);
  std::uniform_int_distribution<int> bit(0, kBits - 1), len(6, 12), coin(0, 1);
  for (int c = 0; c < k; c++) {
    BDD cube = bdd_addref(bddtrue);
    for (int l = len(rng); l > 0; l--) {
      int v = cur(bit(rng));
      BDD t = bdd_addref(bdd_and(cube, coin(rng) ? bdd_ithvar(v) : bdd_nithvar(v)));
      bdd_delref(cube);
      cube = t;
    }
    BDD t = bdd_addref(bdd_or(f, cube));
    bdd_delref(f);
    bdd_delref(cube);
    f = t;
  }
  return f;
}

// Transition relation of a kBits-bit binary counter: x' = x + 1.
BDD counter_relation() {
  BDD t = bdd_addref(bddtrue), carry = bdd_addref(bddtrue);
  for (int i = 0; i < kBits; i++) {
    BDD sum = bdd_addref(bdd_xor(bdd_ithvar(cur(i)), carry));
    BDD eq = bdd_addref(bdd_biimp(bdd_ithvar(nxt(i)), sum));
    BDD nt = bdd_addref(bdd_and(t, eq));
    BDD nc = bdd_addref(bdd_and(carry, bdd_ithvar(cur(i))));
    for (BDD b : {t, carry, sum, eq}) bdd_delref(b);
    t = nt;
    carry = nc;
  }
  bdd_delref(carry);
  return t;
}

BDD current_set() {
  std::vector<int> v;
  for (int i = 0; i < kBits; i++) v.push_back(cur(i));
  return bdd_addref(bdd_makeset(v.data(), (int)v.size()));
}

void BM_ApplyRandomFunctions(benchmark::State &state) {
  engine();
  int k = (int)state.range(0);
  size_t nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bdd_clear_error();  // empties the operator caches
    std::mt19937 rng(7);
    state.ResumeTiming();
    BDD f = random_dnf(rng, k);
    BDD g = random_dnf(rng, k);
    BDD h = bdd_addref(bdd_xor(f, g));
    benchmark::DoNotOptimize(h);
    state.PauseTiming();
    nodes = (size_t)bdd_nodecount(h);
    for (BDD b : {f, g, h}) bdd_delref(b);
    state.ResumeTiming();
  }
  state.counters["result_nodes"] = (double)nodes;
}
BENCHMARK(BM_ApplyRandomFunctions)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_RelationalProduct(benchmark::State &state) {
  engine();
  BDD t = counter_relation();
  BDD set = current_set();
  std::mt19937 rng(11);
  BDD s = random_dnf(rng, (int)state.range(0));
  size_t nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bdd_clear_error();  // empties the operator caches
    state.ResumeTiming();
    BDD img = bdd_appex(s, t, OP_AND, set);
    benchmark::DoNotOptimize(img);
    state.PauseTiming();
    nodes = (size_t)bdd_nodecount(img);
    state.ResumeTiming();
  }
  state.counters["image_nodes"] = (double)nodes;
  for (BDD b : {t, set, s}) bdd_delref(b);
}
BENCHMARK(BM_RelationalProduct)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_ReplaceCurrentToNext(benchmark::State &state) {
  engine();
  std::mt19937 rng(13);
  BDD s = random_dnf(rng, (int)state.range(0));
  bddPair *p = bdd_newpair();
  for (int i = 0; i < kBits; i++) bdd_setpair(p, cur(i), nxt(i));
  for (auto _ : state) {
    state.PauseTiming();
    bdd_clear_error();  // empties the operator caches
    state.ResumeTiming();
    benchmark::DoNotOptimize(bdd_replace(s, p));
  }
  state.counters["input_nodes"] = (double)bdd_nodecount(s);
  bdd_freepair(p);
  bdd_delref(s);
}
BENCHMARK(BM_ReplaceCurrentToNext)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_SatCount(benchmark::State &state) {
  engine();
  std::mt19937 rng(17);
  BDD s = random_dnf(rng, (int)state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    bdd_clear_error();  // empties the operator caches
    state.ResumeTiming();
    benchmark::DoNotOptimize(bdd_satcount(s));
  }
  state.counters["input_nodes"] = (double)bdd_nodecount(s);
  bdd_delref(s);
}
BENCHMARK(BM_SatCount)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);

}  // namespace
