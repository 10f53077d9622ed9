// Feeds arbitrary bytes to the loader through an in-memory stream.
//
// Whatever the input, bdd_load must return an error code or a BDD; a BDD it
// returns must survive a save/load round trip as the very same node, and a
// failed load must leave no reference behind (checked by collecting and
// comparing the nodes in use).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <corvane/corvane.h>

namespace {

constexpr int kNodes = 1000;
constexpr int kMaxNodes = 40000;  // a hostile file cannot grow the table beyond this
constexpr int kRestartEvery = 5000;

void ignore_errors(int) {}

void restart_engine() {
  if (bdd_isrunning()) bdd_done();
  if (bdd_init(kNodes, 1000) != 0) abort();
  bdd_error_hook(ignore_errors);
  bdd_gbc_hook(nullptr);
  bdd_setmaxnodenum(kMaxNodes);
  bdd_setvarnum(4);
}

// Between operations the reference stack holds nothing of value (each
// operator resets it on entry), so it is emptied: only counts keep nodes.
int live_nodes() {
  bddrefstacktop = bddrefstack;
  bdd_gbc();
  return bdd_getnodenum();
}

void check(bool ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "fuzz_load: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static long runs = 0;
  if (runs++ % kRestartEvery == 0) restart_engine();
  bdd_clear_error();

  int before = live_nodes();
  int varnum = bdd_varnum();

  static char empty[1];
  FILE *in = size ? fmemopen((void *)data, size, "r") : fmemopen(empty, 0, "r");
  if (in == nullptr) return 0;
  BDD root = -12345;
  int rc = bdd_load(in, &root);
  fclose(in);

  if (rc == 0) {
    check(root >= 0 && root < bddnodesize, "root outside the table");
    bdd_addref(root);

    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    check(out != nullptr && bdd_save(out, root) == 0, "saving a loaded BDD failed");
    fclose(out);

    FILE *again = fmemopen(buf, len, "r");
    BDD root2 = -1;
    int rc2 = bdd_load(again, &root2);
    fclose(again);
    free(buf);
    check(rc2 == 0, "reloading a saved BDD failed");
    check(root2 == root, "round trip gave a different node");
    bdd_delref(root);
  } else {
    check(rc < 0, "failure without an error code");
  }

  // Variables the file declared add two saturated nodes each; anything
  // else still in use after a collection is a leaked reference. The node
  // limit leaves room for every variable, so only the node lines can run
  // out of nodes, and those must release what they built too.
  int expected = before + 2 * (bdd_varnum() - varnum);
  check(live_nodes() == expected, "load left references behind");
  return 0;
}
