/* Failure injection of the bit-vector allocations, for the white-box
 * tests.  Not installed. */
#ifndef CORVANE_BVEC_INTERNAL_H
#define CORVANE_BVEC_INTERNAL_H

/* As bddcache_failafter. */
extern "C" int bddbvec_failafter;

#endif
