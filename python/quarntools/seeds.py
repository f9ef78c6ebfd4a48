"""Independent child seeds from one master seed, through the extension's seed mixer."""

from __future__ import annotations

import operator

import numpy as np

__all__ = ["spawn_seeds"]

_GAMMA = 0x9E3779B97F4A7C15
_SEED_LIMIT = 1 << 64


def spawn_seeds(seed: int, n: int) -> list[int]:
    """`n` child seeds for `n` realizations, workers or streams, from one master seed.

    Child ``k`` is ``derive_seed((seed + k * 0x9E3779B97F4A7C15) mod 2**64)``, where
    ``derive_seed`` is the seed mixer the extension uses to give a function's second stream
    its own seed (the SplitMix64 finaliser applied to ``x + 0x9E3779B97F4A7C15``). The
    children are therefore the SplitMix64 output stream started from state `seed`: distinct
    for distinct ``k`` (the map is a bijection of 64-bit words), well spread, and the first
    ``m`` children of ``spawn_seeds(seed, n)`` are ``spawn_seeds(seed, m)``.

    Parameters
    ----------
    seed : int
        Master seed in ``[0, 2**64)``.
    n : int
        Number of children, ``>= 0``.

    Returns
    -------
    list of int
        ``n`` seeds in ``[0, 2**64)``, each a valid ``seed`` of every quarntools function.

    Raises
    ------
    TypeError
        `seed` or `n` is not an integer.
    ValueError
        `seed` is outside ``[0, 2**64)`` or `n` is negative.

    Examples
    --------
    >>> import quarntools as qt
    >>> [hex(s) for s in qt.spawn_seeds(0, 2)]
    ['0xe220a8397b1dcdaf', '0x6e789e6aa1b965f4']
    """
    if isinstance(seed, bool) or isinstance(n, bool):
        raise TypeError("spawn_seeds: seed and n must be integers, not bool")
    try:
        seed = operator.index(seed)
    except TypeError:
        raise TypeError(f"spawn_seeds: seed must be an integer in [0, 2**64) (got {type(seed).__name__})") from None
    try:
        n = operator.index(n)
    except TypeError:
        raise TypeError(f"spawn_seeds: n must be an integer >= 0 (got {type(n).__name__})") from None
    if not 0 <= seed < _SEED_LIMIT:
        raise ValueError(f"spawn_seeds: seed must be in [0, 2**64) (got {seed})")
    if n < 0:
        raise ValueError(f"spawn_seeds: n must be >= 0 (got {n})")
    # uint64 array arithmetic wraps modulo 2**64, as the extension's does.
    z = np.arange(1, n + 1, dtype=np.uint64) * np.uint64(_GAMMA) + np.uint64(seed)
    z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    z ^= z >> np.uint64(31)
    seeds: list[int] = z.tolist()
    return seeds
