/* An embedding host: starts the interpreter, imports and uses the module,
 * and finalises the interpreter, three times in one process. Each round must
 * get a working module of its own. Exits non-zero at the first failure. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stdio.h>

static const char kRound[] =
    "import quorl_api\n"
    "d = quorl_api.PyGraphDiff()\n"
    "d.add_node(bytes(16), {'label': 'round', 'red': 7})\n"
    "d.add_edge(bytes(16), bytes(range(16)), 0.5)\n"
    "e = quorl_api.PyGraphDiff.from_bytes(d.to_bytes())\n"
    "assert e.new_or_updated_nodes() == {'00000000-0000-0000-0000-000000000000':\n"
    "                                    {'label': 'round', 'red': 7}}\n"
    "assert e.num_edges() == 1 and quorl_api.__all__ == ['PyGraphDiff']\n"
    "kept = d  # still alive when the interpreter is finalised\n"
    "print('round ok', flush=True)\n";

int main(void) {
  for (int round = 1; round <= 3; ++round) {
    Py_Initialize();
    if (PyRun_SimpleString(kRound) != 0) {
      fprintf(stderr, "round %d failed\n", round);
      return 1;
    }
    if (Py_FinalizeEx() != 0) {
      fprintf(stderr, "finalising round %d failed\n", round);
      return 1;
    }
  }
  return 0;
}
