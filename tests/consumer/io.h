/* The consumer's own io.h, which an installed Corvane must neither shadow
 * nor be shadowed by. */
#ifndef CONSUMER_OWN_IO_H
#define CONSUMER_OWN_IO_H
#define CONSUMER_OWN_IO 1
#endif
