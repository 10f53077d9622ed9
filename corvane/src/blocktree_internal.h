/* The block forest as the reordering subsystem and the white-box tests
 * see it.  Not installed. */
#ifndef CORVANE_BLOCKTREE_INTERNAL_H
#define CORVANE_BLOCKTREE_INTERNAL_H

#include "blocktree.h"

/* The declared blocks (NULL: none), the identifier of the next whole-range
 * block, and the printer of block identifiers. */
extern BddTree *vartree;
extern int blockid;
extern bddfilehandler reorder_filehandler;

#endif
