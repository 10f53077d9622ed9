/* Variable blocks: a forest of variable ranges. Each sibling list is kept
 * in level order; a block's seq lists its variables from its top level
 * downwards. Reordering moves whole blocks, never single variables. */
#include <stdlib.h>

#include "blocktree_internal.h"
#include "kernel_internal.h"

BddTree *vartree = NULL;
int blockid = 0;
bddfilehandler reorder_filehandler = NULL;

/* Fills t->seq from the current order. Refuses (returns -1, seq untouched)
 * when the range names unknown variables or its variables do not sit on
 * consecutive levels, since seq is indexed by level offset. */
static int update_seq_checked(BddTree *t) {
  if (t == NULL || t->seq == NULL) return -1;
  if (t->first < 0 || t->last < t->first || t->last >= bddvarnum) return -1;
  int low = t->first;
  int high = t->first;
  for (int v = t->first; v <= t->last; v++) {
    if (bddvar2level[v] < bddvar2level[low]) low = v;
    if (bddvar2level[v] > bddvar2level[high]) high = v;
  }
  /* Levels are a permutation, so a span equal to the count means the
   * variables fill the span exactly. */
  if (bddvar2level[high] - bddvar2level[low] != t->last - t->first) return -1;
  for (int v = t->first; v <= t->last; v++)
    t->seq[bddvar2level[v] - bddvar2level[low]] = v;
  return 0;
}

/* A block ready for linking, or NULL when allocation fails or the range
 * cannot be laid out in seq; nothing stays allocated on failure. */
static BddTree *make_block(int first, int last, int fixed, int id) {
  BddTree *t = bddtree_new(id);
  if (t == NULL) return NULL;
  t->fixed = (char)fixed;
  t->first = first;
  t->last = last;
  t->seq = (int *)malloc(sizeof(int) * (size_t)(last - first + 1));
  if (t->seq == NULL || update_seq_checked(t) < 0) {
    free(t->seq);
    free(t);
    return NULL;
  }
  return t;
}

static BddTree *addrange_rec(BddTree *t, BddTree *prev, int first, int last, int fixed,
                             int id) {
  if (first < 0 || last < 0 || last < first) return NULL;

  if (t == NULL) {
    BddTree *n = make_block(first, last, fixed, id);
    if (n == NULL) return NULL;
    n->prev = prev;
    return n;
  }

  if (first == t->first && last == t->last) return t;

  if (last < t->first) {
    BddTree *n = make_block(first, last, fixed, id);
    if (n == NULL) return NULL;
    n->next = t;
    n->prev = t->prev;
    t->prev = n;
    return n;
  }

  if (first > t->last) {
    BddTree *r = addrange_rec(t->next, t, first, last, fixed, id);
    if (r == NULL) return NULL;
    t->next = r;
    return t;
  }

  if (first >= t->first && last <= t->last) {
    BddTree *r = addrange_rec(t->child, NULL, first, last, fixed, id);
    if (r == NULL) return NULL;
    t->child = r;
    return t;
  }

  if (first > t->first) return NULL; /* partial overlap */

  /* The new block encloses a run of siblings starting at t. */
  BddTree *d = t;
  for (;;) {
    if (d->first <= last && last < d->last) return NULL; /* cuts d */
    if (d->next != NULL && last >= d->next->first)
      d = d->next;
    else
      break;
  }
  BddTree *n = make_block(first, last, fixed, id);
  if (n == NULL) return NULL;
  n->next = d->next;
  if (d->next != NULL) d->next->prev = n;
  n->prev = t->prev;
  n->child = t;
  t->prev = NULL;
  d->next = NULL;
  return n;
}

extern "C" {

BddTree *bddtree_new(int id) {
  BddTree *t = (BddTree *)malloc(sizeof(BddTree));
  if (t == NULL) return NULL;
  t->first = t->last = -1;
  t->pos = 0;
  t->seq = NULL;
  t->fixed = 1;
  t->id = id;
  t->next = t->prev = t->child = NULL;
  return t;
}

void bddtree_del(BddTree *t) {
  /* Walk the sibling list iteratively: long root lists (one block per
   * variable) would otherwise recurse once per block. */
  while (t != NULL) {
    BddTree *next = t->next;
    bddtree_del(t->child);
    free(t->seq);
    free(t);
    t = next;
  }
}

BddTree *bddtree_addrange(BddTree *t, int first, int last, int fixed, int id) {
  return addrange_rec(t, NULL, first, last, fixed, id);
}

void update_seq(BddTree *t) { (void)update_seq_checked(t); }

static int insert_block(int first, int last, int fixed) {
  BddTree *t = bddtree_addrange(vartree, first, last, fixed, blockid);
  if (t == NULL) return bdd_error(BDD_ERR_VARBLOCK);
  vartree = t;
  return blockid++;
}

int bdd_addvarblock(BDD b, int fixed) {
  int *v = NULL;
  int n = 0;
  int err = bdd_scanset(b, &v, &n);
  if (err < 0) return err;
  if (n == 0) {
    free(v);
    return bdd_error(BDD_ERR_VARBLOCK);
  }
  int first = v[0], last = v[0];
  for (int k = 1; k < n; k++) {
    if (v[k] < first) first = v[k];
    if (v[k] > last) last = v[k];
  }
  free(v);
  return insert_block(first, last, fixed);
}

int bdd_intaddvarblock(int first, int last, int fixed) {
  if (first < 0 || first >= bddvarnum || last < 0 || last >= bddvarnum)
    return bdd_error(BDD_ERR_UNKNOWN_VAR);
  return insert_block(first, last, fixed);
}

void bdd_varblockall(void) {
  for (int v = 0; v < bddvarnum; v++) bdd_intaddvarblock(v, v, 1);
}

void bdd_clrvarblocks(void) {
  bddtree_del(vartree);
  vartree = NULL;
  blockid = 0;
}

static void print_id(FILE *out, int id) {
  if (reorder_filehandler != NULL)
    reorder_filehandler(out, id);
  else
    fprintf(out, "%3d", id);
}

static void print_list(FILE *out, BddTree *t, int depth) {
  for (; t != NULL; t = t->next) {
    fprintf(out, "%*s", depth * 3, "");
    print_id(out, t->id);
    if (t->child != NULL) {
      fprintf(out, "{\n");
      print_list(out, t->child, depth + 1);
      fprintf(out, "%*s", depth * 3, "");
      print_id(out, t->id);
      fprintf(out, "}\n");
    } else {
      fprintf(out, "\n");
    }
  }
}

void bdd_fprintorder(FILE *out) {
  if (out == NULL) return;
  print_list(out, vartree, 0);
}

void bdd_printorder(void) { bdd_fprintorder(stdout); }

}  // extern "C"
