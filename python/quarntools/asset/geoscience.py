"""Geoscience of the asset as small pure numpy functions: point-in-polygon, spill point and
trap, penetration picks, gross rock volume, and the per-realization volumetrics.

Grids are ``(ncol, nrow)`` float64 arrays (``a[i, j]`` is node ``(i, j)``), or ``Field``s where
world positions matter; depths are metres TVD below the datum plane, positive down; NaN is
undefined.
"""
from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .. import _quarntools as qt
from ..field import Field
from ..fields import sgs
from ..ensemble.workflows import LatticeDesc
from ..seeds import spawn_seeds

__all__ = ["LatticeGeom", "surface_at", "points_in_polygon", "ring_area", "spill_depth", "trap_mask",
           "Pick", "penetration", "pick_at_tvd", "grv", "VolumeInputs", "RealizationVolumes",
           "realization_volumes", "coarse_weights", "refine_bilinear", "percentile7"]


#: A picklable copy of a ``Lattice``'s eight parameters (shared with the ensemble workflows).
LatticeGeom = LatticeDesc


def surface_at(surface: Field, x, y) -> np.ndarray:
    """Bilinear value of a surface at world points (NaN off the lattice or where undefined)."""
    pts = np.column_stack([np.atleast_1d(np.asarray(x, dtype=np.float64)),
                           np.atleast_1d(np.asarray(y, dtype=np.float64))])
    return surface.sample(pts, "bilinear")


def points_in_polygon(ring: np.ndarray, x, y) -> np.ndarray:
    """Even-odd test of world points against a ring (``(n, 2)``, implicitly closed)."""
    ring = np.asarray(ring, dtype=np.float64)
    x = np.atleast_1d(np.asarray(x, dtype=np.float64))
    y = np.atleast_1d(np.asarray(y, dtype=np.float64))
    inside = np.zeros(x.shape, dtype=bool)
    if len(ring) < 3:
        return inside
    xi, yi = ring[:, 0], ring[:, 1]
    xj, yj = np.roll(xi, 1), np.roll(yi, 1)
    for k in range(len(ring)):  # loop over edges, vectorised over points
        cross = (yi[k] > y) != (yj[k] > y)
        with np.errstate(divide="ignore", invalid="ignore"):
            xs = (xj[k] - xi[k]) * (y - yi[k]) / (yj[k] - yi[k]) + xi[k]
        inside ^= cross & (x < xs)
    return inside


def ring_area(ring: np.ndarray) -> float:
    """Shoelace area of a ring, m2."""
    ring = np.asarray(ring, dtype=np.float64)
    if len(ring) < 3:
        return 0.0
    x, y = ring[:, 0] - ring[0, 0], ring[:, 1] - ring[0, 1]   # local origin: no cancellation
    return abs(float(np.dot(x, np.roll(y, -1)) - np.dot(np.roll(x, -1), y))) * 0.5


def _neighbour_min(e: np.ndarray) -> np.ndarray:
    """Smallest of the four edge neighbours of every node (+inf beyond the lattice)."""
    m = np.full_like(e, np.inf)
    m[1:, :] = np.minimum(m[1:, :], e[:-1, :])
    m[:-1, :] = np.minimum(m[:-1, :], e[1:, :])
    m[:, 1:] = np.minimum(m[:, 1:], e[:, :-1])
    m[:, :-1] = np.minimum(m[:, :-1], e[:, 1:])
    return m


def spill_depth(top: np.ndarray) -> tuple[float, tuple[int, int], tuple[int, int]]:
    """Spill point of the structure containing the crest (the shallowest node) of ``top``.

    The spill depth is the shallowest depth at which the crest's closure first connects to the
    lattice edge: the smallest, over all node paths (edge neighbours) from the crest to the edge,
    of the deepest node on the path. Returns (spill depth, crest node, spill node). Undefined
    nodes block paths."""
    t = np.where(np.isfinite(top), top, np.inf)
    crest = np.unravel_index(int(np.argmin(t)), t.shape)
    # escape[n] = deepest node on the best path from n to the edge, relaxed to a fixed point
    esc = np.full_like(t, np.inf)
    esc[0, :], esc[-1, :], esc[:, 0], esc[:, -1] = t[0, :], t[-1, :], t[:, 0], t[:, -1]
    while True:
        nxt = np.minimum(esc, np.maximum(t, _neighbour_min(esc)))
        if np.array_equal(nxt, esc):
            break
        esc = nxt
    level = float(esc[crest])
    # the spill node: the deepest node on the crest's best escape path, i.e. a node at that level
    # whose own escape is the level and which borders the crest's trap
    trap = trap_mask(top, level)
    ring = _neighbour_min(np.where(trap, -np.inf, np.inf)) == -np.inf
    cand = np.argwhere(ring & ~trap & (t == level))
    spill_node = tuple(int(v) for v in cand[0]) if len(cand) else crest
    return level, (int(crest[0]), int(crest[1])), spill_node  # type: ignore[return-value]


def trap_mask(top: np.ndarray, contact: float) -> np.ndarray:
    """Nodes shallower than ``contact`` that connect (through edge neighbours) to the crest."""
    t = np.where(np.isfinite(top), top, np.inf)
    above = t < contact
    crest = np.unravel_index(int(np.argmin(t)), t.shape)
    cur = np.zeros_like(above)
    if not above[crest]:
        return cur
    cur[crest] = True
    while True:
        grown = cur.copy()
        grown[1:, :] |= cur[:-1, :]
        grown[:-1, :] |= cur[1:, :]
        grown[:, 1:] |= cur[:, :-1]
        grown[:, :-1] |= cur[:, 1:]
        grown &= above
        if np.array_equal(grown, cur):
            return cur
        cur = grown


def grv(top: np.ndarray, base: np.ndarray, contact: float, cell_area: float,
        mask: np.ndarray | None = None) -> float:
    """Gross rock volume above ``contact``, m3: the sum over nodes of cell_area x
    max(0, min(base, contact) - top); nodes with an undefined top or base, or outside ``mask``,
    are skipped."""
    h = np.minimum(base, contact) - top
    ok = np.isfinite(top) & np.isfinite(base)
    if mask is not None:
        ok &= mask
    h = np.where(ok, np.maximum(h, 0.0), 0.0)
    return float(np.sum(h)) * cell_area


@dataclass(frozen=True)
class Pick:
    """Where a well path meets a surface: MD (m along hole from KB), TVD (m below datum), x, y."""
    md: float
    tvd: float
    x: float
    y: float


def _along(md: np.ndarray, col: np.ndarray, at):
    return np.interp(at, md, col)


def penetration(md: np.ndarray, x: np.ndarray, y: np.ndarray, tvd: np.ndarray,
                surface: Field) -> tuple[Pick | None, str]:
    """First point where the path (stations joined by straight chords) reaches the surface
    depth at its own (x, y), going down. Returns (pick, "") or (None, reason)."""
    s = surface_at(surface, x, y)
    f = tvd - s
    defined = np.isfinite(f)
    if not defined.any():
        return None, "the surface is undefined along the whole path"
    hit = np.flatnonzero(defined[:-1] & defined[1:] & (f[:-1] < 0) & (f[1:] >= 0))
    if len(hit) == 0:
        if f[defined][0] >= 0 and f[0] >= 0:
            return None, (f"the well starts below the surface (KB at {tvd[0]:.1f} m TVD, "
                          f"surface {s[0]:.1f} m)")
        k = int(np.flatnonzero(defined)[-1])
        if f[k] < 0:
            return None, (f"TD reached at {md[-1]:.1f} m MD, {tvd[-1]:.1f} m TVD, "
                          f"{-f[k]:.1f} m above the surface")
        return None, "the surface is undefined where the path reaches it"
    k = int(hit[0])
    if f[k + 1] == 0:
        return Pick(float(md[k + 1]), float(tvd[k + 1]), float(x[k + 1]), float(y[k + 1])), ""
    lo, hi = float(md[k]), float(md[k + 1])
    seg = slice(k, k + 2)
    for _ in range(80):  # bisection on the chord; f is continuous across it
        mid = 0.5 * (lo + hi)
        if mid <= lo or mid >= hi:
            break
        px, py, pz = (_along(md[seg], c[seg], mid) for c in (x, y, tvd))
        fm = pz - surface_at(surface, px, py)[0]
        if not math.isfinite(fm):
            return None, "the surface is undefined where the path reaches it"
        if fm < 0:
            lo = mid
        else:
            hi = mid
    m = hi
    return Pick(m, float(_along(md[seg], tvd[seg], m)), float(_along(md[seg], x[seg], m)),
                float(_along(md[seg], y[seg], m))), ""


def pick_at_tvd(md: np.ndarray, x: np.ndarray, y: np.ndarray, tvd: np.ndarray, depth: float) -> Pick | None:
    """The point of the path at TVD ``depth`` (the path deepens monotonically), or None beyond it."""
    if not (tvd[0] <= depth <= tvd[-1]):
        return None
    m = float(np.interp(depth, tvd, md))
    return Pick(m, float(depth), float(np.interp(m, md, x)), float(np.interp(m, md, y)))


def percentile7(values: np.ndarray, q, axis=None):
    """Type-7 percentile (linear between order statistics), the convention of ``percentile``."""
    return np.percentile(values, q, axis=axis, method="linear")


def coarse_weights(h: np.ndarray, coarsen: int, coarse_shape: tuple[int, int]) -> np.ndarray:
    """Weights W on a lattice ``coarsen`` times coarser (same origin and axes) such that
    sum(W * phi_coarse) = sum(h * bilinear(phi_coarse)) over the fine nodes."""
    ncol, nrow = h.shape
    i = np.arange(ncol)
    j = np.arange(nrow)
    i0, tx = i // coarsen, (i % coarsen) / coarsen
    j0, ty = j // coarsen, (j % coarsen) / coarsen
    nci, ncj = coarse_shape
    i1 = np.minimum(i0 + 1, nci - 1)
    j1 = np.minimum(j0 + 1, ncj - 1)
    w = np.zeros(coarse_shape)
    for ii, wx in ((i0, 1 - tx), (i1, tx)):
        for jj, wy in ((j0, 1 - ty), (j1, ty)):
            np.add.at(w, (ii[:, None].repeat(nrow, 1), jj[None, :].repeat(ncol, 0)),
                      h * wx[:, None] * wy[None, :])
    return w


def refine_bilinear(coarse: np.ndarray, coarsen: int, fine_shape: tuple[int, int]) -> np.ndarray:
    """Bilinear values of a coarse-lattice field at the nodes of the fine lattice."""
    ncol, nrow = fine_shape
    i = np.arange(ncol)
    j = np.arange(nrow)
    i0, tx = i // coarsen, ((i % coarsen) / coarsen)[:, None]
    j0, ty = j // coarsen, ((j % coarsen) / coarsen)[None, :]
    i1 = np.minimum(i0 + 1, coarse.shape[0] - 1)
    j1 = np.minimum(j0 + 1, coarse.shape[1] - 1)
    a = coarse[np.ix_(i0, j0)]
    b = coarse[np.ix_(i1, j0)]
    c = coarse[np.ix_(i0, j1)]
    d = coarse[np.ix_(i1, j1)]
    return (1 - ty) * (a * (1 - tx) + b * tx) + ty * (d * tx + c * (1 - tx))


@dataclass(frozen=True)
class VolumeInputs:
    """Everything one volumetric realization needs; picklable, so realizations run anywhere."""
    control: tuple[tuple[float, float, float], ...]   # (x, y, net porosity) per control well
    sim_lattice: LatticeGeom                          # lattice of the porosity simulation
    variogram: tuple[str, float, float, float]        # shape, nugget, sill, range (m)
    neighbours: int
    radius_m: float
    weights: np.ndarray                               # column-height weights on sim_lattice, m
    grv_m3: float
    ntg: tuple[float, float, float]                   # triangular min, mode, max
    sw: tuple[float, float, float, float]             # normal mean, std, clamp lo, hi
    bo: tuple[float, float]                           # uniform lo, hi


@dataclass(frozen=True)
class RealizationVolumes:
    """One realization: its draws, its net porosity and its STOIIP (sm3)."""
    index: int
    seed: int
    grv_m3: float
    ntg: float
    phi: float
    sw: float
    bo: float
    stoiip_sm3: float
    porosity: np.ndarray  # simulated net porosity on the simulation lattice, (ncol, nrow)


def realization_volumes(inputs: VolumeInputs, index: int, seed: int) -> RealizationVolumes:
    """Realization ``index`` with its own ``seed``: an SGS net-porosity map, its thickness-weighted
    mean over the trap, and NTG, Sw, Bo draws; STOIIP = GRV x NTG x phi(net) x (1 - Sw) / Bo."""
    s_sgs, s_ntg, s_sw, s_bo = spawn_seeds(seed, 4)
    vg = qt.Variogram(*inputs.variogram)
    phi_map = sgs(np.array(inputs.control, dtype=np.float64), inputs.sim_lattice.lattice(), vg,
                  inputs.neighbours, inputs.radius_m, s_sgs).values
    wsum = float(np.sum(inputs.weights))
    phi = float(np.sum(inputs.weights * phi_map)) / wsum if wsum > 0 else math.nan
    ntg = qt.Sampler.triangular(*inputs.ntg).sample_n_seeded(1, s_ntg)[0]
    sw_mean, sw_std, sw_lo, sw_hi = inputs.sw
    sw = qt.Sampler.normal(sw_mean, sw_std).clamped(sw_lo, sw_hi).sample_n_seeded(1, s_sw)[0]
    bo = qt.Sampler.uniform(*inputs.bo).sample_n_seeded(1, s_bo)[0]
    stoiip = inputs.grv_m3 * ntg * phi * (1.0 - sw) / bo
    return RealizationVolumes(index, seed, inputs.grv_m3, ntg, phi, sw, bo, stoiip, phi_map)
