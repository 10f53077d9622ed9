// Python extension: managers over the one process-wide engine, and BDD
// handles that each own one engine reference.
//
// The engine is global; every manager is a namespace of its own variables
// over it. A manager's levels are the ranks of its variables' engine levels,
// so they start at 0 whatever other managers hold. The engine starts with the
// first live manager and stops when the last one is gone; handles keep their
// manager alive, so no handle outlives the engine it refers to.
//
// Engine errors are recorded by a handler that only stores the code (it runs
// inside engine frames, where neither an exception nor Python may pass) and
// are raised once the C call has returned.
#include <pybind11/pybind11.h>
#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvane.h"

namespace py = pybind11;

namespace {

// ---- process-wide engine state ---------------------------------------------

struct Core;

int g_error = 0;           // first code recorded since the last check
long g_generation = 0;     // bumped at each engine stop
long g_epoch = 0;          // bumped whenever the variable order may have changed
long g_reorderings = 0;
int g_peak = 0;
int g_cores = 0;
// engine variable -> (owning manager, its index there); owner null once gone
std::vector<std::pair<Core *, int>> g_owner;
PyObject *g_bdd_error = nullptr;
constexpr int kMaxVars = 1023;  // the engine's variable limit

void record_error(int code) {
  if (g_error == 0) g_error = code;
}
void note_collection(int pre, GbcStat *s) {
  if (pre) g_peak = std::max(g_peak, s->nodes - s->freenodes);
}
void note_reorder(int pre) {
  if (!pre) {
    ++g_epoch;
    ++g_reorderings;
  }
}

[[noreturn]] void raise(PyObject *type, py::object value) {
  PyErr_SetObject(type, value.ptr());
  throw py::error_already_set();
}

// Turns what the handler recorded during the last C call into an exception.
// A node-table exhaustion leaves a sticky condition that would refuse every
// later node; it is cleared here so the next call may collect and grow.
void check() {
  int code = g_error;
  g_error = 0;
  if (code == 0 && bdderrorcond != 0) code = BDD_ERR_NODENUM;
  if (code == 0) return;
  const char *msg = bdd_errstring(code);
  std::string text = msg ? msg : "unknown engine error";
  if (code == BDD_ERR_NODENUM) {
    bdd_clear_error();
    raise(PyExc_MemoryError, py::str(text));
  }
  if (code == BDD_ERR_MEMORY) raise(PyExc_MemoryError, py::str(text));
  raise(g_bdd_error, py::make_tuple(code, text));
}

// ---- managers -------------------------------------------------------------

struct Core {
  long generation;
  std::vector<std::string> names;  // by index, in declaration order
  std::vector<int> evar;           // index -> engine variable
  std::unordered_map<std::string, int> index;
  long seen_epoch = -1;
  std::vector<int> level_of;  // index -> manager level
  std::vector<int> at_level;  // manager level -> index

  Core(py::object max_nodes, py::object cache_size);
  ~Core();
  Core(const Core &) = delete;
  Core &operator=(const Core &) = delete;

  void refresh() {
    if (seen_epoch == g_epoch && at_level.size() == evar.size()) return;
    at_level.resize(evar.size());
    for (size_t i = 0; i < evar.size(); i++) at_level[i] = (int)i;
    std::sort(at_level.begin(), at_level.end(),
              [this](int a, int b) { return bddvar2level[evar[a]] < bddvar2level[evar[b]]; });
    level_of.assign(evar.size(), 0);
    for (size_t l = 0; l < at_level.size(); l++) level_of[at_level[l]] = (int)l;
    seen_epoch = g_epoch;
  }
  int index_of(const std::string &name) const {
    auto it = index.find(name);
    if (it == index.end()) throw py::value_error("undeclared variable: '" + name + "'");
    return it->second;
  }
  // Manager index of the variable tested at node n (n not a constant).
  int node_index(int n) const { return g_owner[bdd_var(n)].second; }
  int node_level(int n) {
    if (n < 2) return (int)evar.size();
    refresh();
    return level_of[node_index(n)];
  }
};

// Every manager whose variables fill a range of engine numbers and of levels
// is one block, so sifting moves it as a whole; inside, each variable is a
// block of its own. Blocks must be absent while an explicit order is set.
void install_blocks() {
  bdd_clrvarblocks();
  std::vector<Core *> seen;
  for (auto &o : g_owner) {
    Core *c = o.first;
    if (c == nullptr || c->evar.size() < 2 || std::find(seen.begin(), seen.end(), c) != seen.end())
      continue;
    seen.push_back(c);
    auto [lo, hi] = std::minmax_element(c->evar.begin(), c->evar.end());
    int lmin = bddvar2level[*lo], lmax = lmin;
    for (int v : c->evar) {
      lmin = std::min(lmin, bddvar2level[v]);
      lmax = std::max(lmax, bddvar2level[v]);
    }
    int n = (int)c->evar.size();
    if (*hi - *lo + 1 == n && lmax - lmin + 1 == n) bdd_intaddvarblock(*lo, *hi, 0);
  }
  for (int v = 0; v < bdd_varnum(); v++) bdd_intaddvarblock(v, v, 1);
  g_error = 0;  // a refused block only means the manager is not kept together
}

void set_engine_order(const std::vector<int> &order) {
  bdd_clrvarblocks();
  bdd_setvarorder(const_cast<int *>(order.data()));
  ++g_epoch;
  int code = g_error;
  g_error = 0;
  install_blocks();
  g_error = code;
  check();
}

// The engine order with core c's variables, on the levels they occupy now,
// rearranged into manager order `wanted` (indices, top first).
std::vector<int> order_with(Core &c, const std::vector<int> &wanted) {
  int n = bdd_varnum();
  std::vector<int> order(n);
  for (int l = 0; l < n; l++) order[l] = bdd_level2var(l);
  std::vector<int> slots;
  for (int v : c.evar) slots.push_back(bddvar2level[v]);
  std::sort(slots.begin(), slots.end());
  for (size_t k = 0; k < slots.size(); k++) order[slots[k]] = c.evar[wanted[k]];
  return order;
}

int optional_int(py::object o, int none_value) {
  return o.is_none() ? none_value : o.cast<int>();
}

Core::Core(py::object max_nodes, py::object cache_size) {
  int limit = optional_int(max_nodes, 0);
  int cache = optional_int(cache_size, 0);
  if (limit < 0 || cache < 0) throw py::value_error("sizes must not be negative");
  if (!bdd_isrunning()) {
    int nodes = 100003;
    if (limit > 0) nodes = std::max(16, std::min(nodes, limit / 2));
    g_error = 0;
    if (bdd_init(nodes, cache > 0 ? cache : 10007) < 0) {
      g_error = 0;
      raise(PyExc_MemoryError, py::str("the engine could not start"));
    }
    bdd_error_hook(record_error);
    bdd_gbc_hook(note_collection);
    bdd_reorder_hook(note_reorder);
    if (cache == 0) bdd_setcacheratio(4);
    g_owner.clear();
    g_peak = 0;
    g_reorderings = 0;
    ++g_epoch;
  }
  generation = g_generation;
  if (limit > 0) {
    bdd_setmaxnodenum(limit);
    if (g_error != 0 && g_cores == 0) {
      g_error = 0;
      bdd_done();
      ++g_generation;
      throw py::value_error("max_nodes is below the node table's start size");
    }
    check();
  }
  ++g_cores;
}

Core::~Core() {
  for (auto &o : g_owner)
    if (o.first == this) o.first = nullptr;
  if (--g_cores == 0 && bdd_isrunning()) {
    bdd_done();
    g_owner.clear();
    ++g_generation;
    ++g_epoch;
    g_error = 0;
  }
}

// ---- BDD handles ------------------------------------------------------------

struct Function {
  Core *core;
  py::object manager;  // keeps the manager, and so the engine, alive
  int node;

  Function(Core *c, py::object m, int n) : core(c), manager(std::move(m)), node(n) {
    bdd_addref(node);
  }
  ~Function() {
    if (bdd_isrunning() && core->generation == g_generation) {
      int saved = g_error;
      bdd_delref(node);
      g_error = saved;
    }
  }
  Function(const Function &) = delete;
  Function &operator=(const Function &) = delete;
};

Core &core_of(py::object self) { return self.cast<Core &>(); }

// Wraps a fresh result after checking for errors raised while making it.
py::object wrap(Core &c, py::object mgr, int node) {
  check();
  return py::cast(new Function(&c, std::move(mgr), node), py::return_value_policy::take_ownership);
}

void same(const Function &a, const Function &b) {
  if (a.core != b.core) throw py::value_error("the BDDs belong to different managers");
}
void owned(Core &c, const Function &u) {
  if (u.core != &c) throw py::value_error("the BDD belongs to another manager");
}

py::object binary(const Function &a, const Function &b, int op) {
  same(a, b);
  int r = bdd_apply(a.node, b.node, op);
  return wrap(*a.core, a.manager, r);
}

// Engine variables of names, as a variable set (referenced by the caller).
int varset(Core &c, py::iterable names) {
  std::vector<int> vars;
  for (auto n : names) vars.push_back(c.evar[c.index_of(n.cast<std::string>())]);
  int s = bdd_makeset(vars.data(), (int)vars.size());
  check();
  return s;
}

struct Ref {  // one engine reference held while a C++ routine runs
  int node;
  explicit Ref(int n) : node(bdd_addref(n)) {}
  ~Ref() {
    int saved = g_error;
    bdd_delref(node);
    g_error = saved;
  }
};

// Exact unsigned integers for model counts: 32-bit limbs, least significant first.
struct Big {
  std::vector<uint32_t> w;
  void shl(int k) {
    if (w.empty() || k == 0) return;
    std::vector<uint32_t> r((size_t)(k / 32), 0);
    int s = k % 32;
    uint32_t carry = 0;
    for (uint32_t x : w) {
      r.push_back(s ? (x << s) | carry : x);
      carry = s ? x >> (32 - s) : 0;
    }
    if (carry) r.push_back(carry);
    w.swap(r);
  }
  void add(const Big &o) {
    uint64_t carry = 0;
    if (w.size() < o.w.size()) w.resize(o.w.size(), 0);
    for (size_t i = 0; i < w.size(); i++) {
      uint64_t s = (uint64_t)w[i] + (i < o.w.size() ? o.w[i] : 0) + carry;
      w[i] = (uint32_t)s;
      carry = s >> 32;
    }
    if (carry) w.push_back((uint32_t)carry);
  }
  py::object to_python() const {
    std::string hex = "0";
    static const char *digits = "0123456789abcdef";
    for (size_t i = w.size(); i-- > 0;)
      for (int k = 28; k >= 0; k -= 4) hex.push_back(digits[(w[i] >> k) & 15]);
    return py::reinterpret_steal<py::object>(PyLong_FromString(hex.c_str(), nullptr, 16));
  }
};

// Assignments to the support of u (positions by engine level) that satisfy it.
Big count_rec(int n, const std::unordered_map<int, int> &pos, int nsup,
              std::unordered_map<int, Big> &memo) {
  if (n < 2) {
    Big b;
    if (n == 1) b.w.push_back(1);
    return b;
  }
  auto it = memo.find(n);
  if (it != memo.end()) return it->second;
  int p = pos.at(bdd_var(n));
  auto at = [&](int m) { return m < 2 ? nsup : pos.at(bdd_var(m)); };
  int lo = bdd_low(n), hi = bdd_high(n);
  Big a = count_rec(lo, pos, nsup, memo);
  a.shl(at(lo) - p - 1);
  Big b = count_rec(hi, pos, nsup, memo);
  b.shl(at(hi) - p - 1);
  a.add(b);
  memo[n] = a;
  return a;
}

std::vector<int> support_vars(int node) {
  int s = bdd_support(node);
  check();
  int *vars = nullptr, n = 0;
  bdd_scanset(s, &vars, &n);
  std::vector<int> out(vars, vars + n);
  free(vars);
  check();
  return out;
}

py::object count(const Function &u, py::object nvars) {
  std::vector<int> sup = support_vars(u.node);
  int nsup = (int)sup.size();
  int n = optional_int(nvars, nsup);
  if (n < nsup)
    throw py::value_error("nvars " + std::to_string(n) + " is below the support's size " +
                          std::to_string(nsup));
  std::sort(sup.begin(), sup.end(),
            [](int a, int b) { return bddvar2level[a] < bddvar2level[b]; });
  std::unordered_map<int, int> pos;
  for (int k = 0; k < nsup; k++) pos[sup[k]] = k;
  std::unordered_map<int, Big> memo;
  Big c = count_rec(u.node, pos, nsup, memo);  // the root tests the top support variable
  c.shl(n - nsup);
  return c.to_python();
}

py::set support_names(const Function &u) {
  py::set out;
  for (int v : support_vars(u.node)) out.add(py::str(u.core->names[g_owner[v].second]));
  return out;
}

py::object child(const Function &u, bool high) {
  if (u.node < 2) return py::none();
  return wrap(*u.core, u.manager, high ? bdd_high(u.node) : bdd_low(u.node));
}

int refcount(int n) {
  if (n < 2) return MAX_REFCOUNT;
  return (int)(((bddnodes[n].word1 >> 28) << 5) | (bddnodes[n].word0 >> 27));
}

// Adds one variable; `blocks` false leaves the block layout to the caller.
int add_var_to(Core &c, const std::string &name, py::object level, bool blocks) {
  if (name.empty()) throw py::value_error("a variable name must not be empty");
  auto it = c.index.find(name);
  if (it != c.index.end()) {
    if (!level.is_none() && level.cast<int>() != c.node_level(bdd_ithvar(c.evar[it->second])))
      throw py::value_error("variable '" + name + "' already exists at another level");
    return it->second;
  }
  int n = (int)c.evar.size();
  int at = optional_int(level, n);
  if (at < 0 || at > n) throw py::value_error("level " + std::to_string(at) + " is outside 0.." +
                                              std::to_string(n));
  int v = -1;
  if (bdd_varnum() < kMaxVars) {
    v = bdd_extvarnum(1);
    check();
  } else {
    // The engine's variables are spent: take over one whose manager is
    // gone. Nodes left over from it are garbage of the same functions.
    for (size_t k = 0; k < g_owner.size() && v < 0; k++)
      if (g_owner[k].first == nullptr) v = (int)k;
    if (v < 0)
      raise(g_bdd_error, py::make_tuple(BDD_ERR_RANGE, std::string(bdd_errstring(BDD_ERR_RANGE)) +
                                                           ": all " + std::to_string(kMaxVars) +
                                                           " variables are in use"));
  }
  c.evar.push_back(v);
  c.names.push_back(name);
  c.index[name] = n;
  g_owner.resize(std::max(g_owner.size(), (size_t)v + 1), {nullptr, 0});
  g_owner[v] = {&c, n};
  ++g_epoch;
  c.refresh();
  std::vector<int> wanted;
  for (int i : c.at_level)
    if (i != n) wanted.push_back(i);
  wanted.insert(wanted.begin() + at, n);
  if (wanted != c.at_level)
    set_engine_order(order_with(c, wanted));
  else if (blocks)
    install_blocks();
  return n;
}

int add_var(py::object self, const std::string &name, py::object level) {
  return add_var_to(core_of(self), name, level, true);
}

void declare(py::object self, py::args names) {
  Core &c = core_of(self);
  try {
    for (auto n : names) add_var_to(c, n.cast<std::string>(), py::none(), false);
  } catch (...) {
    install_blocks();
    throw;
  }
  install_blocks();
}

py::object var_node(py::object self, const std::string &name) {
  Core &c = core_of(self);
  return wrap(c, self, bdd_ithvar(c.evar[c.index_of(name)]));
}

// Copies u into the manager `dest`, variable by variable name.
py::object copy_to(const Function &u, py::object dest) {
  Core &d = core_of(dest);
  if (&d == u.core) return wrap(d, dest, u.node);
  std::unordered_map<int, int> memo{{0, 0}, {1, 1}};
  std::vector<std::unique_ptr<Ref>> held;
  std::vector<int> stack{u.node};
  while (!stack.empty()) {
    int n = stack.back();
    if (memo.count(n)) {
      stack.pop_back();
      continue;
    }
    int lo = bdd_low(n), hi = bdd_high(n);
    if (!memo.count(lo) || !memo.count(hi)) {
      if (!memo.count(lo)) stack.push_back(lo);
      if (!memo.count(hi)) stack.push_back(hi);
      continue;
    }
    stack.pop_back();
    const std::string &name = u.core->names[u.core->node_index(n)];
    int v = bdd_ithvar(d.evar[d.index_of(name)]);
    int r = bdd_ite(v, memo[hi], memo[lo]);
    check();
    held.push_back(std::make_unique<Ref>(r));
    memo[n] = r;
  }
  return wrap(d, dest, memo[u.node]);
}

py::dict settings() {
  py::dict d;
  d["reordering"] = bdd_getreorder_method() != REORDER_NONE;
  d["max_nodes"] = bddmaxnodesize > 0 ? py::object(py::int_(bddmaxnodesize)) : py::none();
  d["max_growth"] = bddmaxnodeincrease;
  d["growth_factor"] = bddincreasefactor;
  int mf = bdd_setminfreenodes(20);
  bdd_setminfreenodes(mf);
  d["min_free"] = mf;
  return d;
}

py::dict configure(py::object, py::kwargs kw) {
  py::dict before = settings();
  for (auto item : kw) {
    std::string key = item.first.cast<std::string>();
    py::handle val = item.second;
    if (key == "reordering")
      bdd_autoreorder(val.cast<bool>() ? REORDER_SIFT : REORDER_NONE);
    else if (key == "max_nodes")
      bdd_setmaxnodenum(val.is_none() ? 0 : val.cast<int>());
    else if (key == "max_growth")
      bdd_setmaxincrease(val.cast<int>());
    else if (key == "growth_factor")
      bdd_setincreasefactor(val.cast<double>());
    else if (key == "min_free")
      bdd_setminfreenodes(val.cast<int>());
    else
      throw py::value_error("unknown setting: '" + key + "'");
    check();
  }
  return before;
}

py::dict statistics(py::object self) {
  Core &c = core_of(self);
  KernelStats ks;
  bdd_stats(&ks);
  CacheStats cs;
  bdd_cachestats(&cs);
  int used = bdd_getnodenum();
  g_peak = std::max(g_peak, used);
  py::dict d;
  d["nodes"] = used;
  d["peak"] = g_peak;
  d["table_size"] = bdd_getallocnum();
  d["max_nodes"] = bddmaxnodesize > 0 ? py::object(py::int_(bddmaxnodesize)) : py::none();
  d["collections"] = ks.gbcollectnum;
  d["reorderings"] = g_reorderings;
  // None when the engine keeps no operator-cache counts
  bool counted = cs.opHit + cs.opMiss > 0;
  d["cache_hits"] = counted ? py::object(py::int_(cs.opHit)) : py::none();
  d["cache_misses"] = counted ? py::object(py::int_(cs.opMiss)) : py::none();
  d["engine_vars"] = ks.varnum;
  d["vars"] = (int)c.evar.size();
  return d;
}

void reorder(py::object self, py::object order) {
  Core &c = core_of(self);
  if (order.is_none()) {
    bdd_reorder(REORDER_SIFT);
    ++g_epoch;
    check();
    return;
  }
  py::dict levels = order.cast<py::dict>();
  size_t n = c.evar.size();
  if (levels.size() != n) throw py::value_error("the order must give a level to every variable");
  std::vector<int> wanted(n, -1);
  for (auto item : levels) {
    int idx = c.index_of(item.first.cast<std::string>());
    int l = item.second.cast<int>();
    if (l < 0 || (size_t)l >= n || wanted[l] != -1)
      throw py::value_error("the levels must be 0.." + std::to_string(n - 1) + ", each once");
    wanted[l] = idx;
  }
  set_engine_order(order_with(c, wanted));
}

// Substitution through a pair table: renaming (variables), or composition.
py::object substitute(py::object self, const Function &u, py::dict mapping, bool functions) {
  Core &c = core_of(self);
  owned(c, u);
  bddPair *p = bdd_newpair();
  check();
  std::vector<std::pair<int, int>> renames;
  try {
    for (auto item : mapping) {
      int from = c.evar[c.index_of(item.first.cast<std::string>())];
      if (functions) {
        const Function &g = item.second.cast<const Function &>();
        owned(c, g);
        bdd_setbddpair(p, from, g.node);
      } else {
        int to = c.evar[c.index_of(item.second.cast<std::string>())];
        bdd_setpair(p, from, to);
        renames.push_back({from, to});
      }
      check();
    }
  } catch (...) {
    bdd_freepair(p);
    throw;
  }
  int r = functions ? bdd_veccompose(u.node, p) : bdd_replace(u.node, p);
  if (!functions && g_error == BDD_ERR_REPLACE) {
    // The renaming moves a variable past one it meets: simultaneous
    // substitution of the target variables' own nodes does the same job.
    g_error = 0;
    for (auto &[from, to] : renames) bdd_setbddpair(p, from, bdd_ithvar(to));
    r = bdd_veccompose(u.node, p);
  }
  int code = g_error;
  {
    Ref keep(r);
    bdd_freepair(p);
  }
  g_error = code;
  return wrap(c, self, r);
}

// The conjunction of literals (engine variable, polarity), referenced.
int literal_cube(const std::vector<std::pair<int, bool>> &lits) {
  int acc = 1;
  for (auto &[v, pos] : lits) {
    int r = bdd_and(acc, pos ? bdd_ithvar(v) : bdd_nithvar(v));
    bdd_addref(r);
    bdd_delref(acc);
    acc = r;
    if (g_error) break;
  }
  if (g_error) {
    bdd_delref(acc);
    check();
  }
  return acc;
}

std::vector<std::pair<int, bool>> literals(Core &c, py::object given) {
  std::vector<std::pair<int, bool>> lits;
  if (py::isinstance<py::dict>(given)) {
    for (auto item : given.cast<py::dict>())
      lits.push_back(
          {c.evar[c.index_of(item.first.cast<std::string>())], item.second.cast<bool>()});
  } else {
    for (auto n : given.cast<py::iterable>())
      lits.push_back({c.evar[c.index_of(n.cast<std::string>())], true});
  }
  return lits;
}

py::object restrict_to(py::object self, const Function &u, py::dict values) {
  Core &c = core_of(self);
  owned(c, u);
  int cube = literal_cube(literals(c, values));
  int r = bdd_restrict(u.node, cube);
  int code = g_error;
  bdd_delref(cube);
  g_error = code;
  return wrap(c, self, r);
}

py::object cube(py::object self, py::object given) {
  Core &c = core_of(self);
  int acc = literal_cube(literals(c, given));
  py::object out = wrap(c, self, acc);
  bdd_delref(acc);
  return out;
}

py::object quantify(py::object self, const Function &u, py::iterable names, bool forall) {
  Core &c = core_of(self);
  owned(c, u);
  Ref set(varset(c, names));
  int r = forall ? bdd_forall(u.node, set.node) : bdd_exist(u.node, set.node);
  return wrap(c, self, r);
}

py::object and_exists(py::object self, const Function &u, const Function &v, py::iterable names) {
  Core &c = core_of(self);
  owned(c, u);
  owned(c, v);
  Ref set(varset(c, names));
  int r = bdd_appex(u.node, v.node, OP_AND, set.node);
  return wrap(c, self, r);
}

py::object find_or_add(py::object self, const std::string &name, const Function &lo,
                       const Function &hi) {
  Core &c = core_of(self);
  owned(c, lo);
  owned(c, hi);
  int idx = c.index_of(name);
  int level = c.node_level(bdd_ithvar(c.evar[idx]));
  if (c.node_level(lo.node) <= level || c.node_level(hi.node) <= level)
    throw py::value_error("the children must lie below the level of '" + name + "'");
  // With both children below the variable, if-then-else yields exactly the
  // node (var, low, high), or low itself when the children are equal.
  int r = bdd_ite(bdd_ithvar(c.evar[idx]), hi.node, lo.node);
  return wrap(c, self, r);
}

}  // namespace

PYBIND11_MODULE(_corvane, m) {
  m.doc() = "Corvane engine bindings; use the corvane package.";
  py::dict scope;
  py::exec(R"py(
class BDDError(Exception):
    """An engine error: `code` is the engine's negative code, `message` its text."""
    def __init__(self, code, message):
        super().__init__(code, message)
        self.code = code
        self.message = message
    def __str__(self):
        return f"{self.message} (code {self.code})"
)py",
           py::globals(), scope);
  py::object err = scope["BDDError"];
  err.attr("__module__") = "corvane";
  m.attr("BDDError") = err;
  g_bdd_error = err.ptr();
  Py_INCREF(g_bdd_error);

  py::class_<Function>(m, "Function", "A BDD node of one manager; holds one engine reference.")
      .def("__and__", [](const Function &a, const Function &b) { return binary(a, b, OP_AND); },
           py::is_operator())
      .def("__or__", [](const Function &a, const Function &b) { return binary(a, b, OP_OR); },
           py::is_operator())
      .def("__xor__", [](const Function &a, const Function &b) { return binary(a, b, OP_XOR); },
           py::is_operator())
      .def("__sub__", [](const Function &a, const Function &b) { return binary(a, b, OP_DIFF); },
           py::is_operator())
      .def("implies", [](const Function &a, const Function &b) { return binary(a, b, OP_IMP); })
      .def("equiv", [](const Function &a, const Function &b) { return binary(a, b, OP_BIIMP); })
      .def("__invert__",
           [](const Function &a) { return wrap(*a.core, a.manager, bdd_not(a.node)); })
      .def("__eq__",
           [](const Function &a, py::object o) {
             if (!py::isinstance<Function>(o)) return false;
             const Function &b = o.cast<const Function &>();
             return a.core == b.core && a.node == b.node;
           })
      .def("__ne__",
           [](const Function &a, py::object o) {
             if (!py::isinstance<Function>(o)) return true;
             const Function &b = o.cast<const Function &>();
             return a.core != b.core || a.node != b.node;
           })
      .def("__le__",
           [](const Function &a, const Function &b) {
             same(a, b);
             int r = bdd_imp(a.node, b.node);
             check();
             return r == 1;
           },
           py::is_operator())
      .def("__lt__",
           [](const Function &a, const Function &b) {
             same(a, b);
             int r = bdd_imp(a.node, b.node);
             check();
             return r == 1 && a.node != b.node;
           },
           py::is_operator())
      .def("__ge__",
           [](const Function &a, const Function &b) {
             same(a, b);
             int r = bdd_imp(b.node, a.node);
             check();
             return r == 1;
           },
           py::is_operator())
      .def("__gt__",
           [](const Function &a, const Function &b) {
             same(a, b);
             int r = bdd_imp(b.node, a.node);
             check();
             return r == 1 && a.node != b.node;
           },
           py::is_operator())
      .def("__bool__",
           [](const Function &) -> bool {
             throw py::type_error(
                 "a BDD has no truth value of its own: compare it with bdd.true or bdd.false");
           })
      .def("__hash__", [](const Function &a) { return a.node; })
      .def("__int__", [](const Function &a) { return a.node; })
      .def("__str__", [](const Function &a) { return "@" + std::to_string(a.node); })
      .def("__repr__",
           [](const Function &a) { return "<corvane.Function @" + std::to_string(a.node) + ">"; })
      .def("__len__", [](const Function &a) {
        int n = bdd_nodecount(a.node);
        check();
        return n;
      })
      .def_property_readonly("var",
                             [](const Function &a) -> py::object {
                               if (a.node < 2) return py::none();
                               return py::str(a.core->names[a.core->node_index(a.node)]);
                             })
      .def_property_readonly("level", [](const Function &a) { return a.core->node_level(a.node); })
      .def_property_readonly("low", [](const Function &a) { return child(a, false); })
      .def_property_readonly("high", [](const Function &a) { return child(a, true); })
      .def_property_readonly("support", &support_names)
      .def_property_readonly("ref", [](const Function &a) { return refcount(a.node); })
      .def_property_readonly("bdd", [](const Function &a) { return a.manager; })
      .def("count", &count, py::arg("nvars") = py::none());

  py::class_<Core>(m, "_Manager")
      .def(py::init<py::object, py::object>(), py::arg("max_nodes") = py::none(),
           py::arg("cache_size") = py::none())
      .def("add_var", &add_var, py::arg("name"), py::arg("level") = py::none())
      .def("declare", &declare, "Adds each name not yet declared as a variable at the bottom.")
      .def("var", &var_node, py::arg("name"))
      .def_property_readonly("vars",
                             [](Core &c) {
                               c.refresh();
                               py::dict d;
                               for (size_t i = 0; i < c.names.size(); i++)
                                 d[py::str(c.names[i])] = c.level_of[i];
                               return d;
                             })
      .def_property_readonly("var_levels",
                             [](py::object self) { return self.attr("vars"); })
      .def("var_at_level",
           [](Core &c, int level) {
             c.refresh();
             if (level < 0 || (size_t)level >= c.at_level.size())
               throw py::value_error("no variable at level " + std::to_string(level));
             return c.names[c.at_level[level]];
           })
      .def("level_of_var",
           [](Core &c, const std::string &name) {
             int idx = c.index_of(name);
             c.refresh();
             return c.level_of[idx];
           })
      .def_property_readonly("true", [](py::object self) { return wrap(core_of(self), self, 1); })
      .def_property_readonly("false",
                             [](py::object self) { return wrap(core_of(self), self, 0); })
      .def("__contains__",
           [](Core &c, const Function &u) {
             owned(c, u);
             return true;
           })
      .def("__len__", [](Core &) { return bdd_getnodenum(); })
      .def("_apply",
           [](py::object self, int op, const Function &u, py::object v) {
             Core &c = core_of(self);
             owned(c, u);
             if (op == OP_NOT) return wrap(c, self, bdd_not(u.node));
             const Function &w = v.cast<const Function &>();
             owned(c, w);
             return wrap(c, self, bdd_apply(u.node, w.node, op));
           })
      .def("ite",
           [](py::object self, const Function &f, const Function &g, const Function &h) {
             Core &c = core_of(self);
             owned(c, f);
             owned(c, g);
             owned(c, h);
             return wrap(c, self, bdd_ite(f.node, g.node, h.node));
           })
      .def("_quantify", &quantify)
      .def("and_exists", &and_exists, py::arg("u"), py::arg("v"), py::arg("names"))
      .def("_substitute", &substitute)
      .def("_restrict", &restrict_to)
      .def("cube", &cube, py::arg("literals"))
      .def("support",
           [](Core &c, const Function &u) {
             owned(c, u);
             return support_names(u);
           })
      .def("count",
           [](Core &c, const Function &u, py::object nvars) {
             owned(c, u);
             return count(u, nvars);
           },
           py::arg("u"), py::arg("nvars") = py::none())
      .def("succ",
           [](py::object self, const Function &u) {
             Core &c = core_of(self);
             owned(c, u);
             return py::make_tuple(c.node_level(u.node), child(u, false), child(u, true));
           })
      .def("find_or_add", &find_or_add, py::arg("var"), py::arg("low"), py::arg("high"))
      .def("copy",
           [](py::object self, const Function &u, py::object other) {
             owned(core_of(self), u);
             return copy_to(u, other);
           })
      .def("configure", &configure)
      .def("statistics", &statistics)
      .def("reorder", &reorder, py::arg("order") = py::none())
      .def("collect_garbage", [](Core &) {
        bdd_gbc();
        check();
      });
}
