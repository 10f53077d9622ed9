/* Interaction matrix: a square bit matrix over variable numbers. Row a
 * holds one bit per column, least significant bit first within a byte. */
#include <stdlib.h>
#include <string.h>

#include "imatrix.h"

extern "C" {

imatrix *imatrixNew(int size) {
  if (size < 0) return NULL;
  imatrix *m = (imatrix *)malloc(sizeof(imatrix));
  if (m == NULL) return NULL;
  m->size = size;
  m->rows = NULL;
  if (size == 0) return m;

  m->rows = (char **)malloc(sizeof(char *) * (size_t)size);
  if (m->rows == NULL) {
    free(m);
    return NULL;
  }
  size_t rowbytes = (size_t)(size / 8 + 1);
  for (int n = 0; n < size; n++) {
    m->rows[n] = (char *)calloc(rowbytes, 1);
    if (m->rows[n] == NULL) {
      for (int k = 0; k < n; k++) free(m->rows[k]);
      free(m->rows);
      free(m);
      return NULL;
    }
  }
  return m;
}

void imatrixDelete(imatrix *m) {
  if (m == NULL) return;
  for (int n = 0; n < m->size; n++) free(m->rows[n]);
  free(m->rows);
  free(m);
}

/* Out-of-range entries are ignored (read as clear) rather than touched. */
static inline bool inrange(const imatrix *m, int a, int b) {
  return m != NULL && a >= 0 && b >= 0 && a < m->size && b < m->size;
}

void imatrixSet(imatrix *m, int a, int b) {
  if (!inrange(m, a, b)) return;
  m->rows[a][b / 8] |= (char)(1 << (b % 8));
}

void imatrixClr(imatrix *m, int a, int b) {
  if (!inrange(m, a, b)) return;
  m->rows[a][b / 8] &= (char)~(1 << (b % 8));
}

int imatrixDepends(imatrix *m, int a, int b) {
  if (!inrange(m, a, b)) return 0;
  return (unsigned char)m->rows[a][b / 8] & (1 << (b % 8));
}

static char label(int x) { return x <= 25 ? (char)('a' + x) : (char)(x + 39); }

void imatrixFPrint(imatrix *m, FILE *out) {
  if (m == NULL || out == NULL) return;
  fprintf(out, "    ");
  for (int x = 0; x < m->size; x++) fputc(label(x), out);
  fputc('\n', out);
  for (int y = 0; y < m->size; y++) {
    fprintf(out, "%2d %c", y, label(y));
    for (int x = 0; x < m->size; x++) fputc(imatrixDepends(m, y, x) ? 'x' : ' ', out);
    fputc('\n', out);
  }
}

void imatrixPrint(imatrix *m) { imatrixFPrint(m, stdout); }

}  // extern "C"
