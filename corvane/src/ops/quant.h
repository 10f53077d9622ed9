/* The quantifiers' per-level marking of a variable set, as restriction
 * reads it after varset2svartable. */
#ifndef CORVANE_OPS_QUANT_H
#define CORVANE_OPS_QUANT_H

#include "opcache.h"

struct VarMarks {
  const int *level; /* per level: id (positive literal), -id (negative), else unmarked */
  int id;
  int last; /* the deepest marked level */
};

/* Allocates the marking table when it is absent; BDD_ERR_MEMORY (raised)
 * when it cannot be had. */
int quant_marks_ready(void) CORVANE_HIDDEN;
/* The current marking, valid until the next one. */
VarMarks quant_marks(void) CORVANE_HIDDEN;

#endif
