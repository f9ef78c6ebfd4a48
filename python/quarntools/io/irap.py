"""IRAP classic binary surfaces (and ZMAP+ copies) through xtgeo."""
from __future__ import annotations

import numpy as np

from ._deps import require

__all__ = ["to_regular_surface", "write_irap", "write_zmap"]


def to_regular_surface(values: np.ndarray, lattice, name: str = "surface"):
    """An ``xtgeo.RegularSurface`` with the lattice's origin, increments, rotation and flip;
    NaN nodes are masked (written as the format's undefined value)."""
    xtgeo = require("xtgeo", "writing surfaces")
    vals = np.ma.masked_invalid(np.asarray(values, dtype=np.float64))
    return xtgeo.RegularSurface(ncol=lattice.ncol, nrow=lattice.nrow, xori=lattice.xori,
                                yori=lattice.yori, xinc=lattice.xinc, yinc=lattice.yinc,
                                rotation=lattice.rotation_deg, yflip=-1 if lattice.yflip else 1,
                                values=vals, name=name)


def write_irap(path: str, values: np.ndarray, lattice, name: str = "surface") -> None:
    """Write ``values`` (``(ncol, nrow)``, depths or properties) as IRAP classic binary."""
    to_regular_surface(values, lattice, name).to_file(path, fformat="irap_binary")


def write_zmap(path: str, values: np.ndarray, lattice, name: str = "surface") -> None:
    """Write a ZMAP+ copy. ZMAP+ has no rotation: xtgeo resamples a rotated lattice (bilinear)
    onto an unrotated lattice covering it; nodes outside the source are undefined."""
    to_regular_surface(values, lattice, name).to_file(path, fformat="zmap_ascii")
