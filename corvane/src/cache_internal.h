/* Failure injection of the cache allocations, for the white-box tests.
 * Not installed. */
#ifndef CORVANE_CACHE_INTERNAL_H
#define CORVANE_CACHE_INTERNAL_H

/* The allocation made when the counter reaches 0 fails once; negative
 * disables.  Counts the public caches' tables and the operator caches'
 * tables alike. */
extern "C" int bddcache_failafter;

#endif
