"""The experimental variogram's bits, pinned on data sets built to stress the binning:
separations exactly on class edges, coincident points, quotients that round onto the
upper edge, non-finite rows and several data sizes (so every tail of a blocked loop runs).
Any change to an operation or to the order of a sum changes a digest here."""
import hashlib
import math
import random

import pytest

import quarntools as qt


def digest(ev):
    text = ";".join([",".join(x.hex() for x in ev.lags), ",".join(x.hex() for x in ev.semivariances),
                     ",".join(str(c) for c in ev.counts)])
    return hashlib.sha256(text.encode()).hexdigest()[:32]


def uniform(seed, n, extent):
    rng = random.Random(seed)
    return [[rng.uniform(0, extent), rng.uniform(0, extent), rng.gauss(0, 1)] for _ in range(n)]


def integer_grid(seed, n, side):
    # Integer positions with lag 1 or 5 put many separations (3-4-5 triangles, axis pairs)
    # exactly on class edges, and repeat positions.
    rng = random.Random(seed)
    return [[float(rng.randrange(side)), float(rng.randrange(side)), float(rng.randrange(-9, 10))]
            for _ in range(n)]


def with_duplicates(seed, n, extent):
    rows = uniform(seed, n, extent)
    rng = random.Random(seed + 100)
    for _ in range(n // 4):
        a, b = rng.randrange(n), rng.randrange(n)
        rows[b][:2] = rows[a][:2]
    return rows


def upper_edge():
    # g < n_lags * lag, yet g / lag rounds to n_lags: these pairs join the last class.
    lag, n_lags, g = 1.602405398225189, 38, 60.891405132557175
    assert g < n_lags * lag and math.floor(g / lag) == n_lags
    rows = [[0.0, 0.0, 1.0], [g, 0.0, 2.0], [0.0, g, -3.0], [-g, 0.0, 0.5], [0.0, -g, 4.0]]
    rows += [[x * 1.7, y * 1.3, z] for x, y, z in uniform(9, 60, 60.0)]
    return rows, lag, n_lags


def with_non_finite(seed, n, extent):
    rows = uniform(seed, n, extent)
    rows[3][0] = math.nan
    rows[7][1] = math.inf
    rows[11][0] = -math.inf
    rows[13][2] = math.nan  # a NaN value with finite position still counts as a pair
    return rows


CASES = [
    pytest.param(uniform(1, 2, 10.0), 3.0, 5, "a76df7d7bf30473e767ef336666beaa8", id="two-rows"),
    pytest.param(uniform(2, 7, 10.0), 1.5, 9, "e5b88780c653dd1bd1843e5fdfc9b64f", id="seven-rows"),
    pytest.param(uniform(3, 301, 1000.0), 25.0, 20, "dea2ddedfff73f76a30d6070336798ec", id="uniform-301"),
    pytest.param(uniform(4, 1037, 500.0), 7.25, 64, "4a91329b7044e9bbfdef516d39e40298", id="uniform-1037"),
    pytest.param(uniform(5, 200, 100.0), 0.1, 2**64 - 1, "512870c38ee728f44ba9e6d045bbef9e", id="huge-n-lags"),
    pytest.param(integer_grid(6, 400, 30), 1.0, 25, "1b035ef36f34be26e41fcd922f8d37ea", id="integer-lag-1"),
    pytest.param(integer_grid(7, 333, 60), 5.0, 12, "a635ca9c4cb29834ab25a2a37ed3b1f3", id="integer-lag-5"),
    pytest.param(with_duplicates(8, 250, 50.0), 2.0, 30, "c938afa59a80a972d4fa58712d3ad292", id="duplicates"),
    pytest.param(*upper_edge(), "8ac27c89b7819c792cd9468b490b6676", id="upper-edge"),
    pytest.param(with_non_finite(10, 120, 80.0), 4.0, 15, "199821a9d36a736a2f2e2e6145b5eec6", id="non-finite"),
    pytest.param(uniform(11, 90, 2.0), 3e-3, 1000, "4c7c4a9ef31027c2a6ffdae990425693", id="tiny-lag"),
]


@pytest.mark.parametrize(("coords", "lag", "n_lags", "expected"), CASES)
def test_experimental_bits_pinned(coords, lag, n_lags, expected):
    assert digest(qt.experimental_variogram(coords, lag, n_lags)) == expected
