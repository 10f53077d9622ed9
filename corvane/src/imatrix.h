/* Square bit matrix recording which variables interact. */
#ifndef CORVANE_IMATRIX_H
#define CORVANE_IMATRIX_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct s_imatrix {
  char **rows;
  int size;
} imatrix;

imatrix *imatrixNew(int size);
void imatrixDelete(imatrix *m);
void imatrixSet(imatrix *m, int a, int b);
void imatrixClr(imatrix *m, int a, int b);
int imatrixDepends(imatrix *m, int a, int b);
void imatrixFPrint(imatrix *m, FILE *out);
void imatrixPrint(imatrix *m);

#ifdef __cplusplus
}
#endif

#endif
