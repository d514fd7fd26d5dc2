"""Four daemon threads call into the module, each call running Python code
that gives up the GIL, while the main thread ends the program: the
interpreter ends the threads inside those calls, and the process must still
exit 0. Run as: python daemon_threads_at_exit.py KIND, where KIND (float,
index, eq or bool) names the conversion whose Python code is slow."""

import sys
import threading
import time

from quorl_api import PyGraphDiff

KIND = sys.argv[1]


def pause():
    time.sleep(0.001)  # gives up the GIL


class Slow:
    def __init__(self, i):
        self.i = i

    def __float__(self):
        pause()
        return self.i / 3

    def __index__(self):
        pause()
        return self.i % 256


class SlowKey(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        pause()
        return str.__eq__(self, other)


def slow_truth(self):
    pause()
    return True


SlowBool = type("bool_", (), {"__module__": "numpy", "__bool__": slow_truth})


def edit(d, i):
    key = i.to_bytes(16, "little")
    if KIND == "float":
        d.add_edge(key, bytes(16), Slow(i))
    elif KIND == "index":
        d.add_node(key, {"red": Slow(i)})
    elif KIND == "eq":
        d.add_node(key, {SlowKey("label"): "x"})
    elif KIND == "bool":
        d.add_node(key, {"show_label": SlowBool()})
    else:
        raise SystemExit(f"unknown kind {KIND!r}")


def worker():
    d = PyGraphDiff()
    i = 0
    while True:
        i += 1
        edit(d, i)


for _ in range(4):
    threading.Thread(target=worker, daemon=True).start()
time.sleep(0.05)
