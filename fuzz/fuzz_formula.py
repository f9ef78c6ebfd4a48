"""Fuzz the formula engine: formula_info and evaluate_formula on random text.

Run: python fuzz/fuzz_formula.py -atheris_runs=1000000   (needs `pip install atheris`)
A finding is any crash or any exception other than ValueError.
"""
import sys

import atheris

from objects import main

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


if __name__ == "__main__":
    main(one_input)
