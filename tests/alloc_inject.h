// An allocator that fails the n-th request on demand, for suites that
// check the out-of-memory paths. It replaces malloc and friends for the
// whole test binary, so include it from exactly one file of a suite.
// glibc only: under the sanitizers (which bring their own allocator)
// ALLOC_INJECTION is 0 and suites skip.
#ifndef CORVANE_TESTS_ALLOC_INJECT_H
#define CORVANE_TESTS_ALLOC_INJECT_H

#include <gtest/gtest.h>
#include <stdlib.h>

#if defined(__SANITIZE_ADDRESS__)
#define ALLOC_INJECTION 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ALLOC_INJECTION 0
#endif
#endif
#ifndef ALLOC_INJECTION
#define ALLOC_INJECTION 1
#endif

namespace alloc_inject {
inline long fail_countdown = 0;  // 0: never fail; n: fail the n-th request from now
inline long live_blocks = 0;     // allocations not yet released
inline bool failed_once = false;
inline size_t fail_from_bytes = 0;  // 0: off; n: every request of n bytes or more fails
inline long refused_large = 0;      // requests failed that way

inline bool should_fail(size_t bytes) {
  if (fail_from_bytes > 0 && bytes >= fail_from_bytes) {
    refused_large++;
    return true;
  }
  if (fail_countdown > 0 && --fail_countdown == 0) {
    failed_once = true;
    return true;
  }
  return false;
}

// Runs op with its n-th allocation failing, for n = 1, 2, ..., and then
// check(n, failed); op returns whether it finished all the same, and a run
// is failed when it met the failure and did not. A failed run must release
// every block it took. Stops after the first run that is not failed.
template <typename Op, typename Check>
void each_failing_request(Op op, Check check) {
  for (long n = 1; n <= 1000; n++) {
    const long before = live_blocks;
    failed_once = false;
    fail_countdown = n;
    const bool finished = op();
    fail_countdown = 0;
    const bool failed = failed_once && !finished;
    if (failed) {
      ASSERT_EQ(live_blocks, before) << "leak after failing request " << n;
    }
    check(n, failed);
    if (!failed || ::testing::Test::HasFatalFailure()) return;
  }
  FAIL() << "still failing after 1000 requests";
}
}  // namespace alloc_inject

#if ALLOC_INJECTION
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n) {
  if (alloc_inject::should_fail(n)) return nullptr;
  void *p = __libc_malloc(n);
  if (p) alloc_inject::live_blocks++;
  return p;
}
void *calloc(size_t n, size_t s) {
  if (alloc_inject::should_fail(n * s)) return nullptr;
  void *p = __libc_calloc(n, s);
  if (p) alloc_inject::live_blocks++;
  return p;
}
void *realloc(void *q, size_t n) {
  if (alloc_inject::should_fail(n)) return nullptr;
  void *p = __libc_realloc(q, n);
  if (p && !q) alloc_inject::live_blocks++;
  return p;
}
void free(void *p) {
  if (p) alloc_inject::live_blocks--;
  __libc_free(p);
}
}
#endif

#endif
