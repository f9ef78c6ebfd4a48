"""Vector results as NumPy arrays: the extension's long-vector functions, arrays in and out.

Each function takes the parameters of the extension function of the same name (NumPy
arrays wherever the extension takes lists of floats; a 1-D float64 array crosses in one
copy) and runs the same computation in the companion module ``quarntools._arrays``, built
from the same core: the values are bit for bit the extension's, and the error types and
messages are the extension's too. The result is handed over as one buffer, wrapped without
a copy into a writable ``numpy.ndarray`` (float64; int64 for 0/1 flag series), so no
Python object is made per value.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Literal

import numpy as np
import numpy.typing as npt

from . import _arrays
from . import _quarntools as _ext

__all__ = [
    "evaluate_formula",
    "interp1d",
    "aggregate",
    "sample",
    "synth_log_series",
    "synth_facies_series",
    "synth_por_with_facies",
    "synth_petro_curves",
    "ntg_curve",
]

FloatArray = npt.NDArray[np.float64]
IntArray = npt.NDArray[np.int64]
InterpMethod = Literal["linear", "nearest", "closest", "nn", "previous", "prev", "ffill", "next", "bfill",
                       "cubic", "spline", "natural", "natural_cubic", "cubic_natural"]
Correlation = Literal["independent", "indep", "comonotonic", "comono"]


def _f64(buf: _arrays.Vector) -> FloatArray:
    return np.frombuffer(memoryview(buf), dtype=np.float64)  # no copy: the array lives on buf


def _i64(buf: _arrays.Vector) -> IntArray:
    return np.frombuffer(memoryview(buf), dtype=np.int64)


def evaluate_formula(assignments: Sequence[str], properties: Mapping[str, npt.ArrayLike],
                     params: Mapping[str, float] | None = None) -> dict[str, FloatArray]:
    """Evaluate a block of assignments over property arrays.

    Parameters
    ----------
    assignments : sequence of str
        Assignments such as ``"phie_c = phie * (1 - vsh)"``, evaluated in dependency order.
    properties : dict of str to array_like
        Input vectors, all of one length (1-D float64 arrays cross in one copy).
    params : dict of str to float, optional
        Scalars written ``$name`` in the formulas.

    Returns
    -------
    dict of str to ndarray
        One float64 array per target, in source order; scalars broadcast to the common length.

    Raises
    ------
    ValueError
        ``parse error: ...``, ``invalid argument: ...`` or ``not found: ...``, as the extension.

    Examples
    --------
    >>> import numpy as np
    >>> out = evaluate_formula(["y = x * $k"], {"x": np.array([1.0, 2.0])}, {"k": 3.0})
    >>> out["y"]
    array([3., 6.])
    """
    return {name: _f64(buf) for name, buf in _arrays.evaluate_formula(assignments, properties, params).items()}


def interp1d(x: npt.ArrayLike, y: npt.ArrayLike, query: npt.ArrayLike, method: InterpMethod = "linear",
             extrapolate: bool = False) -> FloatArray:
    """Interpolate ``y`` given at the strictly increasing knots ``x`` at every query.

    Parameters
    ----------
    x, y : array_like
        Finite knots (strictly increasing) and their values, of one length >= 2.
    query : array_like
        Positions to evaluate; sorted queries are the fast case (each search starts from the
        previous answer), any order gives the same values.
    method : str, default 'linear'
        'linear', 'nearest', 'previous', 'next' or 'cubic' (natural spline), with the
        extension's aliases.
    extrapolate : bool, default False
        Outside ``[x[0], x[-1]]``: NaN when false; else held end values (nearest, previous,
        next) or the extended end pieces (linear, cubic).

    Returns
    -------
    ndarray
        float64, one value per query.

    Examples
    --------
    >>> interp1d([0.0, 1.0, 2.0], [1.0, 3.0, 2.0], [0.5, 1.5, 3.0])
    array([2. , 2.5, nan])
    """
    return _f64(_arrays.interp1d(x, y, query, method, extrapolate))


def aggregate(segments: npt.ArrayLike | Sequence[npt.ArrayLike],
              correlation: Correlation = "independent") -> FloatArray:
    """Sum per-segment realization vectors index by index into a field total.

    Parameters
    ----------
    segments : 2-D array_like or sequence of 1-D array_like
        One vector of realizations per segment (rows of a 2-D array).
    correlation : str, default 'independent'
        'independent' adds the i-th realization of every segment; 'comonotonic' sorts each
        segment's values ascending first (low with low, high with high).

    Returns
    -------
    ndarray
        float64, as long as the shortest segment; empty without segments.

    Examples
    --------
    >>> aggregate(np.array([[1.2e6, 0.9e6], [3.1e6, 2.8e6]]), "comonotonic")
    array([3700000., 4300000.])
    """
    return _f64(_arrays.aggregate(segments, correlation))


def sample(sampler: _ext.Sampler | _ext.Clamped, n: int, rng_or_seed: _ext.Rng | int) -> FloatArray:
    """``n`` draws of a sampler as an array.

    Parameters
    ----------
    sampler : Sampler or Clamped
        The distribution.
    n : int
        Number of draws.
    rng_or_seed : Rng or int
        An ``Rng``, advanced exactly as ``sampler.sample_n(n, rng)`` advances it, or a seed
        (``sampler.sample_n_seeded(n, seed)``).

    Returns
    -------
    ndarray
        float64, the draws in order, bit for bit those of the list methods.

    Examples
    --------
    >>> import quarntools as qt
    >>> s = qt.Sampler.normal(0.0, 1.0)
    >>> sample(s, 3, 7).tolist() == s.sample_n_seeded(3, 7)
    True
    """
    if isinstance(rng_or_seed, _ext.Rng):
        return _f64(_arrays.sample_n(sampler, n, rng_or_seed))
    return _f64(_arrays.sample_n_seeded(sampler, n, rng_or_seed))


def synth_log_series(zones: Sequence[_ext.ZoneSpec], depth_step: float, transition_beds: int,
                     seed: int) -> FloatArray:
    """A depth-correlated [0, 1] log over a zone stack, top first.

    Parameters
    ----------
    zones : sequence of ZoneSpec
        The zone stack, top first.
    depth_step : float
        Sample spacing (m).
    transition_beds : int
        Samples blended on each side of a zone boundary.
    seed : int
        Seed of the AR(1) driver.

    Returns
    -------
    ndarray
        float64, ``sum(zone_sample_counts(zones, depth_step))`` values.
    """
    return _f64(_arrays.synth_log_series(zones, depth_step, transition_beds, seed))


def synth_facies_series(n: int, depth_step: float, ntg_target: float, bed_scale_m: float, seed: int) -> IntArray:
    """A sand (1) / shale (0) column of ``n`` samples at ``ntg_target`` in expectation.

    Parameters
    ----------
    n : int
        Number of samples.
    depth_step : float
        Sample spacing (m).
    ntg_target : float
        Expected sand fraction, in (0, 1).
    bed_scale_m : float
        Bed thickness scale (m) of the AR(1) driver.
    seed : int
        Seed of the driver.

    Returns
    -------
    ndarray
        int64 flags, 1 for sand.
    """
    return _i64(_arrays.synth_facies_series(n, depth_step, ntg_target, bed_scale_m, seed))


def synth_por_with_facies(facies: npt.ArrayLike, depth_step: float, sand_mean: float, sand_std: float,
                          shale_mean: float, shale_std: float, corr_length_m: float, seed: int) -> FloatArray:
    """[0, 1] porosity on a facies column (non-zero = sand).

    Parameters
    ----------
    facies : array_like of int
        Facies codes; a 1-D integer array crosses in one pass.
    depth_step : float
        Sample spacing (m).
    sand_mean, sand_std, shale_mean, shale_std : float
        Target porosity moments of each facies.
    corr_length_m : float
        Depth correlation length (m) of the shared driver.
    seed : int
        Seed of the driver.

    Returns
    -------
    ndarray
        float64, one porosity per facies sample.
    """
    return _f64(_arrays.synth_por_with_facies(facies, depth_step, sand_mean, sand_std, shale_mean, shale_std,
                                              corr_length_m, seed))


def synth_petro_curves(zone: _ext.PetroZoneSpec, depth_step: float, n_samples: int,
                       seed: int) -> dict[str, npt.NDArray[np.float64] | npt.NDArray[np.int64]]:
    """Calibrated effective porosity and net flag of one zone.

    Parameters
    ----------
    zone : PetroZoneSpec
        The zone's NTG and porosity targets.
    depth_step : float
        Sample spacing (m).
    n_samples : int
        Number of samples.
    seed : int
        Seed of the facies and porosity drivers.

    Returns
    -------
    dict
        ``'phie'``: float64 porosity; ``'net_flag'``: int64, 1 where ``phie >= net_cutoff``.
    """
    out = _arrays.synth_petro_curves(zone, depth_step, n_samples, seed)
    return {"phie": _f64(out["phie"]), "net_flag": _i64(out["net_flag"])}


def ntg_curve(net_flag: npt.ArrayLike, depth_step: float, window_m: float) -> FloatArray:
    """Centred running net-to-gross over ``window_m`` metres.

    Parameters
    ----------
    net_flag : array_like
        Net flags (non-zero = net), e.g. ``synth_petro_curves(...)["net_flag"]``.
    depth_step : float
        Sample spacing (m).
    window_m : float
        Window length (m); at least 3 samples wide, truncated at the ends.

    Returns
    -------
    ndarray
        float64, one value per sample.
    """
    if isinstance(net_flag, np.ndarray) and net_flag.dtype.kind in "iu":
        # Integer flags (as synth_petro_curves gives them) cross as float64 in one copy;
        # each value converts exactly as float(item) would.
        net_flag = net_flag.astype(np.float64)
    return _f64(_arrays.ntg_curve(net_flag, depth_step, window_m))

