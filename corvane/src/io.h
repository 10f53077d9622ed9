/** @file
 * Saving, loading and printing BDDs. */
#ifndef CORVANE_IO_H
#define CORVANE_IO_H

#include <stdio.h>
#include "kernel.h"
#include "reorder.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Writes @p r in the engine's text format to @p ofile. Returns 0; BDD_ERR_FILE for a NULL
 * stream; BDD_ERR_ILLBDD or BDD_ERR_RUNNING for a bad root. Stream errors are not detected. */
int bdd_save(FILE *ofile, BDD r);
/** bdd_save to the file @p fname (created or truncated). BDD_ERR_FILE when it cannot be opened;
 * a bad root is refused before the file is touched. */
int bdd_fnsave(const char *fname, BDD r);
/** Reads one BDD from @p ifile into *@p root, unreferenced (addref it to keep it), raising the
 * variable count to the file's if needed. Returns 0; BDD_ERR_FORMAT for a malformed text (root
 * set to 0, nothing left referenced); BDD_ERR_MEMORY; BDD_ERR_FILE for NULL arguments;
 * BDD_ERR_RUNNING. */
int bdd_load(FILE *ifile, BDD *root);
/** bdd_load from the file @p fname; BDD_ERR_FILE when it cannot be opened (root untouched). */
int bdd_fnload(const char *fname, BDD *root);

/** Installs the printer of variable names used by every printer (NULL: numbers); returns the
 * previous one. */
bddfilehandler bdd_file_hook(bddfilehandler handler);
/** Prints every live node of the table to stdout. */
void bdd_printall(void);
/** Prints every live node of the table, one per line, to @p ofile. */
void bdd_fprintall(FILE *ofile);
/** Prints the nodes of @p r to stdout. */
void bdd_printtable(BDD r);
/** Prints the nodes of @p r, one per line in table order, to @p ofile. A bad root raises
 * BDD_ERR_ILLBDD and prints nothing. */
void bdd_fprinttable(FILE *ofile, BDD r);
/** Prints the satisfying paths of @p r to stdout. */
void bdd_printset(BDD r);
/** Prints the satisfying paths of @p r as <var:value, ...> groups ("F"/"T" for constants) to @p
 * ofile. BDD_ERR_MEMORY or a bad root: nothing printed. */
void bdd_fprintset(FILE *ofile, BDD r);
/** Prints @p r as a Graphviz digraph to stdout. */
void bdd_printdot(BDD r);
/** Writes @p r as a Graphviz digraph to the file @p fname. Returns 0; BDD_ERR_FILE when it
 * cannot be opened; BDD_ERR_ILLBDD for a bad root. */
int bdd_fnprintdot(const char *fname, BDD r);
/** Prints @p r as a Graphviz digraph to @p ofile. */
void bdd_fprintdot(FILE *ofile, BDD r);

#ifdef __cplusplus
}
#endif

#endif
