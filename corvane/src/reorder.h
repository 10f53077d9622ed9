/* Dynamic variable reordering: level exchanges, strategies and controls. */
#ifndef CORVANE_REORDER_H
#define CORVANE_REORDER_H

#include <stdio.h>
#include "kernel.h"
#include "blocktree.h"

#ifdef __cplusplus
extern "C" {
#endif

#define REORDER_NONE 0
#define REORDER_WIN2 1
#define REORDER_WIN2ITE 2
#define REORDER_SIFT 3
#define REORDER_SIFTITE 4
#define REORDER_WIN3 5
#define REORDER_WIN3ITE 6
#define REORDER_RANDOM 7

typedef void (*bddfilehandler)(FILE *, int);
typedef int (*bddsizehandler)(void);

int bdd_swapvar(int x, int y);
void bdd_reorder(int method);
int bdd_autoreorder(int method);
int bdd_autoreorder_times(int method, int num);
int bdd_getreorder_method(void);
int bdd_getreorder_times(void);
void bdd_disable_reorder(void);
void bdd_enable_reorder(void);
int bdd_reorder_ready(void);
int bdd_reorder_auto(void);
int bdd_reorder_gain(void);
bddinthandler bdd_reorder_hook(bddinthandler handler);
bddfilehandler bdd_blockfile_hook(bddfilehandler handler);
bddsizehandler bdd_reorder_probe(bddsizehandler handler);
int bdd_reorder_verbose(int level);
void bdd_default_reohandler(int pre);
int bdd_var2level(int var);
int bdd_level2var(int level);
void bdd_setvarorder(int *order);
void bdd_reorder_init(void);
void bdd_reorder_done(void);

#ifdef __cplusplus
}
#endif

#endif
