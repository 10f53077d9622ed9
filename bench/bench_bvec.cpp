// Bit-vector multiplication: the n x n multiplier built with bvec_mul, its
// operands interleaved bit by bit.  The middle output bit of a multiplier
// grows exponentially in every variable order, so n = 8 to 14 walks from
// a few thousand nodes to millions; its size is reported as a counter.
// Each iteration starts from a collected table and empty caches.
#include <benchmark/benchmark.h>

#include <corvane/corvane.h>

namespace {

constexpr int kMaxBits = 14;

void engine() {
  static bool started = false;
  if (started) return;
  started = true;
  // The largest multiplier needs millions of nodes: starting big saves
  // the early growth steps, and the caches follow the table at one entry
  // per four nodes.
  bdd_init(4000000, 1000000);
  bdd_gbc_hook(nullptr);
  bdd_setcacheratio(4);
  bdd_setvarnum(2 * kMaxBits);
}

void BM_Multiplier(benchmark::State &state) {
  engine();
  const int n = (int)state.range(0);
  int middle = 0, all = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bdd_gbc();
    Bvec x = bvec_var(n, 0, 2), y = bvec_var(n, 1, 2);
    state.ResumeTiming();
    Bvec p = bvec_mul(x, y);
    benchmark::DoNotOptimize(p.bits);
    state.PauseTiming();
    middle = bdd_nodecount(p.bits[n - 1]);
    all = bdd_anodecount(p.bits, p.nbits);
    bvec_free(p);
    bvec_free(x);
    bvec_free(y);
    state.ResumeTiming();
  }
  state.counters["middle_bit_nodes"] = middle;
  state.counters["product_nodes"] = all;
  state.counters["table_size"] = bdd_getallocnum();
}
BENCHMARK(BM_Multiplier)->DenseRange(8, kMaxBits)->Unit(benchmark::kMillisecond);

}  // namespace
