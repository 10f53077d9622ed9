/** @file
 * Square bit matrix recording which variables interact. */
#ifndef CORVANE_IMATRIX_H
#define CORVANE_IMATRIX_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Square bit matrix: which variables occur together. */
typedef struct s_imatrix {
  char **rows;
  int size;
} imatrix;

/** A square bit matrix of @p size rows, all clear, owned by the caller (imatrixDelete); NULL if
 * allocation fails. */
imatrix *imatrixNew(int size);
/** Frees @p m. */
void imatrixDelete(imatrix *m);
/** Sets entry (@p a, @p b); indices are not checked. */
void imatrixSet(imatrix *m, int a, int b);
/** Clears entry (@p a, @p b); indices are not checked. */
void imatrixClr(imatrix *m, int a, int b);
/** Non-zero when entry (@p a, @p b) is set. */
int imatrixDepends(imatrix *m, int a, int b);
/** Prints @p m to @p out. */
void imatrixFPrint(imatrix *m, FILE *out);
/** Prints @p m to stdout. */
void imatrixPrint(imatrix *m);

#ifdef __cplusplus
}
#endif

#endif
