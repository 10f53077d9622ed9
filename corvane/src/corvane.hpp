/** @file corvane.hpp
 * C++17 interface to Corvane, header-only, over the C interface of
 * corvane.h.
 *
 * - corvane::Engine starts and stops the engine and turns engine errors into
 *   corvane::Error exceptions.
 * - corvane::Bdd holds one engine reference per handle: copying adds a
 *   reference, destruction releases it, moving transfers it. Nobody calls
 *   bdd_addref/bdd_delref by hand.
 * - corvane::VarSet is a variable set, corvane::Pairing a substitution table.
 *
 * Error protocol: the handler that Engine installs only records the code,
 * since it runs inside engine frames (and possibly before a restart jump)
 * where an exception must never pass. Every wrapper checks the record after
 * the C call has returned and throws then. Handles and variable sets must
 * be destroyed before their Engine; a pairing may outlive it (stopping the
 * engine frees every table left).
 */
#ifndef CORVANE_HPP
#define CORVANE_HPP

#if __cplusplus < 201703L
#error "corvane.hpp needs C++17"
#endif

#include <stdio.h>
#include <stdlib.h>

#include <exception>
#include <functional>
#include <initializer_list>
#include <istream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "corvane.h"

namespace corvane {

/** An engine error, thrown after the failing C call has returned.
 * code() is the negative error code (BDD_ERR_...); what() its message. */
class Error : public std::runtime_error {
 public:
  /** The error of code @p code, with the engine's message. */
  explicit Error(int code)
      : std::runtime_error(bdd_errstring(code) ? bdd_errstring(code) : "Unknown error"), code_(code) {}
  /** The negative error code, e.g. BDD_ERR_ILLBDD. */
  int code() const noexcept { return code_; }

 private:
  int code_;
};

namespace detail {

/* The first error raised during the current wrapper call; 0 = none. Later
 * ones in the same call (a renaming conflict is raised once per clash) add
 * nothing. */
inline int pending = 0;
/* Bumped by every Engine start, so a pairing can tell whether the engine
 * that owns its table is still the running one. */
inline unsigned epoch = 0;

inline void record_error(int code) {
  if (pending == 0) pending = code;
}

inline void begin() noexcept { pending = 0; }

/* Throws the recorded error, if any. A node-table exhaustion leaves the
 * sticky condition set, under which every later creation fails silently;
 * it is cleared here so the exception is the whole report and the next
 * operation can collect and grow again. */
inline void check() {
  if (pending == 0 && bdderrorcond == 0) return;
  int code = pending != 0 ? pending : -bdderrorcond;
  pending = 0;
  if (bdderrorcond != 0) bdd_clear_error();
  throw Error(code);
}

/* Runs a C call that returns an int status or result and throws on error. */
template <class F>
inline auto call(F &&f) {
  begin();
  auto r = f();
  check();
  return r;
}

/* Everything a C printer writes to a stream, as a string. */
template <class F>
inline std::string capture(F &&f) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *out = open_memstream(&buf, &len);
  if (out == nullptr) throw Error(BDD_ERR_MEMORY);
  begin();
  f(out);
  fclose(out);
  std::string s(buf != nullptr ? buf : "", len);
  free(buf);
  check();
  return s;
}

}  // namespace detail

class Bdd;
class VarSet;
class Pairing;

/** Owns the one engine of the process for its lifetime.
 * The constructor starts the engine (bdd_init), installs the error handler
 * that feeds corvane::Error, silences the collection report and declares
 * @p varnum variables; the destructor shuts the engine down (bdd_done).
 * Throws Error(BDD_ERR_RUNNING) when an engine is already running and the
 * start-up code when bdd_init fails. */
class Engine {
 public:
  /** Starts the engine: initial node-table and cache sizes (both grow on
   * demand), the number of variables and, if positive, the cache ratio
   * (one cache entry per that many nodes as the table grows). */
  explicit Engine(int nodesize = 100000, int cachesize = 10000, int varnum = 0, int cacheratio = 0) {
    if (bdd_isrunning()) throw Error(BDD_ERR_RUNNING);
    detail::begin();
    int rc = bdd_init(nodesize, cachesize);
    if (rc < 0) throw Error(rc);
    bdd_error_hook(detail::record_error);
    bdd_gbc_hook(nullptr);
    detail::epoch++;
    try {
      if (cacheratio > 0) detail::call([&] { return bdd_setcacheratio(cacheratio); });
      if (varnum > 0) set_varnum(varnum);
    } catch (...) {
      bdd_done();
      throw;
    }
  }
  ~Engine() { bdd_done(); }
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;

  /** Grows the variable count to @p num (never shrinks: BDD_ERR_DECVARNUM). */
  void set_varnum(int num) {
    int rc = detail::call([&] { return bdd_setvarnum(num); });
    if (rc < 0) throw Error(rc);
  }
  /** Adds @p num variables; returns the number of the first new one. */
  int extend_varnum(int num) { return detail::call([&] { return bdd_extvarnum(num); }); }
  /** The number of variables. */
  int varnum() const noexcept { return bdd_varnum(); }

  /** Nodes in use, constants and not yet collected garbage included. */
  int node_count() const noexcept { return bdd_getnodenum(); }
  /** The node-table size. */
  int table_size() const noexcept { return bdd_getallocnum(); }
  /** Runs a garbage collection now. */
  void collect() { detail::call([] { bdd_gbc(); return 0; }); }
  /** Limits the node table to @p size nodes (0 = no limit); returns the old limit. */
  int set_max_nodes(int size) { return detail::call([&] { return bdd_setmaxnodenum(size); }); }
  /** Caches follow node-table growth at one entry per @p ratio nodes; returns the old ratio. */
  int set_cache_ratio(int ratio) { return detail::call([&] { return bdd_setcacheratio(ratio); }); }
  /** Reinstates the engine's own collection report (one line per collection on stdout). */
  void report_collections(bool on) { bdd_gbc_hook(on ? bdd_default_gbchandler : nullptr); }

  /** Every variable its own reordering block. */
  void varblockall() { detail::call([] { bdd_varblockall(); return 0; }); }
  /** Makes the variables of @p vars one block; returns its identifier. */
  int add_varblock(const VarSet &vars, bool fixed = true);
  /** Makes variables first..last one block; returns its identifier. */
  int add_varblock(int first, int last, bool fixed = true) {
    return detail::call([&] { return bdd_intaddvarblock(first, last, fixed ? 1 : 0); });
  }
  /** Reorders now with a REORDER_... method. */
  void reorder(int method) { detail::call([&] { bdd_reorder(method); return 0; }); }
  /** Reorders automatically with @p method; returns the previous method. */
  int autoreorder(int method) { return bdd_autoreorder(method); }
  /** Installs a complete order: @p order[level] is the variable at that level. */
  void set_order(const std::vector<int> &order) {
    if (static_cast<int>(order.size()) != bdd_varnum()) throw Error(BDD_ERR_SIZE);
    std::vector<int> copy(order);
    detail::call([&] { bdd_setvarorder(copy.data()); return 0; });
  }
  /** The current level of @p var (BDD_ERR_UNKNOWN_VAR when out of range). */
  int var2level(int var) const { return detail::call([&] { return bdd_var2level(var); }); }
  /** The variable at @p level (BDD_ERR_UNKNOWN_VAR when out of range). */
  int level2var(int level) const { return detail::call([&] { return bdd_level2var(level); }); }
};

/** A BDD with one engine reference. A default-constructed Bdd is false. */
class Bdd {
 public:
  Bdd() noexcept : root_(0) {}
  /** Takes a reference on an existing root (for example one computed
   * through the C interface). Throws BDD_ERR_ILLBDD for a root outside the
   * table or naming a free node. */
  explicit Bdd(BDD root) : root_(0) {
    detail::begin();
    BDD r = bdd_addref(root);
    detail::check();
    root_ = r;
  }
  ///@{
  /** Copies add a reference; moves transfer it, leaving false behind */
  Bdd(const Bdd &o) noexcept : root_(bdd_addref(o.root_)) {}
  Bdd(Bdd &&o) noexcept : root_(o.root_) { o.root_ = 0; }
  Bdd &operator=(const Bdd &o) noexcept {
    bdd_addref(o.root_);  // before the release, so self-assignment keeps the node
    bdd_delref(root_);
    root_ = o.root_;
    return *this;
  }
  Bdd &operator=(Bdd &&o) noexcept {
    if (this != &o) {
      bdd_delref(root_);
      root_ = o.root_;
      o.root_ = 0;
    }
    return *this;
  }
  ///@}
  /** Releases the reference. */
  ~Bdd() { bdd_delref(root_); }

  /** The root node index; valid while this handle lives. */
  BDD id() const noexcept { return root_; }
  ///@{
  /** Constant tests */
  bool is_true() const noexcept { return root_ == 1; }
  bool is_false() const noexcept { return root_ == 0; }
  bool is_const() const noexcept { return root_ < 2; }
  ///@}

  ///@{
  /** The root's variable and its low and high children (BDD_ERR_ILLBDD on a constant) */
  int var() const { return nonnegative([&] { return bdd_var(root_); }); }
  Bdd low() const { return Bdd(nonnegative([&] { return bdd_low(root_); })); }
  Bdd high() const { return Bdd(nonnegative([&] { return bdd_high(root_); })); }
  ///@}

  ///@{
  /** Boolean operators; `a - b` is a and not b, `~` is the same as `!` */
  friend Bdd operator&(const Bdd &a, const Bdd &b) { return wrap([&] { return bdd_and(a.root_, b.root_); }); }
  friend Bdd operator|(const Bdd &a, const Bdd &b) { return wrap([&] { return bdd_or(a.root_, b.root_); }); }
  friend Bdd operator^(const Bdd &a, const Bdd &b) { return wrap([&] { return bdd_xor(a.root_, b.root_); }); }
  friend Bdd operator-(const Bdd &a, const Bdd &b) {
    return wrap([&] { return bdd_apply(a.root_, b.root_, OP_DIFF); });
  }
  friend Bdd operator!(const Bdd &a) { return wrap([&] { return bdd_not(a.root_); }); }
  friend Bdd operator~(const Bdd &a) { return !a; }
  Bdd &operator&=(const Bdd &b) { return *this = *this & b; }
  Bdd &operator|=(const Bdd &b) { return *this = *this | b; }
  Bdd &operator^=(const Bdd &b) { return *this = *this ^ b; }
  Bdd &operator-=(const Bdd &b) { return *this = *this - b; }
  ///@}
  ///@{
  /** Equality of functions: equal functions share one node, so this compares roots */
  friend bool operator==(const Bdd &a, const Bdd &b) noexcept { return a.root_ == b.root_; }
  friend bool operator!=(const Bdd &a, const Bdd &b) noexcept { return a.root_ != b.root_; }
  ///@}

  /** this op b for an OP_... code; BDD_ERR_OP for a bad code. */
  Bdd apply(const Bdd &b, int op) const { return wrap([&] { return bdd_apply(root_, b.root_, op); }); }
  /** Implication: not this, or b. */
  Bdd imp(const Bdd &b) const { return wrap([&] { return bdd_imp(root_, b.root_); }); }
  /** Equivalence. */
  Bdd biimp(const Bdd &b) const { return wrap([&] { return bdd_biimp(root_, b.root_); }); }

  ///@{
  /** Existential, universal and unique (exclusive-or) quantification over @p vars */
  inline Bdd exist(const VarSet &vars) const;
  inline Bdd forall(const VarSet &vars) const;
  inline Bdd unique(const VarSet &vars) const;
  ///@}
  ///@{
  /** Quantification of `this op b` over @p vars in one pass (BDD_ERR_OP for a bad code) */
  inline Bdd appex(const Bdd &b, int op, const VarSet &vars) const;
  inline Bdd appall(const Bdd &b, int op, const VarSet &vars) const;
  inline Bdd appuni(const Bdd &b, int op, const VarSet &vars) const;
  ///@}
  /** Relational product: exists vars . this and b. */
  inline Bdd relprod(const Bdd &b, const VarSet &vars) const;

  /** Renames variables by @p p; BDD_ERR_REPLACE when a target variable
   * already occurs where the renaming would break the order. */
  inline Bdd replace(const Pairing &p) const;
  /** Substitutes @p g for variable @p var (BDD_ERR_UNKNOWN_VAR if out of range). */
  Bdd compose(const Bdd &g, int var) const { return wrap([&] { return bdd_compose(root_, g.root_, var); }); }
  /** Substitutes, at once, the function @p p holds for each variable. */
  inline Bdd veccompose(const Pairing &p) const;

  /** Fixes the variables of the cube @p cube to its literals' values. */
  Bdd restrict(const Bdd &cube) const { return wrap([&] { return bdd_restrict(root_, cube.root_); }); }
  /** Generalised cofactor by the care set @p c. */
  Bdd constrain(const Bdd &c) const { return wrap([&] { return bdd_constrain(root_, c.root_); }); }
  /** A function that agrees with this one wherever @p d holds. */
  Bdd simplify(const Bdd &d) const { return wrap([&] { return bdd_simplify(root_, d.root_); }); }
  /** The variables this function tests. */
  inline VarSet support() const;

  /** One satisfying assignment as a cube (false for false). */
  Bdd satone() const { return wrap([&] { return bdd_satone(root_); }); }
  /** As satone, also fixing every variable of @p vars missing on the path to @p pol. */
  inline Bdd satoneset(const VarSet &vars, bool pol) const;
  /** One satisfying assignment over all variables. */
  Bdd fullsatone() const { return wrap([&] { return bdd_fullsatone(root_); }); }

  /** One satisfying path: entry v is 0 or 1, or -1 when variable v is free on it. */
  using Assignment = std::vector<signed char>;
  /** Calls @p fn once per path to true. The callback must not call the
   * engine; an exception it throws is rethrown once the enumeration has
   * returned, and the paths after it are skipped. */
  void allsat(const std::function<void(const Assignment &)> &fn) const {
    struct Run {
      const std::function<void(const Assignment &)> *fn;
      std::exception_ptr failure;
      Assignment scratch;
    } run{&fn, nullptr, {}};
    static Run *current;
    Run *outer = current;
    current = &run;
    detail::begin();
    bdd_allsat(root_, [](signed char *profile, int size) {
      if (current->failure) return;
      try {
        current->scratch.assign(profile, profile + size);
        (*current->fn)(current->scratch);
      } catch (...) {
        current->failure = std::current_exception();
      }
    });
    current = outer;
    detail::check();
    if (run.failure) std::rethrow_exception(run.failure);
  }
  /** Every satisfying path, in the engine's enumeration order. */
  std::vector<Assignment> allsat() const {
    std::vector<Assignment> all;
    allsat([&](const Assignment &a) { all.push_back(a); });
    return all;
  }

  /** Satisfying assignments over all variables (a double: it overflows to
   * infinity only past about 1000 variables; see satcountln). */
  double satcount() const { return dbl([&] { return bdd_satcount(root_); }); }
  /** Satisfying assignments over the variables of @p vars (0 for the empty set). */
  inline double satcount(const VarSet &vars) const;
  /** Base-2 logarithm of satcount(); -1 for false. */
  double satcountln() const { return dbl([&] { return bdd_satcountln(root_); }); }
  /** Base-2 logarithm of satcount(vars). */
  inline double satcountln(const VarSet &vars) const;
  /** Distinct non-constant nodes. */
  int nodecount() const { return nonnegative([&] { return bdd_nodecount(root_); }); }
  /** Paths to the true terminal. */
  double pathcount() const { return dbl([&] { return bdd_pathcount(root_); }); }
  /** Entry v: how many nodes test variable v. */
  std::vector<int> varprofile() const {
    detail::begin();
    int *p = bdd_varprofile(root_);
    detail::check();
    std::vector<int> v;
    if (p != nullptr) {
      v.assign(p, p + bdd_varnum());
      free(p);
    }
    return v;
  }

  /** Writes the engine's text format. */
  void save(std::ostream &out) const {
    out << detail::capture([&](FILE *f) { bdd_save(f, root_); });
  }
  /** Writes the engine's text format to the file @p path (BDD_ERR_FILE if it cannot be opened). */
  void save(const std::string &path) const { detail::call([&] { return bdd_fnsave(path.c_str(), root_); }); }
  /** Reads one BDD in the engine's text format: BDD_ERR_FORMAT for a
   * malformed text, BDD_ERR_FILE for a file that cannot be opened. */
  static Bdd load(std::istream &in) {
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text += '\n';  // never empty, which fmemopen refuses; adds nothing to parse
    FILE *f = fmemopen(text.data(), text.size(), "r");
    if (f == nullptr) throw Error(BDD_ERR_MEMORY);
    BDD root = 0;
    detail::begin();
    int rc = bdd_load(f, &root);
    fclose(f);
    detail::check();
    if (rc < 0) throw Error(rc);
    return Bdd(root);
  }
  /** Reads the file @p path (BDD_ERR_FILE if it cannot be opened). */
  static Bdd load(const std::string &path) {
    BDD root = 0;
    int rc = detail::call([&] { return bdd_fnload(path.c_str(), &root); });
    if (rc < 0) throw Error(rc);
    return Bdd(root);
  }

  /** Satisfying paths as "<var:value, ...>" groups ("F" / "T" for constants). */
  std::string set_string() const { return detail::capture([&](FILE *f) { bdd_fprintset(f, root_); }); }
  /** The nodes, one per line, in table order. */
  std::string table_string() const { return detail::capture([&](FILE *f) { bdd_fprinttable(f, root_); }); }
  /** A Graphviz digraph. */
  std::string dot_string() const { return detail::capture([&](FILE *f) { bdd_fprintdot(f, root_); }); }
  /** Writes a Graphviz digraph to the file @p path (BDD_ERR_FILE if it cannot be opened). */
  void print_dot(const std::string &path) const {
    detail::call([&] { return bdd_fnprintdot(path.c_str(), root_); });
  }
  /** Prints set_string(). */
  friend std::ostream &operator<<(std::ostream &out, const Bdd &b) { return out << b.set_string(); }

  /** Wraps an unreferenced operator result: checks for an error first,
   * then takes the reference before any other engine call can collect it. */
  template <class F>
  static Bdd wrap(F &&f) {
    detail::begin();
    BDD r = f();
    detail::check();
    Bdd b;
    b.root_ = bdd_addref(r);
    return b;
  }

 private:
  /* For calls that report failure by a negative result: also correct when
   * the error handler is not Engine's. */
  template <class F>
  static int nonnegative(F &&f) {
    int v = detail::call(f);
    if (v < 0) throw Error(v);
    return v;
  }
  template <class F>
  static double dbl(F &&f) {
    detail::begin();
    double d = f();
    detail::check();
    return d;
  }

  BDD root_;
};

///@{
/** The BDD of variable @p var, or of its negation (BDD_ERR_UNKNOWN_VAR when out of range) */
inline Bdd ithvar(int var) { return Bdd::wrap([&] { return bdd_ithvar(var); }); }
inline Bdd nithvar(int var) { return Bdd::wrap([&] { return bdd_nithvar(var); }); }
///@}
/** The constant @p value. */
inline Bdd bdd_const(bool value) { return value ? Bdd(1) : Bdd(); }
/** If @p f then @p g else @p h. */
inline Bdd ite(const Bdd &f, const Bdd &g, const Bdd &h) {
  return Bdd::wrap([&] { return bdd_ite(f.id(), g.id(), h.id()); });
}
/** Distinct non-constant nodes of all @p roots together. */
inline int nodecount(const std::vector<Bdd> &roots) {
  std::vector<BDD> ids;
  ids.reserve(roots.size());
  for (const Bdd &b : roots) ids.push_back(b.id());
  return detail::call([&] { return bdd_anodecount(ids.data(), static_cast<int>(ids.size())); });
}
///@{
/** Cubes: the conjunction of the literals of @p vars chosen by the bits of @p value.
 * Bit 0 gives the polarity of the last variable, bit n-1 that of the first. */
inline Bdd cube(int value, const std::vector<int> &vars) {
  std::vector<int> copy(vars);
  return Bdd::wrap([&] { return bdd_ibuildcube(value, static_cast<int>(copy.size()), copy.data()); });
}
inline Bdd cube(int value, const std::vector<Bdd> &vars) {
  std::vector<BDD> ids;
  for (const Bdd &b : vars) ids.push_back(b.id());
  return Bdd::wrap([&] { return bdd_buildcube(value, static_cast<int>(ids.size()), ids.data()); });
}
///@}

/** A set of variables, held as the conjunction of their positive literals. */
class VarSet {
 public:
  /** The empty set. */
  VarSet() : set_(bdd_const(true)) {}
  /** The set of @p vars. */
  VarSet(std::initializer_list<int> vars) : VarSet(std::vector<int>(vars)) {}
  /** Order and repetitions do not matter; BDD_ERR_UNKNOWN_VAR for a bad variable. */
  explicit VarSet(const std::vector<int> &vars) {
    std::vector<int> copy(vars);
    set_ = Bdd::wrap([&] { return bdd_makeset(copy.data(), static_cast<int>(copy.size())); });
  }
  /** Adopts a BDD already in variable-set form (such as a support). */
  static VarSet from_bdd(const Bdd &b) {
    VarSet s;
    s.set_ = b;
    return s;
  }
  /** The set as a BDD, and its root. */
  const Bdd &bdd() const noexcept { return set_; }
  /** The root of bdd(). */
  BDD id() const noexcept { return set_.id(); }
  /** The variables, top level first. */
  std::vector<int> vars() const {
    int *vs = nullptr;
    int n = 0;
    int rc = detail::call([&] { return bdd_scanset(set_.id(), &vs, &n); });
    if (rc < 0) throw Error(rc);
    std::vector<int> v(vs, vs + n);
    free(vs);
    return v;
  }
  /** True for the empty set. */
  bool empty() const noexcept { return set_.is_const(); }
  /** Union. */
  friend VarSet operator|(const VarSet &a, const VarSet &b) { return from_bdd(a.set_ & b.set_); }
  ///@{
  /** Equality of sets */
  friend bool operator==(const VarSet &a, const VarSet &b) noexcept { return a.set_ == b.set_; }
  friend bool operator!=(const VarSet &a, const VarSet &b) noexcept { return a.set_ != b.set_; }
  ///@}

 private:
  Bdd set_;
};

/** A substitution table (bddPair). Movable, not copyable. */
class Pairing {
 public:
  Pairing() : epoch_(detail::epoch) {
    detail::begin();
    p_ = bdd_newpair();
    detail::check();
    if (p_ == nullptr) throw Error(BDD_ERR_MEMORY);
  }
  /** A table renaming each old[i] to fresh[i]. */
  Pairing(const std::vector<int> &old, const std::vector<int> &fresh) : Pairing() { set(old, fresh); }
  ///@{
  /** Moves transfer the table */
  Pairing(Pairing &&o) noexcept : p_(o.p_), epoch_(o.epoch_) { o.p_ = nullptr; }
  Pairing &operator=(Pairing &&o) noexcept {
    std::swap(p_, o.p_);
    std::swap(epoch_, o.epoch_);
    return *this;
  }
  ///@}
  Pairing(const Pairing &) = delete;
  Pairing &operator=(const Pairing &) = delete;
  /** The engine frees left-over tables when it stops; only a table of the
   * running engine is freed here. */
  ~Pairing() {
    if (p_ != nullptr && bdd_isrunning() && epoch_ == detail::epoch) bdd_freepair(p_);
  }

  /** Renames @p oldvar to @p newvar. */
  Pairing &set(int oldvar, int newvar) {
    detail::call([&] { return bdd_setpair(p_, oldvar, newvar); });
    return *this;
  }
  /** Maps @p oldvar to the function @p g (for veccompose; the table keeps its own reference). */
  Pairing &set(int oldvar, const Bdd &g) {
    detail::call([&] { return bdd_setbddpair(p_, oldvar, g.id()); });
    return *this;
  }
  /** Renames each @p old[i] to @p fresh[i] (BDD_ERR_SIZE if the lengths differ). */
  Pairing &set(const std::vector<int> &old, const std::vector<int> &fresh) {
    if (old.size() != fresh.size()) throw Error(BDD_ERR_SIZE);
    std::vector<int> o(old), n(fresh);
    detail::call([&] { return bdd_setpairs(p_, o.data(), n.data(), static_cast<int>(o.size())); });
    return *this;
  }
  /** Back to the identity. */
  void reset() { detail::call([&] { bdd_resetpair(p_); return 0; }); }
  /** The table, for the C interface; it stays owned by this object. */
  bddPair *get() const noexcept { return p_; }

 private:
  bddPair *p_;
  unsigned epoch_;
};

inline Bdd Bdd::exist(const VarSet &v) const { return wrap([&] { return bdd_exist(root_, v.id()); }); }
inline Bdd Bdd::forall(const VarSet &v) const { return wrap([&] { return bdd_forall(root_, v.id()); }); }
inline Bdd Bdd::unique(const VarSet &v) const { return wrap([&] { return bdd_unique(root_, v.id()); }); }
inline Bdd Bdd::appex(const Bdd &b, int op, const VarSet &v) const {
  return wrap([&] { return bdd_appex(root_, b.root_, op, v.id()); });
}
inline Bdd Bdd::appall(const Bdd &b, int op, const VarSet &v) const {
  return wrap([&] { return bdd_appall(root_, b.root_, op, v.id()); });
}
inline Bdd Bdd::appuni(const Bdd &b, int op, const VarSet &v) const {
  return wrap([&] { return bdd_appuni(root_, b.root_, op, v.id()); });
}
inline Bdd Bdd::relprod(const Bdd &b, const VarSet &v) const { return appex(b, OP_AND, v); }
inline Bdd Bdd::replace(const Pairing &p) const { return wrap([&] { return bdd_replace(root_, p.get()); }); }
inline Bdd Bdd::veccompose(const Pairing &p) const {
  return wrap([&] { return bdd_veccompose(root_, p.get()); });
}
inline VarSet Bdd::support() const { return VarSet::from_bdd(wrap([&] { return bdd_support(root_); })); }
inline Bdd Bdd::satoneset(const VarSet &v, bool pol) const {
  return wrap([&] { return bdd_satoneset(root_, v.id(), pol ? 1 : 0); });
}
inline double Bdd::satcount(const VarSet &v) const { return dbl([&] { return bdd_satcountset(root_, v.id()); }); }
inline double Bdd::satcountln(const VarSet &v) const {
  return dbl([&] { return bdd_satcountlnset(root_, v.id()); });
}
inline int Engine::add_varblock(const VarSet &vars, bool fixed) {
  return detail::call([&] { return bdd_addvarblock(vars.id(), fixed ? 1 : 0); });
}

namespace detail {
/* For calls that report failure by a negative result, whichever handler is installed. */
template <class F>
inline int status(F &&f) {
  int v = call(f);
  if (v < 0) throw Error(v);
  return v;
}
}  // namespace detail

/** A finite domain: an integer variable 0 .. size()-1 encoded in binary by
 * a block of BDD variables. A Domain is only the domain's index, so it is
 * copied freely; the engine owns the domain itself until the engine stops
 * or clear_all() runs. A bad index throws BDD_ERR_UNKNOWN_VAR when used. */
class Domain {
 public:
  explicit Domain(int index = -1) noexcept : index_(index) {}

  /** Declares one new domain per entry of @p sizes (each 1 .. 2^30-1),
   * their bits interleaved, least significant first; creates BDD variables
   * as needed. BDD_ERR_RANGE for a bad size (nothing is declared). */
  static std::vector<Domain> extend(const std::vector<int> &sizes) {
    std::vector<int> copy(sizes);
    int first = detail::status([&] { return fdd_extdomain(copy.data(), static_cast<int>(copy.size())); });
    std::vector<Domain> ds;
    for (int i = 0; i < static_cast<int>(copy.size()); i++) ds.emplace_back(first + i);
    return ds;
  }
  /** A domain of size a.size() * b.size() made of the bits of @p a (low
   * order) followed by those of @p b; it creates no BDD variable. */
  static Domain overlap(Domain a, Domain b) {
    return Domain(detail::status([&] { return fdd_overlapdomain(a.index_, b.index_); }));
  }
  /** The number of declared domains. */
  static int count() { return detail::status([] { return fdd_domainnum(); }); }
  /** Forgets every domain; later domains take BDD variables from 0 again. */
  static void clear_all() { fdd_clearall(); }

  /** The index in the domain table. */
  int index() const noexcept { return index_; }
  /** The number of values. */
  int size() const { return detail::status([&] { return fdd_domainsize(index_); }); }
  /** The number of BDD variables encoding it. */
  int varnum() const { return detail::status([&] { return fdd_varnum(index_); }); }
  /** Its BDD variables, least significant bit first. */
  std::vector<int> vars() const {
    int n = varnum();
    int *vs = detail::call([&] { return fdd_vars(index_); });
    if (vs == nullptr) throw Error(BDD_ERR_UNKNOWN_VAR);
    return std::vector<int>(vs, vs + n);
  }
  /** The domain has value @p value (BDD_ERR_RANGE outside 0 .. size()-1). */
  Bdd ithvar(int value) const { return Bdd::wrap([&] { return fdd_ithvar(index_, value); }); }
  /** Same as ithvar: `d == 3` is the BDD of "d holds 3". */
  friend Bdd operator==(Domain d, int value) { return d.ithvar(value); }
  /** The value lies below size() (the encoding also admits the patterns above). */
  Bdd domain() const { return Bdd::wrap([&] { return fdd_domain(index_); }); }
  /** Both domains hold the same value (BDD_ERR_RANGE when the sizes differ). */
  Bdd equals(Domain other) const { return Bdd::wrap([&] { return fdd_equals(index_, other.index_); }); }
  /** The variable set of the domain's bits. */
  VarSet set() const { return VarSet::from_bdd(Bdd::wrap([&] { return fdd_ithset(index_); })); }
  /** The union of the variable sets of @p ds. */
  static VarSet set(const std::vector<Domain> &ds) {
    std::vector<int> idx;
    for (Domain d : ds) idx.push_back(d.index_);
    return VarSet::from_bdd(Bdd::wrap([&] { return fdd_makeset(idx.data(), static_cast<int>(idx.size())); }));
  }
  /** The domains with at least one bit in @p vars, in increasing order. */
  static std::vector<Domain> in_set(const VarSet &vars) {
    int *ds = nullptr, n = 0;
    detail::status([&] { return fdd_scanset(vars.id(), &ds, &n); });
    std::vector<Domain> out;
    for (int i = 0; i < n; i++) out.emplace_back(ds[i]);
    free(ds);
    return out;
  }

  /** The value of this domain in one satisfying assignment of @p f (the
   * low branch preferred, unconstrained bits 0); -1 when @p f is false. */
  int scan(const Bdd &f) const {
    int v = detail::call([&] { return fdd_scanvar(f.id(), index_); });
    if (v < -1) throw Error(v);
    return v;
  }
  /** One satisfying assignment of @p f as a value per declared domain;
   * empty when @p f is false. */
  static std::vector<int> scan_all(const Bdd &f) {
    int n = count();
    int *vs = detail::call([&] { return fdd_scanallvar(f.id()); });
    std::vector<int> out;
    if (vs != nullptr) {
      out.assign(vs, vs + n);
      free(vs);
    }
    return out;
  }

  /** Adds to @p p the renaming of this domain's bits to those of @p to
   * (BDD_ERR_SETSIZE when the widths differ). */
  Pairing &pair_to(Pairing &p, Domain to) const {
    detail::status([&] { return fdd_setpair(p.get(), index_, to.index_); });
    return p;
  }
  /** A table renaming each pair's first domain to its second; every index
   * is checked before the table changes. */
  static Pairing pairing(const std::vector<std::pair<Domain, Domain>> &pairs) {
    std::vector<int> from, to;
    for (const auto &[a, b] : pairs) {
      from.push_back(a.index_);
      to.push_back(b.index_);
    }
    Pairing p;
    detail::status([&] { return fdd_setpairs(p.get(), from.data(), to.data(), static_cast<int>(from.size())); });
    return p;
  }
  /** Makes the bits of domains @p first .. @p last one reordering block; returns its identifier. */
  static int add_varblock(Domain first, Domain last, bool fixed = true) {
    return detail::status([&] { return fdd_intaddvarblock(first.index_, last.index_, fixed ? 1 : 0); });
  }

  /** The satisfying paths of @p f in domain terms, as "<d:v/v, d:v>" groups. */
  static std::string set_string(const Bdd &f) {
    return detail::capture([&](FILE *out) { fdd_fprintset(out, f.id()); });
  }

 private:
  int index_;
};

/** Streams a BDD in domain terms: `out << corvane::in_domains(f)`. */
struct InDomains {
  const Bdd &f;
  friend std::ostream &operator<<(std::ostream &out, const InDomains &p) { return out << Domain::set_string(p.f); }
};
inline InDomains in_domains(const Bdd &f) { return InDomains{f}; }

/** A fixed-width vector of BDDs standing for an unsigned integer, bit 0
 * least significant. Owns one reference on each bit: copies copy the bits
 * with their references, moves transfer them. Arithmetic is modular in the
 * width. As in the C interface, an operation with an empty operand (a
 * default-constructed or moved-from vector) gives the empty vector; operands
 * of different widths throw BVEC_ERR_SIZE. */
class BitVector {
 public:
  /** The empty vector. */
  BitVector() noexcept : v_{0, nullptr} {}
  /** The constant @p value in @p width bits (a negative value is sign-extended). */
  BitVector(int width, int value) : BitVector(build([&] { return bvec_con(width, value); })) {}
  /** The variables of @p d, least significant first. */
  explicit BitVector(Domain d) : BitVector(build([&] { return bvec_varfdd(d.index()); })) {}
  /** Bit i is variable offset + i*step. */
  static BitVector var(int width, int offset, int step = 1) {
    return build([&] { return bvec_var(width, offset, step); });
  }
  /** Bit i is variable vars[i]. */
  static BitVector vars(const std::vector<int> &vars) {
    std::vector<int> copy(vars);
    return build([&] { return bvec_varvec(static_cast<int>(copy.size()), copy.data()); });
  }
  /** Adopts a vector computed through the C interface, with the references it holds. */
  static BitVector adopt(Bvec v) noexcept {
    BitVector b;
    b.v_ = v;
    return b;
  }

  BitVector(const BitVector &o) : BitVector(build([&] { return bvec_copy(o.v_); })) {}
  BitVector(BitVector &&o) noexcept : v_(o.v_) { o.v_ = Bvec{0, nullptr}; }
  /** By value: a copy or a move, then a swap, so self-assignment is harmless. */
  BitVector &operator=(BitVector o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }
  ~BitVector() { bvec_free(v_); }

  /** The width. */
  int size() const noexcept { return v_.nbits; }
  /** Bit @p i (BDD_ERR_RANGE outside 0 .. size()-1). */
  Bdd operator[](int i) const {
    if (i < 0 || i >= v_.nbits) throw Error(BDD_ERR_RANGE);
    return Bdd(v_.bits[i]);
  }
  /** The vector, for the C interface; it stays owned by this object. */
  const Bvec &get() const noexcept { return v_; }

  /** Truncated or zero-extended to @p width bits. */
  BitVector coerce(int width) const { return build([&] { return bvec_coerce(width, v_); }); }
  /** Every bit constant (also for the empty vector). */
  bool is_const() const noexcept { return bvec_isconst(v_) != 0; }
  /** The value of a constant vector modulo 2^32; 0 when a bit is not constant. */
  unsigned value() const noexcept { return static_cast<unsigned>(bvec_val(v_)); }

  ///@{
  /** Sum and difference, of the operands' common width */
  friend BitVector operator+(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_add(a.v_, b.v_); });
  }
  friend BitVector operator-(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_sub(a.v_, b.v_); });
  }
  ///@}
  /** The exact product, of width a.size() + b.size(). */
  friend BitVector operator*(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_mul(a.v_, b.v_); });
  }
  /** The product modulo 2^width, of a's width; a negative @p c counts as c + 2^width. */
  friend BitVector operator*(const BitVector &a, int c) { return build([&] { return bvec_mulfixed(a.v_, c); }); }

  /** Quotient and remainder in one division; a zero divisor gives an all-ones quotient and remainder a. */
  std::pair<BitVector, BitVector> divmod(const BitVector &d) const {
    Bvec q{0, nullptr}, r{0, nullptr};
    detail::begin();
    int rc = bvec_div(v_, d.v_, &q, &r);
    return take_pair(rc, q, r);
  }
  /** Quotient and remainder by a constant (BVEC_ERR_DIVZERO for @p c <= 0). */
  std::pair<BitVector, BitVector> divmod(int c) const {
    Bvec q{0, nullptr}, r{0, nullptr};
    detail::begin();
    int rc = bvec_divfixed(v_, c, &q, &r);
    return take_pair(rc, q, r);
  }
  friend BitVector operator/(const BitVector &a, const BitVector &b) { return a.divmod(b).first; }
  friend BitVector operator%(const BitVector &a, const BitVector &b) { return a.divmod(b).second; }
  friend BitVector operator/(const BitVector &a, int c) { return a.divmod(c).first; }
  friend BitVector operator%(const BitVector &a, int c) { return a.divmod(c).second; }

  ///@{
  /** Shifts filling with @p fill; an amount of the width or more leaves only
   * fill bits. A negative constant amount throws BVEC_ERR_SHIFT; a vector
   * amount is unsigned and may have any width. */
  BitVector shl(int pos, const Bdd &fill = Bdd()) const {
    return build([&] { return bvec_shlfixed(v_, pos, fill.id()); });
  }
  BitVector shr(int pos, const Bdd &fill = Bdd()) const {
    return build([&] { return bvec_shrfixed(v_, pos, fill.id()); });
  }
  BitVector shl(const BitVector &amount, const Bdd &fill = Bdd()) const {
    return build([&] { return bvec_shl(v_, amount.v_, fill.id()); });
  }
  BitVector shr(const BitVector &amount, const Bdd &fill = Bdd()) const {
    return build([&] { return bvec_shr(v_, amount.v_, fill.id()); });
  }
  friend BitVector operator<<(const BitVector &a, int pos) { return a.shl(pos); }
  friend BitVector operator>>(const BitVector &a, int pos) { return a.shr(pos); }
  friend BitVector operator<<(const BitVector &a, const BitVector &n) { return a.shl(n); }
  friend BitVector operator>>(const BitVector &a, const BitVector &n) { return a.shr(n); }
  ///@}

  ///@{
  /** Bitwise operators, bit by bit */
  friend BitVector operator&(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_map2(a.v_, b.v_, bdd_and); });
  }
  friend BitVector operator|(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_map2(a.v_, b.v_, bdd_or); });
  }
  friend BitVector operator^(const BitVector &a, const BitVector &b) {
    return build([&] { return bvec_map2(a.v_, b.v_, bdd_xor); });
  }
  friend BitVector operator~(const BitVector &a) { return build([&] { return bvec_map1(a.v_, bdd_not); }); }
  ///@}

  ///@{
  /** Unsigned comparisons as BDDs */
  friend Bdd operator<(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_lth(a.v_, b.v_); });
  }
  friend Bdd operator<=(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_lte(a.v_, b.v_); });
  }
  friend Bdd operator>(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_gth(a.v_, b.v_); });
  }
  friend Bdd operator>=(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_gte(a.v_, b.v_); });
  }
  friend Bdd operator==(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_equ(a.v_, b.v_); });
  }
  friend Bdd operator!=(const BitVector &a, const BitVector &b) {
    return Bdd::wrap([&] { return bvec_neq(a.v_, b.v_); });
  }
  ///@}

  friend BitVector ite(const Bdd &c, const BitVector &a, const BitVector &b);

 private:
  /* The result is owned before the error check, so a throw releases it. */
  template <class F>
  static BitVector build(F &&f) {
    detail::begin();
    BitVector b = adopt(f());
    detail::check();
    return b;
  }
  /* The status also covers a handler other than Engine's. */
  static std::pair<BitVector, BitVector> take_pair(int rc, Bvec q, Bvec r) {
    std::pair<BitVector, BitVector> qr(adopt(q), adopt(r));
    detail::check();
    if (rc < 0) throw Error(rc);
    return qr;
  }

  Bvec v_;
};

/** Bit i is if @p c then a[i] else b[i]. */
inline BitVector ite(const Bdd &c, const BitVector &a, const BitVector &b) {
  return BitVector::build([&] { return bvec_ite(c.id(), a.v_, b.v_); });
}

}  // namespace corvane

#endif
