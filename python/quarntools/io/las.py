"""LAS 2.0 well logs through lasio."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Sequence

import numpy as np

from ._deps import require

__all__ = ["LasCurve", "write_las", "NULL"]

NULL = -999.25


@dataclass(frozen=True)
class LasCurve:
    """One LAS curve: mnemonic, unit, description and its values (NaN is written as NULL)."""
    mnemonic: str
    unit: str
    descr: str
    data: np.ndarray


def write_las(path: str, well: Sequence[tuple[str, object, str, str]], curves: Sequence[LasCurve],
              params: Sequence[tuple[str, object, str, str]] = (), step: float | None = None,
              fmt: str = "%.5f") -> None:
    """Write a LAS 2.0 file: ``well`` and ``params`` are (mnemonic, value, unit, description)
    rows; the first curve is the index. NaN is written as the NULL value -999.25."""
    lasio = require("lasio", "writing LAS files")
    las = lasio.LASFile()
    for mnem, value, unit, descr in well:
        if mnem in las.well:
            las.well[mnem].value = value
            las.well[mnem].unit = unit
            las.well[mnem].descr = descr
        else:
            las.well.append(lasio.HeaderItem(mnem, unit=unit, value=value, descr=descr))
    las.well["NULL"].value = NULL
    for mnem, value, unit, descr in params:
        las.params.append(lasio.HeaderItem(mnem, unit=unit, value=value, descr=descr))
    for c in curves:
        las.append_curve(c.mnemonic, np.asarray(c.data, dtype=np.float64), unit=c.unit, descr=c.descr)
    index = np.asarray(curves[0].data, dtype=np.float64)
    with open(path, "w", encoding="ascii", newline="\n") as fh:
        las.write(fh, version=2.0, wrap=False, fmt=fmt, STRT=float(index[0]), STOP=float(index[-1]),
                  STEP=float(step if step is not None else (index[1] - index[0] if len(index) > 1 else 0.0)))
