// Table sizing: prime sizes against trial division, and the division-free
// remainder that maps hashes onto slots against the plain remainder.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <vector>

#include "src/kernel_internal.h"
#include "src/prime_internal.h"
#include "support.h"

namespace {

// Below 3 there is no odd prime to round to: every request comes out as the
// smallest usable table size, 3, without a modulo by zero.
TEST(Prime, EveryRequestUpToTwentyThousand) {
  for (unsigned n = 0; n <= 20000; n++) {
    ASSERT_EQ(bdd_prime_gte(n), odd_prime_gte(n)) << n;
    ASSERT_EQ(bdd_prime_lte(n), n < 3 ? 3u : odd_prime_lte(n)) << n;
    ASSERT_EQ(prime_gte_quiet(n), odd_prime_gte(n)) << n;
  }
}

// Stepping from prime to prime must visit exactly the primes of a range:
// no composite accepted (pseudoprimes included), no prime skipped.
void walk_range(unsigned from, unsigned to) {
  SCOPED_TRACE(from);
  std::vector<unsigned> want;
  for (unsigned long long c = from | 1u; c <= to; c += 2)
    if (slow_prime((unsigned)c)) want.push_back((unsigned)c);
  ASSERT_FALSE(want.empty());

  for (unsigned (*next)(unsigned) : {bdd_prime_gte, prime_gte_quiet}) {
    std::vector<unsigned> up;
    for (unsigned p = next(from); p <= to; p = next(p + 1)) {
      up.push_back(p);
      if (p == 4294967291u) break;  // the largest 32-bit prime
    }
    EXPECT_EQ(up, want);
  }

  std::vector<unsigned> down;
  for (unsigned p = bdd_prime_lte(to); p >= from; p = bdd_prime_lte(p - 1)) {
    down.push_back(p);
    if (p == 3) break;
  }
  std::reverse(down.begin(), down.end());
  EXPECT_EQ(down, want);
}

TEST(Prime, WalksVisitExactlyThePrimes) {
  walk_range(3, 400000);
  // Carmichael numbers and strong pseudoprimes to base 2 (the last three
  // to bases 2 and 3) above the first range, none with a factor among 3,
  // 5, 7, 11, 13.
  for (unsigned c : {410041u, 488881u, 512461u, 1024651u, 1152271u, 1193221u, 1461241u, 1373653u,
                     1530787u, 1987021u}) {
    ASSERT_FALSE(slow_prime(c)) << c;
    EXPECT_EQ(bdd_prime_gte(c), odd_prime_gte(c)) << c;
    EXPECT_EQ(bdd_prime_lte(c), odd_prime_lte(c)) << c;
  }
  walk_range(1000000000u, 1000020000u);
  walk_range(2147463647u, 2147483647u);
  walk_range(4294947291u, 4294967291u);
}

// A second implementation of the probabilistic test, used only to predict
// how many generator numbers each rounding consumes.
bool ref_witness(unsigned long long w, unsigned long long n) {
  const unsigned long long m = n - 1;
  int bits = 0;
  while ((m >> bits) != 0) bits++;
  unsigned long long d = 1;
  for (int i = bits - 1; i >= 0; i--) {
    unsigned long long x = d;
    d = d * d % n;
    if (d == 1 && x != 1 && x != m) return true;
    if ((m >> i) & 1) d = d * w % n;
  }
  return d != 1;
}
bool ref_is_prime(unsigned n) {
  for (unsigned p : {3u, 5u, 7u, 11u, 13u})
    if (n % p == 0 && n != p) return false;
  for (int round = 0; round < 20; round++) {
    unsigned long long w = (unsigned long long)lrand48() % (n - 1) + 1;
    if (ref_witness(w, n)) return false;
  }
  return true;
}
unsigned ref_gte(unsigned n) {
  if (n % 2 == 0) n++;
  while (!ref_is_prime(n)) n += 2;
  return n;
}
unsigned ref_lte(unsigned n) {
  if (n % 2 == 0) n--;
  while (!ref_is_prime(n)) n -= 2;
  return n;
}

TEST(Prime, ConsumesTheGeneratorLikeTheReference) {
  std::mt19937 rng(1);
  for (int k = 0; k < 3000; k++) {
    unsigned n = 5 + rng() % (k < 2000 ? 100000u : 2000000000u);
    long seed = (long)rng();
    for (bool up : {true, false}) {
      srand48(seed);
      unsigned got = up ? bdd_prime_gte(n) : bdd_prime_lte(n);
      long next = lrand48();
      srand48(seed);
      ASSERT_EQ(got, up ? ref_gte(n) : ref_lte(n)) << n << " up " << up;
      ASSERT_EQ(next, lrand48()) << "draws differ for " << n << " up " << up;
    }
    // The engine's own sizes leave the generator alone.
    const unsigned want = ref_gte(n);
    srand48(seed);
    EXPECT_EQ(prime_gte_quiet(n), want) << n;
    long next = lrand48();
    srand48(seed);
    ASSERT_EQ(next, lrand48()) << "quiet rounding drew for " << n;
  }
}

std::vector<unsigned> dividends_for(unsigned d, std::mt19937 &rng) {
  std::vector<unsigned> v = {0u,          1u,          2u,          d - 1u,     d,
                             d + 1u,      2u * d - 1u, 2u * d,      0x7FFFFFFFu, 0x80000000u,
                             0x80000001u, UINT_MAX - 1u, UINT_MAX};
  // The largest multiples of d and their neighbours, where rounding errors
  // of a reciprocal would show first.
  unsigned top = UINT_MAX / d * d;
  v.push_back(top);
  v.push_back(top - 1u);
  if (top != UINT_MAX) v.push_back(top + 1u);
  for (unsigned k = 1; k < 40; k++) {
    unsigned long long m = (unsigned long long)d * (UINT_MAX / d / k);
    v.push_back((unsigned)m);
    v.push_back((unsigned)m - 1u);
  }
  std::uniform_int_distribution<unsigned> any(0, UINT_MAX);
  for (int k = 0; k < 3000; k++) v.push_back(any(rng));
  return v;
}

void expect_exact(unsigned d, std::mt19937 &rng) {
  const FastMod f = FASTMOD_FOR(d);
  int wrong = 0;
  for (unsigned a : dividends_for(d, rng)) {
    if (FASTMOD(a, f) != a % d && wrong++ < 5)
      ADD_FAILURE() << a << " mod " << d << ": " << FASTMOD(a, f) << " instead of " << a % d;
  }
}

TEST(FastMod, MatchesRemainderForManyDivisors) {
  std::mt19937 rng(12345);
  std::vector<unsigned> divisors = {1u, 2u, 3u, 4u, 5u, 7u, 11u, 13u, 1009u, 65521u, 65536u, 65537u,
                                    0x7FFFFFFFu, 0x80000000u, 0x80000001u, UINT_MAX - 4u,
                                    UINT_MAX - 1u, UINT_MAX};
  // Every prime a table can get: small ones and those around 2^27, the
  // node-table limit.
  for (unsigned p = 3; p < 2000; p = bdd_prime_gte(p + 1)) divisors.push_back(p);
  unsigned lo = 1u << 27, hi = 1u << 27;
  for (int k = 0; k < 40; k++) {
    lo = bdd_prime_lte(lo - 1);
    hi = bdd_prime_gte(hi + 1);
    divisors.push_back(lo);
    divisors.push_back(hi);
  }
  std::uniform_int_distribution<unsigned> any(1, UINT_MAX);
  for (int k = 0; k < 200; k++) divisors.push_back(any(rng));
  for (unsigned d : divisors) expect_exact(d, rng);
}

TEST(FastMod, ExhaustiveForSmallDivisorsOverLowDividends) {
  for (unsigned d = 1; d <= 64; d++) {
    const FastMod f = FASTMOD_FOR(d);
    for (unsigned a = 0; a < 100000; a++) ASSERT_EQ(FASTMOD(a, f), a % d) << a << " mod " << d;
  }
}

}  // namespace
