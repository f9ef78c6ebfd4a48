"""Grid functions with NumPy arrays in and :class:`~quarntools.Field` results out.

Each function takes the parameters of the extension function of the same name, with a
`Field` in place of a ``(surface, lattice)`` pair and ``(n, 3)`` / ``(n, 2)`` arrays in place
of row and point lists. It calls the extension's flat form once (``closure_outline`` and
``tops_from_surface``, which have none, get the values array where they take nested lists; it
crosses in one copy), so the values are bit for bit the extension's and no nested lists are
built on the way.

Unlike the extension, data rows must be finite: a row (or well position) with a NaN or
infinite coordinate or value is refused with a ``ValueError`` that names the first such
row, instead of quietly spoiling every node whose neighbourhood it enters.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from . import _quarntools as _ext
from .field import Field, FloatArray, ResampleMethod, as_rows, check_lattice, lattice_params

__all__ = [
    "sgs",
    "local_kriging",
    "synth_isochore",
    "synth_trend_map",
    "synth_dome_surface",
    "closure_outline",
    "tops_from_surface",
    "resample",
]

_ROWS = "x, y, z"


def _field(field: object, who: str) -> Field:
    if not isinstance(field, Field):
        raise TypeError(f"{who}: field must be a quarntools.Field (got {type(field).__name__})")
    return field


def sgs(coords: npt.ArrayLike, lattice: _ext.Lattice, variogram: _ext.Variogram | _ext.AnisotropicVariogram,
        max_neighbours: int, radius: float, seed: int) -> Field:
    """One sequential Gaussian simulation conditioned on data rows, as a Field.

    Parameters
    ----------
    coords : array_like
        ``(n, 3)`` data rows ``[x, y, z]``, all finite.
    lattice : Lattice
        The simulation grid.
    variogram : Variogram or AnisotropicVariogram
        Spatial continuity of the normal scores.
    max_neighbours : int
        Nearest known nodes used per node.
    radius : float
        Search radius (world units).
    seed : int
        Seed of the random path and the draws; the same seed gives the same bits.

    Returns
    -------
    Field
        Bit for bit ``sgs_flat(coords, lattice, variogram, max_neighbours, radius, seed)``.
    """
    rows = as_rows(coords, 3, "sgs", "coords", _ROWS)
    check_lattice(lattice, "sgs")
    return Field.from_flat(_ext.sgs_flat(rows, lattice, variogram, max_neighbours, radius, seed), lattice)


def local_kriging(coords: npt.ArrayLike, lattice: _ext.Lattice, variogram: _ext.Variogram, max_neighbours: int,
                  radius: float) -> tuple[Field, Field]:
    """Moving-neighbourhood ordinary kriging onto a lattice.

    Parameters
    ----------
    coords : array_like
        ``(n, 3)`` data rows ``[x, y, z]``, all finite.
    lattice : Lattice
        The grid to estimate.
    variogram : Variogram
        Isotropic variogram model.
    max_neighbours : int
        Nearest data used per node.
    radius : float
        Search radius (world units); nodes without data in range are NaN.

    Returns
    -------
    estimate, variance : Field
        Bit for bit ``local_kriging_grid_flat(...)``.
    """
    rows = as_rows(coords, 3, "local_kriging", "coords", _ROWS)
    check_lattice(lattice, "local_kriging")
    est, var, shape = _ext.local_kriging_grid_flat(rows, lattice, variogram, max_neighbours, radius)
    return Field.from_flat((est, shape), lattice), Field.from_flat((var, shape), lattice)


def synth_isochore(lattice: _ext.Lattice, mean_thickness: float, variability: float, variogram: _ext.Variogram,
                   seed: int) -> Field:
    """Thickness map (unconditional simulation clamped at zero), as a Field.

    Parameters are those of ``synth_isochore``; the values are bit for bit ``synth_isochore_flat``'s.
    """
    check_lattice(lattice, "synth_isochore")
    return Field.from_flat(_ext.synth_isochore_flat(lattice, mean_thickness, variability, variogram, seed), lattice)


def synth_trend_map(lattice: _ext.Lattice, variogram: _ext.Variogram, seed: int,
                    correlate_with: tuple[Field, float] | None = None) -> Field:
    """Trend map in [0, 1], optionally correlated with a Field, as a Field.

    Parameters
    ----------
    lattice : Lattice
        The grid.
    variogram : Variogram
        Spatial continuity of the trend.
    seed : int
        Seed of the simulation.
    correlate_with : (Field, float), optional
        A field on the same lattice (same eight parameters) and the correlation coefficient.

    Returns
    -------
    Field
        Bit for bit ``synth_trend_map_flat(...)``.

    Raises
    ------
    ValueError
        The field to correlate with lies on another lattice: nodes are paired by index, so a
        field elsewhere would be correlated with the wrong places. Resample it first.
    """
    check_lattice(lattice, "synth_trend_map")
    other = None
    if correlate_with is not None:
        if not (isinstance(correlate_with, tuple) and len(correlate_with) == 2):
            raise TypeError("synth_trend_map: correlate_with must be a tuple (field, rho)")
        field, rho = correlate_with
        field = _field(field, "synth_trend_map")
        if lattice_params(field.lattice) != lattice_params(lattice):
            raise ValueError(f"synth_trend_map: correlate_with field lies on {field.lattice!r}, not on {lattice!r}; "
                             "resample it onto the lattice first")
        other = (field.values, rho)
    return Field.from_flat(_ext.synth_trend_map_flat(lattice, variogram, seed, other), lattice)


def synth_dome_surface(lattice: _ext.Lattice, relief: float, aspect: float, tilt: float, noise_variance: float,
                       noise_variogram: _ext.Variogram, seed: int) -> Field:
    """Elliptical dome with a tilt plane and correlated noise, as a Field.

    Parameters are those of ``synth_dome_surface``; the values are bit for bit
    ``synth_dome_surface_flat``'s.
    """
    check_lattice(lattice, "synth_dome_surface")
    flat = _ext.synth_dome_surface_flat(lattice, relief, aspect, tilt, noise_variance, noise_variogram, seed)
    return Field.from_flat(flat, lattice)


def closure_outline(field: Field, spill_depth: float) -> FloatArray:
    """Ring of the largest region closed by the contour at `spill_depth`.

    Parameters
    ----------
    field : Field
        The structure surface (high values inside the closure, as for a dome's relief).
    spill_depth : float
        The contour level.

    Returns
    -------
    numpy.ndarray
        ``(n, 2)`` float64 ring vertices ``[x, y]`` without repeating the first; ``(0, 2)``
        when no ring closes. Bit for bit ``closure_outline(field.to_nested(), lattice, level)``.
    """
    field = _field(field, "closure_outline")
    ring = _ext.closure_outline(field.values, field.lattice, spill_depth)
    return np.array(ring, dtype=np.float64).reshape(-1, 2)


def tops_from_surface(field: Field, well_xy: npt.ArrayLike, residual: _ext.Sampler, seed: int) -> FloatArray:
    """One top per well: the surface at the well plus one `residual` draw.

    Parameters
    ----------
    field : Field
        The structure surface.
    well_xy : array_like
        ``(n, 2)`` finite well positions ``[x, y]``.
    residual : Sampler
        Residual distribution; the k-th well gets the k-th draw of ``Rng(seed)``.
    seed : int
        Seed of the residual draws.

    Returns
    -------
    numpy.ndarray
        ``(n,)`` float64, bit for bit the extension's ``tops_from_surface``; NaN for wells off
        the lattice or in a cell with an undefined corner.
    """
    field = _field(field, "tops_from_surface")
    wells = as_rows(well_xy, 2, "tops_from_surface", "well_xy", "x, y")
    tops = _ext.tops_from_surface(field.values, field.lattice, wells, residual, seed)
    return np.array(tops, dtype=np.float64)


def resample(field: Field, target: _ext.Lattice, method: ResampleMethod = "bilinear") -> Field:
    """`field` transferred onto `target`: bit for bit ``resample_flat``; see :meth:`Field.resample`."""
    return _field(field, "resample").resample(target, method)
