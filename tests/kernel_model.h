// Test-side model of the node table: decodes the packed node words on its
// own (not through the engine's accessors), checks the table's structural
// invariants by a full scan and builds random node graphs.
#ifndef CORVANE_TEST_KERNEL_MODEL_H
#define CORVANE_TEST_KERNEL_MODEL_H

#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>
#include <corvane/corvane.h>

namespace km {

constexpr unsigned kIndexMask = 0x07FFFFFFu;

struct Fields {
  unsigned level;
  int low, high;
  unsigned refcount;
  bool mark;
  int hash, next;
};

inline Fields fields(int n) {
  const BddNode &b = bddnodes[n];
  Fields f;
  f.level = (b.word2 >> 27) | ((b.word3 >> 27) << 5);
  f.low = (int)(b.word2 & kIndexMask);
  f.high = (int)(b.word3 & kIndexMask);
  f.refcount = ((b.word1 >> 28) << 5) | (b.word0 >> 27);
  f.mark = (b.word1 & 0x08000000u) != 0;
  f.hash = (int)(b.word0 & kIndexMask);
  f.next = (int)(b.word1 & kIndexMask);
  return f;
}

inline bool is_free(int n) { return (bddnodes[n].word2 & kIndexMask) == kIndexMask; }
inline unsigned refcount(int n) { return fields(n).refcount; }

inline unsigned pair_hash(unsigned a, unsigned b) { return ((a + b) * (a + b + 1u)) / 2u + a; }
inline unsigned bucket_of(unsigned level, int low, int high) {
  return pair_hash((unsigned)high, pair_hash(level, (unsigned)low)) % (unsigned)bddnodesize;
}

struct Triple {
  unsigned level;
  int low, high;
  auto key() const { return std::tie(level, low, high); }
  bool operator<(const Triple &o) const { return key() < o.key(); }
  bool operator==(const Triple &o) const { return key() == o.key(); }
};

inline Triple triple_of(int n) {
  Fields f = fields(n);
  return Triple{f.level, f.low, f.high};
}

// Every index >= 2 whose slot holds a live node.
inline std::set<int> live_nodes() {
  std::set<int> s;
  for (int n = 2; n < bddnodesize; n++)
    if (!is_free(n)) s.insert(n);
  return s;
}

// Full scan of the table. Returns a description of the first faults found,
// or "" when the table is sound. With `ordered`, live nodes must also lie
// above their children and below the variable count.
inline std::string table_fault(bool ordered = true) {
  std::string out;
  int faults = 0;
  auto fault = [&](const std::string &what, int n) {
    if (faults++ < 10) out += what + " " + std::to_string(n) + "\n";
  };
  if (bddnodes == nullptr || bddnodesize < 3) return "no table";
  const int size = bddnodesize;
  for (int c = 0; c < 2; c++) {
    Fields f = fields(c);
    if (f.refcount != MAX_REFCOUNT || f.low != c || f.high != c || f.mark)
      fault("constant damaged", c);
    if (f.level != (unsigned)bddvarnum) fault("constant level", (int)f.level);
  }
  std::set<Triple> seen;
  int live = 0, freecount = 0;
  for (int n = 2; n < size; n++) {
    Fields f = fields(n);
    if (f.mark) fault("mark left on", n);
    if (is_free(n)) {
      freecount++;
      if (f.refcount != 0) fault("free node with refcount", n);
      continue;
    }
    live++;
    if (f.low == f.high) fault("low == high at", n);
    if (f.low >= size || f.high >= size) {
      fault("child out of range at", n);
      continue;
    }
    if ((f.low > 1 && is_free(f.low)) || (f.high > 1 && is_free(f.high)))
      fault("free child under", n);
    if (ordered && (f.level >= (unsigned)bddvarnum || fields(f.low).level <= f.level ||
                    fields(f.high).level <= f.level))
      fault("level not above the children or too deep at", n);
    if (!seen.insert(Triple{f.level, f.low, f.high}).second) fault("duplicate triple at", n);
  }
  // Chains: every element live, in its own bucket, seen once; together they
  // hold exactly the live nodes.
  std::vector<char> inchain((size_t)size, 0);
  int chained = 0;
  for (int b = 0; b < size; b++) {
    for (int e = fields(b).hash, steps = 0; e != 0 && steps <= size; e = fields(e).next, steps++) {
      if (e < 2 || e >= size || is_free(e) || inchain[(size_t)e]) {
        fault("bad, free or repeated chain entry in bucket", b);
        break;
      }
      inchain[(size_t)e] = 1;
      chained++;
      Triple t = triple_of(e);
      if (bucket_of(t.level, t.low, t.high) != (unsigned)b) fault("node in wrong bucket", e);
    }
  }
  if (chained != live) fault("chains miss live nodes:", live - chained);
  // Free list.
  int listed = 0;
  std::vector<char> onlist((size_t)size, 0);
  for (int e = bddfreepos; e != 0 && listed <= size; e = fields(e).next, listed++) {
    if (e < 2 || e >= size || !is_free(e) || onlist[(size_t)e]) {
      fault("bad free list entry", e);
      break;
    }
    onlist[(size_t)e] = 1;
  }
  if (listed != bddfreenum || freecount != bddfreenum) fault("free list length vs count", listed);
  return out;
}

// The free list as a sequence of indices.
inline std::vector<int> free_list() {
  std::vector<int> v;
  for (int e = bddfreepos; e != 0 && (int)v.size() <= bddnodesize; e = fields(e).next)
    v.push_back(e);
  return v;
}

// Nodes reachable from the given roots (constants excluded) by an explicit
// walk over the decoded children, entering no node below `maxlevel`.
inline std::set<int> reachable(const std::vector<int> &roots, unsigned maxlevel = ~0u) {
  std::set<int> seen;
  std::vector<int> todo(roots.begin(), roots.end());
  while (!todo.empty()) {
    int n = todo.back();
    todo.pop_back();
    if (n <= 1 || fields(n).level > maxlevel || !seen.insert(n).second) continue;
    todo.push_back(fields(n).low);
    todo.push_back(fields(n).high);
  }
  return seen;
}

// Variable-labelled copy of a node graph, evaluated independently of the
// engine's tables.
struct Snapshot {
  struct N {
    int var, low, high;
  };
  std::map<int, N> nodes;

  void add(int root) {
    for (int n : reachable({root})) {
      Fields f = fields(n);
      nodes[n] = N{bddlevel2var[f.level], f.low, f.high};
    }
  }
  // Value of root under `assign`; `tested` tells whether the path went
  // through a node labelled `var`.
  bool eval(int root, const std::vector<int> &assign, int var, bool *tested) const {
    *tested = false;
    int n = root;
    while (n > 1) {
      const N &x = nodes.at(n);
      *tested = *tested || x.var == var;
      n = assign[(size_t)x.var] ? x.high : x.low;
    }
    return n == 1;
  }
};

// Value of root under `assign` read from the live table.
inline bool eval_table(int root, const std::vector<int> &assign) {
  int n = root;
  for (int steps = 0; n > 1 && steps++ <= bddvarnum;) {
    Fields f = fields(n);
    n = assign[(size_t)bddlevel2var[f.level]] ? f.high : f.low;
  }
  return n == 1;
}

// Builds up to `count` random ordered nodes with bdd_makenode, filling the
// levels from the bottom up; children come from strictly deeper nodes.
// Returns the distinct non-constant results in creation order.
inline std::vector<int> random_dag(std::mt19937 &rng, int count) {
  std::vector<int> made;
  std::set<int> distinct;
  std::vector<int> deeper = {0, 1};
  const int per_level = count / bddvarnum + 1;
  for (int lev = bddvarnum - 1; lev >= 0 && (int)made.size() < count; lev--) {
    const size_t pool = deeper.size();
    for (int k = 0; k < per_level && (int)made.size() < count; k++) {
      std::uniform_int_distribution<size_t> pick(0, pool - 1);
      int lo = deeper[pick(rng)], hi = deeper[pick(rng)];
      int r = bdd_makenode((unsigned)lev, lo, hi);
      if (r > 1 && distinct.insert(r).second) {
        made.push_back(r);
        deeper.push_back(r);
      }
    }
  }
  return made;
}

}  // namespace km

#endif
