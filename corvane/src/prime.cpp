// Prime sizes for hashed tables. The Miller-Rabin witnesses come from the
// process's lrand48 sequence, which bdd_init seeds: the numbers drawn here
// shift what a later random reordering sees, so the draw order matters.
#include <stdint.h>
#include <stdlib.h>
#include "prime_internal.h"

static int numberOfBits(unsigned int v) {
  int bits = 0;
  while (v) {
    v >>= 1;
    bits++;
  }
  return bits;
}

static bool hasEasyFactors(unsigned int n) {
  static constexpr unsigned int small[] = {3, 5, 7, 11, 13};
  for (unsigned int p : small)
    if (n % p == 0 && n != p) return true;
  return false;
}

static bool isWitness(unsigned int w, unsigned int n) {
  unsigned int m = n - 1;
  uint64_t d = 1;
  for (int i = numberOfBits(m) - 1; i >= 0; i--) {
    uint64_t x = d;
    d = (d * d) % n;
    if (d == 1 && x != 1 && x != m) return true;
    if (m & (1u << i)) d = (d * w) % n;
  }
  return d != 1;
}

static bool isMillerRabinPrime(unsigned int n) {
  for (int round = 0; round < 20; round++) {
    unsigned int w = (unsigned int)((unsigned long)lrand48() % (n - 1)) + 1;
    if (isWitness(w, n)) return false;
  }
  return true;
}

// Below 3 no odd prime exists and the witness draw would divide by zero.
static bool isPrime(unsigned int n) {
  if (n < 3) return false;
  return !hasEasyFactors(n) && isMillerRabinPrime(n);
}

extern "C" unsigned int bdd_prime_gte(unsigned int n) {
  if (n < 3) return 3;
  if ((n & 1) == 0) n++;
  while (!isPrime(n)) n += 2;
  return n;
}

extern "C" unsigned int bdd_prime_lte(unsigned int n) {
  if (n <= 3) return 3;
  if ((n & 1) == 0) n--;
  while (!isPrime(n)) n -= 2;
  return n;
}

// The same rounding for sizes the engine picks for itself, outside the
// documented sequence of calls: witnesses 2, 3, 5, 7 and 11 decide every
// 32-bit number, and the generator is left alone, so that such sizes do
// not shift what a later random reordering draws.
static bool isPrimeQuiet(unsigned int n) {
  if (n < 3) return false;
  if (hasEasyFactors(n)) return false;
  static constexpr unsigned int witnesses[] = {2, 3, 5, 7, 11};
  for (unsigned int w : witnesses)
    if (w % n != 0 && isWitness(w % n, n)) return false;
  return true;
}

unsigned int prime_gte_quiet(unsigned int n) {
  if (n < 3) return 3;
  if ((n & 1) == 0) n++;
  while (!isPrimeQuiet(n)) n += 2;
  return n;
}
