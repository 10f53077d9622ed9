// Test-side model of the node table: decodes the packed node words on its
// own (not through the engine's accessors), checks the table's structural
// invariants by a full scan and builds random node graphs.
#ifndef CORVANE_TEST_KERNEL_MODEL_H
#define CORVANE_TEST_KERNEL_MODEL_H

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include "corvane.h"

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
inline unsigned level_of(int n) { return fields(n).level; }
inline unsigned refcount(int n) { return fields(n).refcount; }

inline unsigned pair_hash(unsigned a, unsigned b) { return ((a + b) * (a + b + 1u)) / 2u + a; }
inline unsigned bucket_of(unsigned level, int low, int high) {
  return pair_hash((unsigned)high, pair_hash(level, (unsigned)low)) % (unsigned)bddnodesize;
}

struct Triple {
  unsigned level;
  int low, high;
  bool operator<(const Triple &o) const {
    if (level != o.level) return level < o.level;
    if (low != o.low) return low < o.low;
    return high < o.high;
  }
  bool operator==(const Triple &o) const {
    return level == o.level && low == o.low && high == o.high;
  }
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
  std::ostringstream out;
  int faults = 0;
  auto fault = [&](const std::string &what) {
    if (faults++ < 10) out << what << "\n";
  };
  if (bddnodes == nullptr || bddnodesize < 3) return "no table";
  const int size = bddnodesize;

  for (int c = 0; c < 2; c++) {
    Fields f = fields(c);
    if (f.refcount != MAX_REFCOUNT || f.low != c || f.high != c || f.mark)
      fault("constant " + std::to_string(c) + " damaged");
    if (f.level != (unsigned)bddvarnum)
      fault("constant level " + std::to_string(f.level) + " vs varnum " + std::to_string(bddvarnum));
  }

  std::map<Triple, int> seen;
  int live = 0, freecount = 0;
  for (int n = 2; n < size; n++) {
    Fields f = fields(n);
    if (f.mark) fault("mark left on " + std::to_string(n));
    if (is_free(n)) {
      freecount++;
      if (f.refcount != 0) fault("free node with refcount " + std::to_string(n));
      continue;
    }
    live++;
    if (f.low == f.high) fault("low == high at " + std::to_string(n));
    if (f.low >= size || f.high >= size) {
      fault("child out of range at " + std::to_string(n));
      continue;
    }
    if ((f.low > 1 && is_free(f.low)) || (f.high > 1 && is_free(f.high)))
      fault("free child under " + std::to_string(n));
    if (ordered) {
      if (f.level >= (unsigned)bddvarnum) fault("level too deep at " + std::to_string(n));
      if (level_of(f.low) <= f.level || level_of(f.high) <= f.level)
        fault("child not below parent at " + std::to_string(n));
    }
    auto ins = seen.insert({Triple{f.level, f.low, f.high}, n});
    if (!ins.second)
      fault("duplicate triple at " + std::to_string(ins.first->second) + " and " + std::to_string(n));
  }

  // Chains: every element live, in its own bucket, seen once; together they
  // hold exactly the live nodes.
  std::vector<char> inchain((size_t)size, 0);
  int chained = 0;
  for (int b = 0; b < size; b++) {
    int steps = 0;
    for (int e = fields(b).hash; e != 0; e = fields(e).next) {
      if (e < 2 || e >= size) {
        fault("bad chain entry in bucket " + std::to_string(b));
        break;
      }
      if (is_free(e)) {
        fault("free node " + std::to_string(e) + " in bucket " + std::to_string(b));
        break;
      }
      if (inchain[(size_t)e]) {
        fault("node " + std::to_string(e) + " chained twice");
        break;
      }
      inchain[(size_t)e] = 1;
      chained++;
      Triple t = triple_of(e);
      if (bucket_of(t.level, t.low, t.high) != (unsigned)b)
        fault("node " + std::to_string(e) + " in wrong bucket " + std::to_string(b));
      if (++steps > size) break;
    }
  }
  if (chained != live)
    fault("chains hold " + std::to_string(chained) + " of " + std::to_string(live) + " live nodes");

  // Free list.
  int listed = 0;
  std::vector<char> onlist((size_t)size, 0);
  for (int e = bddfreepos; e != 0; e = fields(e).next) {
    if (e < 2 || e >= size || !is_free(e) || onlist[(size_t)e]) {
      fault("bad free list entry " + std::to_string(e));
      break;
    }
    onlist[(size_t)e] = 1;
    if (++listed > size) break;
  }
  if (listed != bddfreenum || freecount != bddfreenum)
    fault("free list " + std::to_string(listed) + ", free slots " + std::to_string(freecount) +
          ", bddfreenum " + std::to_string(bddfreenum));
  return out.str();
}

// The free list as a sequence of indices.
inline std::vector<int> free_list() {
  std::vector<int> v;
  for (int e = bddfreepos; e != 0 && (int)v.size() <= bddnodesize; e = fields(e).next)
    v.push_back(e);
  return v;
}

// Nodes reachable from the given roots (constants excluded), by an
// explicit walk over the decoded children.
inline std::set<int> reachable(const std::vector<int> &roots) {
  std::set<int> seen;
  std::vector<int> todo(roots.begin(), roots.end());
  while (!todo.empty()) {
    int n = todo.back();
    todo.pop_back();
    if (n <= 1 || !seen.insert(n).second) continue;
    Fields f = fields(n);
    todo.push_back(f.low);
    todo.push_back(f.high);
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
      if (x.var == var) *tested = true;
      n = assign[(size_t)x.var] ? x.high : x.low;
    }
    return n == 1;
  }
};

// Value of root under `assign` read from the live table.
inline bool eval_table(int root, const std::vector<int> &assign) {
  int n = root;
  int steps = 0;
  while (n > 1 && steps++ <= bddvarnum) {
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
  const int levels = bddvarnum;
  int per_level = count / levels + 1;
  for (int lev = levels - 1; lev >= 0 && (int)made.size() < count; lev--) {
    std::vector<int> here;
    for (int k = 0; k < per_level && (int)made.size() < count; k++) {
      std::uniform_int_distribution<size_t> pick(0, deeper.size() - 1);
      int lo = deeper[pick(rng)], hi = deeper[pick(rng)];
      int r = bdd_makenode((unsigned)lev, lo, hi);
      if (r > 1 && distinct.insert(r).second) {
        made.push_back(r);
        here.push_back(r);
      }
    }
    deeper.insert(deeper.end(), here.begin(), here.end());
  }
  return made;
}

}  // namespace km

#endif
