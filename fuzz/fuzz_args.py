"""Fuzz every public function and constructor with random arguments.

Run: python fuzz/fuzz_args.py -atheris_runs=1000000   (needs `pip install atheris`)
A finding is any crash, or an exception other than the ones the binding layer promises.
"""
import inspect
import sys

import atheris

with atheris.instrument_imports():
    from objects import FuzzError, main, make

import quarntools as qt

# IndexError: raised by the lying sequence itself when asked for an item it does not have.
ALLOWED = (TypeError, ValueError, OverflowError, MemoryError, FuzzError, AttributeError, IndexError)
SKIP = {"__version__"}

TARGETS = []
for name in qt.__all__:
    if name in SKIP:
        continue
    obj = getattr(qt, name)
    TARGETS.append(obj)
    if isinstance(obj, type):
        for attr, member in vars(obj).items():
            if not attr.startswith("_") and callable(member):
                TARGETS.append(getattr(obj, attr))


def arity(fn):
    try:
        return len(inspect.signature(fn).parameters)
    except (TypeError, ValueError):
        return 3


ARITY = [arity(t) for t in TARGETS]
INSTANCES = []


def instances():
    if not INSTANCES:
        INSTANCES.append(qt.Lattice(0, 0, 10, 10, 5, 4, 30))
        INSTANCES.append(qt.Georef())
        for maker in ("Rng", "Variogram", "ZoneSpec"):
            if hasattr(qt, maker):
                try:
                    INSTANCES.append({"Rng": lambda: qt.Rng(1),
                                      "Variogram": lambda: qt.Variogram("spherical", 0, 1, 10),
                                      "ZoneSpec": lambda: qt.ZoneSpec(5, 0.2, 0.05, 1)}[maker]())
                except Exception:
                    pass
    return INSTANCES


def one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    k = fdp.ConsumeIntInRange(0, len(TARGETS) - 1)
    fn = TARGETS[k]
    n = max(0, ARITY[k] + fdp.ConsumeIntInRange(-1, 1))
    args = []
    for _ in range(n):
        if fdp.ConsumeIntInRange(0, 3) == 0:
            args.append(fdp.PickValueInList(instances()))
        else:
            args.append(make(fdp))
    try:
        fn(*args)
    except ALLOWED:
        pass


if __name__ == "__main__":
    main(one_input)
