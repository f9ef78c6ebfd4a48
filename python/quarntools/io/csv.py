"""Plain CSV tables: a header row, then one row per record; floats as their shortest repr,
None as an empty field. Byte-for-byte reproducible."""
from __future__ import annotations

import csv as _csv
import math
from typing import Iterable, Sequence

__all__ = ["write_csv", "cell"]


def cell(v: object) -> str:
    """Text of one value: shortest round-trip float, int, str; None and NaN empty."""
    if v is None:
        return ""
    if isinstance(v, bool):
        return "1" if v else "0"
    if isinstance(v, float):
        return "" if math.isnan(v) else repr(v)
    if hasattr(v, "item"):          # numpy scalar
        return cell(v.item())
    return str(v)


def write_csv(path: str, header: Sequence[str], rows: Iterable[Sequence[object]]) -> None:
    """Write a header and rows, each value through ``cell``, with Unix line ends."""
    with open(path, "w", encoding="utf-8", newline="") as fh:
        w = _csv.writer(fh, lineterminator="\n")
        w.writerow(header)
        for row in rows:
            w.writerow([cell(v) for v in row])
