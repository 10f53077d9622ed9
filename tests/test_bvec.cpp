// Bit vectors against integer arithmetic: every operation, for widths 1 to
// 5, evaluated under every assignment of its inputs.  The same table of
// operations then checks reference hygiene and allocation failures.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "src/bvec_internal.h"
#include "oracle.h"
#include "support.h"

namespace {

constexpr int kMaxWidth = 5;
constexpr int kVars = 2 * kMaxWidth + 1;

// Operands of width w: x on variables 0, 2, 4, ..., y on 1, 3, 5, ...,
// and a single-variable BDD z on variable 2w.
struct In {
  int w;
  Bvec x, y;
  BDD z;
};

uint64_t gather(unsigned a, int w, int from) {
  uint64_t v = 0;
  for (int i = 0; i < w; i++) v |= (uint64_t)((a >> (2 * i + from)) & 1u) << i;
  return v;
}

// The one evaluator: the integer a vector holds under assignment a.
uint64_t value(const Bvec &v, unsigned a) {
  uint64_t r = 0;
  for (int i = 0; i < v.nbits; i++)
    if (oracle::bdd_eval(v.bits[i], a)) r |= uint64_t{1} << i;
  return r;
}

uint64_t mask(int w) { return w >= 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1; }

// A comparison result as a 1-bit vector, so that it is evaluated and
// released like every other result.
Bvec one(BDD b) {
  Bvec v = bvec_false(1);
  if (v.bits != nullptr) v.bits[0] = bdd_addref(b);
  return v;
}

// q in the low bits, r above; empty when either is (after an injected
// allocation failure).
Bvec concat(Bvec q, Bvec r) {
  Bvec v = {0, nullptr};
  if (q.nbits > 0 && r.nbits > 0) {
    v = bvec_false(q.nbits + r.nbits);
    for (int i = 0; i < v.nbits; i++)
      v.bits[i] = bdd_addref(i < q.nbits ? q.bits[i] : r.bits[i - q.nbits]);
  }
  for (Bvec t : {q, r}) bvec_free(t);
  return v;
}

enum Uses { X = 1, Y = 2, Z = 4 };

struct Case {
  std::string name;
  int width;  // of the result
  int uses;   // inputs the result depends on
  std::function<Bvec(const In &)> make;
  std::function<uint64_t(uint64_t X, uint64_t Y, uint64_t z)> expect;
};

std::vector<Case> cases(int w) {
  const uint64_t M = uint64_t{1} << w, all = M - 1;
  std::vector<Case> t = {
      {"add", w, X | Y, [](const In &i) { return bvec_add(i.x, i.y); },
       [](uint64_t a, uint64_t b, uint64_t) { return a + b; }},
      {"sub", w, X | Y, [](const In &i) { return bvec_sub(i.x, i.y); },
       [](uint64_t a, uint64_t b, uint64_t) { return a - b; }},
      {"mul", 2 * w, X | Y, [](const In &i) { return bvec_mul(i.x, i.y); },
       [](uint64_t a, uint64_t b, uint64_t) { return a * b; }},
      {"div", 2 * w, X | Y,
       [](const In &i) {
         // div releases what the outputs held on entry
         Bvec q = bvec_copy(i.x), r = bvec_copy(i.y);
         if (q.bits == nullptr || r.bits == nullptr || bvec_div(i.x, i.y, &q, &r) != 0) {
           for (Bvec u : {q, r}) bvec_free(u);
           return Bvec{0, nullptr};
         }
         return concat(q, r);
       },
       [=](uint64_t a, uint64_t b, uint64_t) { return b == 0 ? all | a << w : a / b | (a % b) << w; }},
      {"ite", w, X | Y | Z, [](const In &i) { return bvec_ite(i.z, i.x, i.y); },
       [](uint64_t a, uint64_t b, uint64_t z) { return z ? a : b; }},
      {"map1 not", w, X, [](const In &i) { return bvec_map1(i.x, bdd_not); },
       [](uint64_t a, uint64_t, uint64_t) { return ~a; }},
      {"map2 xor", w, X | Y, [](const In &i) { return bvec_map2(i.x, i.y, bdd_xor); },
       [](uint64_t a, uint64_t b, uint64_t) { return a ^ b; }},
      {"map3 ite", w, X | Y,
       [](const In &i) {
         Bvec c = bvec_con(i.w, 5);
         Bvec v = c.bits == nullptr ? c : bvec_map3(i.x, i.y, c, bdd_ite);
         bvec_free(c);
         return v;
       },
       [](uint64_t a, uint64_t b, uint64_t) { return (a & b) | (~a & 5); }},
      {"copy", w, X, [](const In &i) { return bvec_copy(i.x); },
       [](uint64_t a, uint64_t, uint64_t) { return a; }},
      {"coerce wider", w + 2, X, [](const In &i) { return bvec_coerce(i.w + 2, i.x); },
       [](uint64_t a, uint64_t, uint64_t) { return a; }},
      {"coerce narrower", w - 1, X, [](const In &i) { return bvec_coerce(i.w - 1, i.x); },
       [](uint64_t a, uint64_t, uint64_t) { return a; }},
      {"divfixed 3 quotient only", w, X,
       [](const In &i) {
         Bvec q = {0, nullptr};
         bvec_divfixed(i.x, 3, &q, nullptr);
         return q;
       },
       [](uint64_t a, uint64_t, uint64_t) { return a / 3; }},
  };
  const struct {
    const char *name;
    BDD (*f)(Bvec, Bvec);
    bool (*p)(uint64_t, uint64_t);
  } cmps[] = {
      {"lth", bvec_lth, [](uint64_t a, uint64_t b) { return a < b; }},
      {"lte", bvec_lte, [](uint64_t a, uint64_t b) { return a <= b; }},
      {"gth", bvec_gth, [](uint64_t a, uint64_t b) { return a > b; }},
      {"gte", bvec_gte, [](uint64_t a, uint64_t b) { return a >= b; }},
      {"equ", bvec_equ, [](uint64_t a, uint64_t b) { return a == b; }},
      {"neq", bvec_neq, [](uint64_t a, uint64_t b) { return a != b; }},
  };
  for (auto &c : cmps)
    t.push_back({c.name, 1, X | Y, [f = c.f](const In &i) { return one(f(i.x, i.y)); },
                 [p = c.p](uint64_t a, uint64_t b, uint64_t) { return (uint64_t)p(a, b); }});
  for (int c : {0, 1, 3, 5, 7, -1, -3, (int)M - 1, (int)M + 1, INT_MAX, INT_MIN})
    t.push_back({"mulfixed " + std::to_string(c), w, X, [c](const In &i) { return bvec_mulfixed(i.x, c); },
                 [c](uint64_t a, uint64_t, uint64_t) { return a * (uint64_t)(int64_t)c; }});
  // every divisor the width holds, and two it does not
  for (int c = 1; c <= (int)M + 1; c++)
    t.push_back({"divfixed " + std::to_string(c), 2 * w, X,
                 [c](const In &i) {
                   Bvec q = {0, nullptr}, r = {0, nullptr};
                   bvec_divfixed(i.x, c, &q, &r);
                   return concat(q, r);
                 },
                 [c, w](uint64_t a, uint64_t, uint64_t) { return a / c | (a % c) << w; }});
  for (int k = 0; k <= w + 1; k++) {
    uint64_t low = mask(std::min(k, w)), high = all & ~(all >> std::min(k, w));
    t.push_back({"shlfixed " + std::to_string(k), w, X | Z,
                 [k](const In &i) { return bvec_shlfixed(i.x, k, i.z); },
                 [k, low](uint64_t a, uint64_t, uint64_t z) { return (a << k) | (z ? low : 0); }});
    t.push_back({"shrfixed " + std::to_string(k), w, X | Z,
                 [k](const In &i) { return bvec_shrfixed(i.x, k, i.z); },
                 [k, high](uint64_t a, uint64_t, uint64_t z) { return (a >> k) | (z ? high : 0); }});
  }
  // amounts read from the low rw bits of y: narrower than the counts up to
  // the width, and (from w = 2) up to amounts beyond the width
  for (int rw = 1; rw <= w; rw++) {
    for (bool left : {true, false})
      t.push_back({std::string(left ? "shl" : "shr") + " by " + std::to_string(rw) + " bits", w, X | Y | Z,
                   [rw, left](const In &i) {
                     Bvec amount = bvec_var(rw, 1, 2);
                     Bvec v = left ? bvec_shl(i.x, amount, i.z) : bvec_shr(i.x, amount, i.z);
                     bvec_free(amount);
                     return v;
                   },
                   [rw, left, w, all](uint64_t a, uint64_t b, uint64_t z) {
                     uint64_t k = b & mask(rw);
                     if ((int)k >= w) return z ? all : 0;
                     uint64_t fill = z ? (left ? mask((int)k) : all & ~(all >> k)) : 0;
                     return (left ? a << k : a >> k) | fill;
                   }});
  }
  return t;
}

In operands(int w) { return {w, bvec_var(w, 0, 2), bvec_var(w, 1, 2), bdd_ithvar(2 * w)}; }

void drop(In &in) {
  for (Bvec u : {in.x, in.y}) bvec_free(u);
}

// Evaluates the case's result under every assignment of the inputs it uses.
void check_against_integers(const Case &c, const In &in) {
  SCOPED_TRACE("width " + std::to_string(in.w) + ", " + c.name);
  Bvec v = c.make(in);
  ASSERT_EQ(v.nbits, c.width);
  const int w = in.w;
  unsigned used = 0;
  for (int i = 0; i < w; i++) used |= ((c.uses & X) ? 1u : 0u) << (2 * i) | ((c.uses & Y) ? 2u : 0u) << (2 * i);
  if (c.uses & Z) used |= 1u << (2 * w);
  for (unsigned a = 0; a < (1u << (2 * w + 1)); a++) {
    if (a & ~used) continue;
    uint64_t xv = gather(a, w, 0), yv = gather(a, w, 1), z = (a >> (2 * w)) & 1u;
    uint64_t want = c.expect(xv, yv, z) & mask(c.width), got = value(v, a);
    if (got != want) {
      ADD_FAILURE() << "x=" << xv << " y=" << yv << " z=" << z << ": got " << got << ", want " << want;
      break;
    }
  }
  bvec_free(v);
}

class Bvecs : public ::testing::Test {
 protected:
  void SetUp() override { start_engine(20000, 2000, kVars); }
  void TearDown() override {
    bddbvec_failafter = -1;
    bdd_done();
  }
};

// A roomy table, a tiny one (collections and growth inside every
// operation, so an intermediate BDD left without a reference is lost), and
// the tiny one under automatic sifting (operations restarted, the order
// moving under the vectors).
struct Config {
  int nodes;
  bool reorder;
  const char *name;
};
void PrintTo(const Config &c, std::ostream *os) { *os << c.name; }

int reorders = 0;
void count_reorders(int pre) { reorders += pre; }

class Arith : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override {
    start_engine(GetParam().nodes, 100, kVars);
    // grow only when a collection frees nothing: collections stay frequent
    if (GetParam().nodes < 100) bdd_setminfreenodes(0);
    reorders = 0;
    if (GetParam().reorder) {
      bdd_varblockall();
      bdd_autoreorder(REORDER_SIFT);
      bdd_reorder_hook(count_reorders);
    }
  }
  void TearDown() override {
    KernelStats ks;
    bdd_stats(&ks);
    // the configuration did what it is there for
    EXPECT_TRUE(GetParam().nodes > 100 || ks.gbcollectnum > 20) << "collections: " << ks.gbcollectnum;
    EXPECT_TRUE(!GetParam().reorder || reorders > 0);
    bdd_done();
  }
};

TEST_P(Arith, EveryOperationMatchesIntegerArithmetic) {
  for (int w = 1; w <= kMaxWidth; w++) {
    In in = operands(w);
    for (unsigned a = 0; a < (1u << (2 * w)); a += 7) {
      ASSERT_EQ(value(in.x, a), gather(a, w, 0));
      ASSERT_EQ(value(in.y, a), gather(a, w, 1));
    }
    for (const Case &c : cases(w)) check_against_integers(c, in);
    drop(in);
  }
  EXPECT_TRUE(recorded_errors.empty());
}
INSTANTIATE_TEST_SUITE_P(Tables, Arith,
                         ::testing::Values(Config{20000, false, "roomy"}, Config{50, false, "tiny"},
                                           Config{50, true, "tiny_sifting"}),
                         [](const ::testing::TestParamInfo<Config> &i) { return std::string(i.param.name); });

TEST_F(Bvecs, ConstantsAndVariableConstructors) {
  for (int w = 0; w <= 6; w++)
    for (int val = -70; val <= 70; val++) {
      Bvec c = bvec_con(w, val);
      ASSERT_EQ(c.nbits, w);
      EXPECT_EQ(bvec_isconst(c), 1);
      EXPECT_EQ((uint64_t)(unsigned)bvec_val(c), (uint64_t)(int64_t)val & mask(w)) << w << " " << val;
      bvec_free(c);
    }
  // bits above 31 copy the sign of the constant
  Bvec wide = bvec_con(40, -2);
  EXPECT_EQ(wide.bits[0], bddfalse);
  EXPECT_EQ(wide.bits[39], bddtrue);
  bvec_free(wide);
  Bvec t = bvec_true(3), f = bvec_false(3);
  EXPECT_EQ(bvec_val(t), 7);
  EXPECT_EQ(bvec_val(f), 0);

  int vars[] = {7, 2, 9};
  Bvec v = bvec_varvec(3, vars), s = bvec_var(3, 9, -2);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(v.bits[i], bdd_ithvar(vars[i]));
    EXPECT_EQ(s.bits[i], bdd_ithvar(9 - 2 * i));
  }
  EXPECT_EQ(bvec_isconst(v), 0);
  EXPECT_EQ(bvec_val(v), 0);
  Bvec empty = {0, nullptr};
  EXPECT_EQ(bvec_isconst(empty), 1);
  EXPECT_EQ(bvec_val(empty), 0);

  int sizes[] = {4, 8};
  ASSERT_EQ(fdd_extdomain(sizes, 2), 0);
  for (int d = 0; d < 2; d++) {
    Bvec fv = bvec_varfdd(d);
    ASSERT_EQ(fv.nbits, fdd_varnum(d));
    for (int i = 0; i < fv.nbits; i++) EXPECT_EQ(fv.bits[i], bdd_ithvar(fdd_vars(d)[i]));
    bvec_free(fv);
  }
  for (Bvec x : {t, f, v, s}) bvec_free(x);
  EXPECT_TRUE(recorded_errors.empty());
}

// Results released, a collection leaves exactly the nodes there were: no
// operation keeps a reference, none takes one from its operands.
TEST_F(Bvecs, ReleasedResultsLeaveNoNodesBehind) {
  const int w = 4;
  In vars = operands(w);
  // operands whose bits are internal nodes that only they keep alive
  In in = {w, bvec_add(vars.x, vars.y), bvec_sub(vars.x, vars.y), bdd_addref(bdd_xor(vars.z, bdd_ithvar(1)))};
  const int before = live_nodes();
  for (const Case &c : cases(w)) bvec_free(c.make(in));
  EXPECT_EQ(live_nodes(), before);
  for (unsigned a = 0; a < (1u << (2 * w)); a++) {
    uint64_t xv = gather(a, w, 0), yv = gather(a, w, 1);
    ASSERT_EQ(value(in.x, a), (xv + yv) & mask(w));
    ASSERT_EQ(value(in.y, a), (xv - yv) & mask(w));
  }
  bdd_delref(in.z);
  drop(in);
  drop(vars);
  EXPECT_TRUE(recorded_errors.empty());
}

// Failing the k-th array allocation of an operation, for every k it makes:
// BDD_ERR_MEMORY, an empty result, nothing leaked; with none failing, the
// same bits as an undisturbed run.
TEST_F(Bvecs, AllocationFailuresAreReportedAndLeakNothing) {
  const int w = 3;
  In in = operands(w);
  const int before = live_nodes();
  for (const Case &c : cases(w)) {
    SCOPED_TRACE(c.name);
    Bvec want = c.make(in);
    for (int k = 0;; k++) {
      recorded_errors.clear();
      bddbvec_failafter = k;
      Bvec got = c.make(in);
      bool failed = bddbvec_failafter < 0;
      bddbvec_failafter = -1;
      if (!failed) {
        ASSERT_EQ(got.nbits, want.nbits);
        for (int i = 0; i < got.nbits; i++) EXPECT_EQ(got.bits[i], want.bits[i]);
        EXPECT_TRUE(recorded_errors.empty());
        bvec_free(got);
        break;
      }
      EXPECT_EQ(got.nbits, 0) << "k=" << k;
      EXPECT_EQ(got.bits, nullptr);
      ASSERT_FALSE(recorded_errors.empty());
      for (int e : recorded_errors) EXPECT_EQ(e, BDD_ERR_MEMORY);
      bvec_free(got);
    }
    bvec_free(want);
  }
  EXPECT_EQ(live_nodes(), before);
  drop(in);
}

TEST_F(Bvecs, RefusalsReportTheirCodeAndGiveFixedResults) {
  Bvec x3 = bvec_var(3, 0, 1), x4 = bvec_var(4, 3, 1), empty = {0, nullptr};
  BDD bad_bits[] = {0, bddnodesize};
  Bvec unknown = {2, bad_bits}, hollow = {2, nullptr}, negative = {-1, nullptr};
  auto expect_error = [](int code, const std::function<void()> &call) {
    recorded_errors.clear();
    call();
    EXPECT_EQ(recorded_errors, std::vector<int>{code});
  };
  auto expect_empty = [&](int code, const std::function<Bvec()> &call) {
    expect_error(code, [&] {
      Bvec v = call();
      EXPECT_EQ(v.nbits, 0);
      EXPECT_EQ(v.bits, nullptr);
    });
  };
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_add(x3, x4); });
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_sub(x4, x3); });
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_map2(x3, x4, bdd_and); });
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_ite(bddtrue, x3, x4); });
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_add(hollow, hollow); });
  expect_empty(BVEC_ERR_SIZE, [&] { return bvec_copy(negative); });
  expect_empty(BDD_ERR_ILLBDD, [&] { return bvec_mul(x3, unknown); });
  expect_empty(BDD_ERR_ILLBDD, [&] { return bvec_shlfixed(x3, 1, -1); });
  expect_empty(BDD_ERR_ILLBDD, [&] { return bvec_ite(bddnodesize, x3, x3); });
  expect_empty(BVEC_ERR_SHIFT, [&] { return bvec_shrfixed(x3, -1, bddfalse); });
  expect_empty(BDD_ERR_OP, [&] { return bvec_map1(x3, nullptr); });
  for (int bad : {-1, INT_MIN}) {
    expect_empty(BDD_ERR_SIZE, [&] { return bvec_true(bad); });
    expect_empty(BDD_ERR_SIZE, [&] { return bvec_con(bad, 3); });
    expect_empty(BDD_ERR_SIZE, [&] { return bvec_coerce(bad, x3); });
    expect_empty(BDD_ERR_SIZE, [&] { return bvec_var(bad, 0, 1); });
  }
  expect_empty(BDD_ERR_UNKNOWN_VAR, [&] { return bvec_var(3, kVars - 2, 1); });
  expect_empty(BDD_ERR_UNKNOWN_VAR, [&] { return bvec_var(2, 1, -2); });
  expect_empty(BDD_ERR_UNKNOWN_VAR, [&] { return bvec_var(3, 0, INT_MAX); });
  expect_empty(BDD_ERR_UNKNOWN_VAR, [&] { return bvec_varvec(2, nullptr); });
  expect_empty(BDD_ERR_UNKNOWN_VAR, [&] { return bvec_varfdd(0); });

  // Empty operands: an empty result, no error.
  for (auto f : {bvec_add, bvec_sub, bvec_mul}) {
    recorded_errors.clear();
    EXPECT_EQ(f(empty, x3).nbits, 0);
    EXPECT_EQ(f(x3, empty).bits, nullptr);
    EXPECT_TRUE(recorded_errors.empty());
  }

  // Division refusals leave the outputs untouched.
  Bvec q = x3, r = x4;
  expect_error(BVEC_ERR_DIVZERO, [&] { EXPECT_EQ(bvec_divfixed(x3, 0, &q, &r), BVEC_ERR_DIVZERO); });
  expect_error(BVEC_ERR_DIVZERO, [&] { EXPECT_EQ(bvec_divfixed(x3, INT_MIN, &q, &r), BVEC_ERR_DIVZERO); });
  expect_error(BVEC_ERR_SIZE, [&] { EXPECT_EQ(bvec_divfixed(empty, 3, &q, &r), BVEC_ERR_SIZE); });
  expect_error(BVEC_ERR_SIZE, [&] { EXPECT_EQ(bvec_div(x3, x4, &q, &r), BVEC_ERR_SIZE); });
  expect_error(BVEC_ERR_SIZE, [&] { EXPECT_EQ(bvec_div(empty, empty, &q, &r), BVEC_ERR_SIZE); });
  EXPECT_EQ(q.bits, x3.bits);
  EXPECT_EQ(r.bits, x4.bits);

  // Comparisons: an empty operand and differing widths give fixed results.
  BDD (*const cmp[])(Bvec, Bvec) = {bvec_lth, bvec_lte, bvec_equ, bvec_gth, bvec_gte, bvec_neq};
  const BDD on_empty[] = {0, 0, 0, 1, 1, 1}, on_mismatch[] = {0, 1, 1, 0, 1, 0};
  for (int i = 0; i < 6; i++) {
    recorded_errors.clear();
    EXPECT_EQ(cmp[i](empty, x3), on_empty[i]) << i;
    EXPECT_TRUE(recorded_errors.empty());
    expect_error(BVEC_ERR_SIZE, [&] { EXPECT_EQ(cmp[i](x3, x4), on_mismatch[i]) << i; });
    expect_error(BDD_ERR_ILLBDD, [&] { EXPECT_EQ(cmp[i](unknown, unknown), bddfalse) << i; });
  }

  Bvec sum = bvec_add(x3, x3);
  for (Bvec x : {x3, x4}) bvec_free(x);
  bdd_done();
  bdd_error_hook(record_errors);
  expect_empty(BDD_ERR_RUNNING, [] { return bvec_var(1, 0, 1); });
  // a vector is released the same way once the engine has stopped
  recorded_errors.clear();
  bvec_free(sum);
  EXPECT_TRUE(recorded_errors.empty());
  start_engine(100, 10, 1);
}

}  // namespace
