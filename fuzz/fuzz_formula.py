"""Fuzz the formula engine: formula_info and evaluate_formula on random text.

Run: python fuzz/fuzz_formula.py -atheris_runs=1000000   (needs `pip install atheris`)
A finding is any crash or any exception other than ValueError.
"""
import sys

import atheris

import quarntools as qt

ALPHABET = list("abxyz_$0123456789.eE+-*/()<>=!,& \t\n\u3000") + [
    "**", "<=", ">=", "==", "!=", "if(", "sqrt(", "min(", "max(", "clip(", "log(", "exp(", "abs(",
    "pow(", "1e308", "1e-400", "$p", "$q", "nan", "inf",
]
PROPS = {"a": [1.0, -2.0, 0.0], "b": [0.5, float("nan"), 3.0], "x": [2.0], "y": []}
PARAMS = {"p": 2.0, "q": float("inf")}


def text(fdp):
    if fdp.ConsumeBool():
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 60))
    return "".join(fdp.PickValueInList(ALPHABET) for _ in range(fdp.ConsumeIntInRange(0, 40)))


def one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    lines = [text(fdp) for _ in range(fdp.ConsumeIntInRange(1, 3))]
    try:
        qt.formula_info(lines)
    except ValueError:
        pass
    try:
        qt.evaluate_formula(lines, PROPS, PARAMS if fdp.ConsumeBool() else None)
    except ValueError:
        pass


def random_runs(n, seed=1):
    """Black-box mode: n structured inputs from a seeded generator, no coverage feedback."""
    import random

    rnd = random.Random(seed)
    for k in range(n):
        one_input(rnd.randbytes(rnd.randrange(32, 512)))
        if (k + 1) % 100000 == 0:
            print(f"{k + 1} runs", flush=True)
    print(f"Done {n} random runs")


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "--random":
        random_runs(int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000,
                    int(sys.argv[3]) if len(sys.argv) > 3 else 1)
        sys.exit(0)
    # The extension is not coverage-instrumented: keep inputs long so every run builds
    # a full argument list instead of shrinking towards empty input.
    argv = sys.argv + [a for a in ("-len_control=0", "-max_len=512")
                       if not any(x.startswith(a.split("=")[0]) for x in sys.argv)]
    if not any(not a.startswith("-") for a in argv[1:]):
        import os
        import random
        import tempfile

        corpus = tempfile.mkdtemp(prefix="quarn-fuzz-")
        rnd = random.Random(1)
        for k in range(256):
            with open(os.path.join(corpus, f"seed{k}"), "wb") as f:
                f.write(bytes(rnd.getrandbits(8) for _ in range(rnd.randrange(64, 512))))
        argv.append(corpus)
    atheris.Setup(argv, atheris.instrument_func(one_input))
    atheris.Fuzz()
