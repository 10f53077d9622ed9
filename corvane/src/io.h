/* Saving, loading and printing BDDs. */
#ifndef CORVANE_IO_H
#define CORVANE_IO_H

#include <stdio.h>
#include "kernel.h"
#include "reorder.h"

#ifdef __cplusplus
extern "C" {
#endif

int bdd_save(FILE *ofile, BDD r);
int bdd_fnsave(const char *fname, BDD r);
int bdd_load(FILE *ifile, BDD *root);
int bdd_fnload(const char *fname, BDD *root);

bddfilehandler bdd_file_hook(bddfilehandler handler);
void bdd_printall(void);
void bdd_fprintall(FILE *ofile);
void bdd_printtable(BDD r);
void bdd_fprinttable(FILE *ofile, BDD r);
void bdd_printset(BDD r);
void bdd_fprintset(FILE *ofile, BDD r);
void bdd_printdot(BDD r);
int bdd_fnprintdot(const char *fname, BDD r);
void bdd_fprintdot(FILE *ofile, BDD r);

#ifdef __cplusplus
}
#endif

#endif
