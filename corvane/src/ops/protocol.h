/* The protected run every operator's recursion goes through: its roots kept
 * alive, the restart buffer armed, and one retry after an automatic
 * reordering. */
#ifndef CORVANE_OPS_PROTOCOL_H
#define CORVANE_OPS_PROTOCOL_H

#include <setjmp.h>
#include "opcache.h"

/* How node creation (JUMP_REORDER) or a recursion (JUMP_ABANDON) leaves an
 * operation by the restart buffer. */
enum { JUMP_REORDER = 1, JUMP_ABANDON = 2 };

/* A cache that cannot be created deep inside a recursion has no node to
 * stand for it: the error is raised by the creation and the whole operation
 * is abandoned through the armed jump buffer. */
static inline void need_cache(BddCache *c) {
  if (c->table == NULL && cache_create(c) < 0) longjmp(bddexception, JUMP_ABANDON);
}

/* Runs body() with the restart buffer armed; f, g and h are the operation's
 * roots (0 where unused).  A reordering jump runs the reordering and redoes
 * body once with automatic reordering suspended, the previous suspension
 * state restored afterwards; a second jump gives 0.  An abandoned operation
 * (a cache that could not be created in the middle of the recursion) gives
 * BDD_ERR_MEMORY.  body must not own anything with a destructor: a jump
 * leaves it without unwinding. */
template <typename Body>
static BDD run_protected(BDD f, BDD g, BDD h, Body body) {
  /* Written after setjmp and read after a jump back to it: volatile. */
  volatile bool retrying = false;
  volatile int suspension = 0; /* the state to restore while retrying */
  for (;;) {
    switch (setjmp(bddexception)) {
      case 0: {
        jumparmed = 1;
        INITREF();
        /* Arguments may be fresh, unreferenced results of earlier calls:
         * keep them alive through collections inside this one. */
        PUSHREF(f);
        PUSHREF(g);
        PUSHREF(h);
        if (retrying) suspension = reorder_suspend();
        BDD res = body();
        if (retrying) reorder_resume(suspension);
        jumparmed = 0;
        /* Nothing of this operation may pin nodes in later collections. */
        INITREF();
        checkresize();
        return res;
      }
      case JUMP_REORDER:
        jumparmed = 0;
        /* A reordering keeps only referenced nodes; the arguments must
         * outlive it for the retry. */
        bdd_addref(f);
        bdd_addref(g);
        bdd_addref(h);
        bdd_checkreorder();
        bdd_delref(f);
        bdd_delref(g);
        bdd_delref(h);
        if (!retrying) {
          retrying = true;
          continue;
        }
        reorder_resume(suspension);
        INITREF();
        checkresize();
        return 0;
      default:
        jumparmed = 0;
        INITREF();
        if (retrying) reorder_resume(suspension);
        checkresize();
        return BDD_ERR_MEMORY;
    }
  }
}

#endif
