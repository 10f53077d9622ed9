/* The consumer's own kernel.h, which an installed Corvane must neither shadow
 * nor be shadowed by. */
#ifndef CONSUMER_OWN_KERNEL_H
#define CONSUMER_OWN_KERNEL_H
#define CONSUMER_OWN_KERNEL 1
#endif
