// Reordering benchmarks: sifting the ISCAS-85 circuits from a poor initial
// order (inputs in reverse file order), and the raw throughput of level
// exchanges.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <corvane/corvane.h>

namespace {

// ---- a tiny .bench reader ---------------------------------------------------

struct Gate {
  std::string op;
  std::vector<std::string> in;
};

struct Circuit {
  std::vector<std::string> inputs, outputs;
  std::map<std::string, Gate> gates;
  bool ok = false;
};

std::string trim(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

Circuit read_bench(const std::string &path) {
  Circuit c;
  std::ifstream f(path);
  if (!f) return c;
  std::string line;
  while (std::getline(f, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;
    size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return c;
    std::string args = line.substr(open + 1, close - open - 1);
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      std::string kw = trim(line.substr(0, open));
      if (kw == "INPUT") c.inputs.push_back(trim(args));
      else if (kw == "OUTPUT") c.outputs.push_back(trim(args));
      else return c;
      continue;
    }
    Gate g;
    g.op = trim(line.substr(eq + 1, open - eq - 1));
    size_t p = 0;
    while (p <= args.size()) {
      size_t q = args.find(',', p);
      if (q == std::string::npos) q = args.size();
      g.in.push_back(trim(args.substr(p, q - p)));
      p = q + 1;
    }
    c.gates[trim(line.substr(0, eq))] = g;
  }
  c.ok = true;
  return c;
}

// Builds every output; inputs get variables in reverse file order. Returns
// the referenced output BDDs.
struct Builder {
  const Circuit &c;
  std::map<std::string, BDD> done;

  BDD signal(const std::string &name) {
    auto it = done.find(name);
    if (it != done.end()) return it->second;
    const Gate &g = c.gates.at(name);
    std::vector<BDD> in;
    for (const std::string &s : g.in) in.push_back(signal(s));
    BDD r;
    if (g.op == "NOT") {
      r = bdd_not(in[0]);
    } else if (g.op == "BUFF") {
      r = in[0];
    } else {
      int op = OP_AND;
      bool neg = false;
      if (g.op == "AND") op = OP_AND;
      else if (g.op == "NAND") op = OP_AND, neg = true;
      else if (g.op == "OR") op = OP_OR;
      else if (g.op == "NOR") op = OP_OR, neg = true;
      else if (g.op == "XOR") op = OP_XOR;
      else if (g.op == "XNOR") op = OP_XOR, neg = true;
      r = bdd_addref(in[0]);
      for (size_t k = 1; k < in.size(); k++) {
        BDD t = bdd_addref(bdd_apply(r, in[k], op));
        bdd_delref(r);
        r = t;
      }
      if (neg) {
        BDD t = bdd_addref(bdd_not(r));
        bdd_delref(r);
        r = t;
      }
      bdd_delref(r);
    }
    done[name] = bdd_addref(r);
    return r;
  }

  std::vector<BDD> build() {
    int n = (int)c.inputs.size();
    for (int i = 0; i < n; i++) done[c.inputs[i]] = bdd_ithvar(n - 1 - i);
    std::vector<BDD> outs;
    for (const std::string &o : c.outputs) outs.push_back(bdd_addref(signal(o)));
    for (auto &kv : done) bdd_delref(kv.second);  // inputs: saturated, unaffected
    return outs;
  }
};

void quiet(int) {}

void start(int nodes, int vars) {
  bdd_init(nodes, nodes / 10);
  bdd_error_hook(quiet);
  bdd_gbc_hook(nullptr);
  bdd_reorder_hook(nullptr);
  bdd_setvarnum(vars);
}

// Nodes in use by the outputs alone.
int settled_nodes() {
  bdd_reorder(REORDER_NONE);  // a run collects everything unreferenced
  return bdd_getnodenum();
}

void BM_SiftIscas(benchmark::State &state, const char *name, int method) {
  Circuit c = read_bench(std::string(CORVANE_DATA_DIR) + "/iscas85/" + name + ".bench");
  if (!c.ok) {
    state.SkipWithError("cannot read the netlist");
    return;
  }
  int before = 0, after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    start(10000, (int)c.inputs.size());
    Builder b{c, {}};
    std::vector<BDD> outs = b.build();
    before = settled_nodes();
    bdd_varblockall();
    state.ResumeTiming();
    bdd_reorder(method);
    state.PauseTiming();
    after = bdd_getnodenum();
    for (BDD r : outs) bdd_delref(r);
    bdd_done();
    state.ResumeTiming();
  }
  state.counters["nodes_before"] = before;
  state.counters["nodes_after"] = after;
}

// Exchange throughput: reverse the order of the c432 inputs and back; each
// reversal of n variables is n(n-1)/2 adjacent exchanges.
void BM_ExchangeThroughput(benchmark::State &state) {
  Circuit c = read_bench(std::string(CORVANE_DATA_DIR) + "/iscas85/c432.bench");
  if (!c.ok) {
    state.SkipWithError("cannot read the netlist");
    return;
  }
  int n = (int)c.inputs.size();
  start(10000, n);
  Builder b{c, {}};
  std::vector<BDD> outs = b.build();
  std::vector<int> fwd(n), rev(n);
  for (int i = 0; i < n; i++) fwd[i] = i, rev[i] = n - 1 - i;
  int nodes = settled_nodes();
  bool flip = false;
  for (auto _ : state) {
    bdd_setvarorder(flip ? fwd.data() : rev.data());
    flip = !flip;
  }
  state.counters["nodes"] = nodes;
  state.counters["exchanges"] = benchmark::Counter(
      (double)state.iterations() * n * (n - 1) / 2, benchmark::Counter::kIsRate);
  for (BDD r : outs) bdd_delref(r);
  bdd_done();
}

}  // namespace

BENCHMARK_CAPTURE(BM_SiftIscas, c17, "c17", REORDER_SIFT)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SiftIscas, c432, "c432", REORDER_SIFT)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SiftIscas, c499, "c499", REORDER_SIFT)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SiftIscas, c880, "c880", REORDER_SIFT)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SiftIscas, c1355, "c1355", REORDER_SIFT)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SiftIscas, c432_siftite, "c432", REORDER_SIFTITE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeThroughput)->Unit(benchmark::kMillisecond);
