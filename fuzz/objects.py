"""Random Python objects for fuzzing the argument converters."""
import math


class FuzzError(Exception):
    """Raised by hostile __float__ / __index__ implementations."""


class BadFloat:
    def __float__(self):
        raise FuzzError("__float__")


class BadIndex:
    def __index__(self):
        raise FuzzError("__index__")


class WrongFloat:
    def __float__(self):
        return "not a float"


class BigIndex:
    def __index__(self):
        return 2**70


class Seq:
    """A sequence whose length lies."""

    def __init__(self, items, claimed):
        self.items, self.claimed = items, claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]


FLOATS = [0.0, -0.0, 1.0, -1.5, 1e308, -1e308, 5e-324, math.nan, math.inf, -math.inf, 0.5, 25.0, 3.0]
INTS = [0, 1, 2, 3, 7, 16, -1, -2**63, 2**63 - 1, 2**64 - 1, 2**64, 2**100, True, False]
STRS = ["", "linear", "spherical", "build_hold", "y = x + 1", " Nearest ", "x", "\u3000", "a = b\nb = a", "é"]


def make(fdp, depth=0):
    """One object chosen by the fuzzer's bytes."""
    kind = fdp.ConsumeIntInRange(0, 19 if depth < 3 else 11)
    if kind == 0:
        return fdp.PickValueInList(FLOATS)
    if kind == 1:
        return fdp.ConsumeRegularFloat()
    if kind == 2:
        return fdp.PickValueInList(INTS)
    if kind == 3:
        return fdp.ConsumeIntInRange(-5, 40)
    if kind == 4:
        return fdp.PickValueInList(STRS)
    if kind == 5:
        return fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 200))
    if kind == 6:
        return None
    if kind == 7:
        return fdp.PickValueInList([BadFloat(), BadIndex(), WrongFloat(), BigIndex(), object()])
    if kind == 8:
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 30))
    if kind == 9:
        return bytearray(fdp.ConsumeBytes(16))
    if kind == 10:
        return fdp.ConsumeProbability()
    if kind == 11:
        return {"x": [1.0, 2.0], "a": 1.0} if fdp.ConsumeBool() else {1, 2}
    n = fdp.ConsumeIntInRange(0, 8)
    items = [make(fdp, depth + 1) for _ in range(n)]
    if kind in (12, 13, 14):
        return items
    if kind == 15:
        return tuple(items)
    if kind == 16:
        return [[fdp.PickValueInList(FLOATS) for _ in range(fdp.ConsumeIntInRange(0, 4))] for _ in range(n)]
    if kind == 17:
        return [[fdp.ConsumeRegularFloat(), fdp.ConsumeRegularFloat()] for _ in range(n)]
    if kind == 18:
        return Seq(items, fdp.ConsumeIntInRange(-2, 12))
    return (x for x in items)


def random_runs(one_input, n, seed=1):
    """Black-box mode: n structured inputs from a seeded generator, no coverage feedback."""
    import random

    rnd = random.Random(seed)
    for k in range(n):
        one_input(rnd.randbytes(rnd.randrange(32, 512)))
        if (k + 1) % 100000 == 0:
            print(f"{k + 1} runs", flush=True)
    print(f"Done {n} random runs")


def main(one_input):
    """`--random N [SEED]` for black-box runs, otherwise libFuzzer with atheris."""
    import os
    import random
    import sys
    import tempfile

    import atheris

    if len(sys.argv) >= 2 and sys.argv[1] == "--random":
        random_runs(one_input, int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000,
                    int(sys.argv[3]) if len(sys.argv) > 3 else 1)
        return
    # The extension is not coverage-instrumented: keep inputs long so every run builds
    # a full argument list instead of shrinking towards empty input.
    argv = sys.argv + [a for a in ("-len_control=0", "-max_len=512")
                       if not any(x.startswith(a.split("=")[0]) for x in sys.argv)]
    if not any(not a.startswith("-") for a in argv[1:]):
        corpus = tempfile.mkdtemp(prefix="quarn-fuzz-")
        rnd = random.Random(1)
        for k in range(256):
            with open(os.path.join(corpus, f"seed{k}"), "wb") as f:
                f.write(rnd.randbytes(rnd.randrange(64, 512)))
        argv.append(corpus)
    atheris.Setup(argv, atheris.instrument_func(one_input))
    atheris.Fuzz()
