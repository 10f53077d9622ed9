/* The consumer's own cache.h, which an installed Corvane must neither shadow
 * nor be shadowed by. */
#ifndef CONSUMER_OWN_CACHE_H
#define CONSUMER_OWN_CACHE_H
#define CONSUMER_OWN_CACHE 1
#endif
