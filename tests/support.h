// Shared helpers for the test suites.
#ifndef CORVANE_TEST_SUPPORT_H
#define CORVANE_TEST_SUPPORT_H

#include <stdio.h>
#include <functional>
#include <string>
#include <vector>
#include <corvane/corvane.h>

// Error handler that records codes instead of aborting. Tests install it
// right after bdd_init: the default handler ends the process.
void record_errors(int code);
extern std::vector<int> recorded_errors;

// Start an engine with the recording handler installed, the collection
// report silenced and `vars` variables declared.
void start_engine(int nodes, int cache, int vars);

// Everything fn writes to the stream it is given, as a string.
std::string capture(const std::function<void(FILE *)> &fn);

// Everything fn prints on standard output, as a string.
std::string capture_stdout(const std::function<void()> &fn);

// The variable at each level, top first.
std::vector<int> current_order();

// Nodes in use once every unreferenced node is collected. Between
// operations the reference stack holds nothing of value (each operator
// resets it on entry), so it is emptied first: only counts keep nodes.
int live_nodes();

// A block forest as nested ranges, e.g. "[0-3{[0-1][2-3]}][4-5]".
std::string shape(BddTree *t);

// Reorder hook that records its calls as "R1" (before) and "R0" (after).
extern std::vector<std::string> events;
void rec_reorder(int pre);

// Every block's variables sit on consecutive levels and its seq lists them
// in level order. Sibling lists run in level order too, unless blocks were
// added after the order changed (insertion goes by variable number).
void check_blocks(BddTree *t, bool lists_in_level_order = true);

// By trial division: whether n is prime, the smallest odd prime >= n and
// the largest odd prime <= n.
bool slow_prime(unsigned n);
unsigned odd_prime_gte(unsigned n);
unsigned odd_prime_lte(unsigned n);

#endif
