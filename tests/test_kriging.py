"""Local ordinary kriging onto a lattice."""

import math
import random
import struct
import threading

import numpy as np
import pytest

import quarntools._quarntools as qt

SPH = qt.Variogram("spherical", 0.1, 0.9, 100.0)
NEIGHBOURHOOD = "invalid argument: LocalKriging: need max_neighbours >= 1 and radius > 0"


def gamma(v, h, model):
    if h == 0.0:
        return 0.0
    r = h / v.range
    if model == "sph":
        f = 1.0 if r >= 1.0 else 1.5 * r - 0.5 * (r * r * r)
    elif model == "exp":
        f = 1.0 - math.exp(-3.0 * h / v.range)
    elif model == "gauss":
        f = 1.0 - math.exp(-3.0 * (r * r))
    else:
        f = 0.0
    return v.nugget + v.sill * f


def fields(coords, lattice, variogram, k, radius):
    est, var = qt.local_kriging_grid(coords, lattice, variogram, k, radius)
    return est, var


# ---- parameter and argument errors ---------------------------------------------

PARAM_ERRORS = [
    pytest.param(0, 10.0, id="max-0"),
    pytest.param(4, 0.0, id="radius-0"),
    pytest.param(4, -5.0, id="radius-neg"),
    pytest.param(4, math.nan, id="radius-nan"),
    pytest.param(4, math.inf, id="radius-inf"),
]


@pytest.mark.parametrize("fn", [qt.local_kriging_grid, qt.local_kriging_grid_flat], ids=["nested", "flat"])
@pytest.mark.parametrize(("k", "radius"), PARAM_ERRORS)
@pytest.mark.parametrize("coords", [[], [[0, 0, 1]]], ids=["empty", "one"])
def test_neighbourhood_errors(fn, k, radius, coords):
    with pytest.raises(ValueError) as err:
        fn(coords, qt.Lattice(0, 0, 1, 1, 2, 2), SPH, k, radius)
    assert str(err.value) == NEIGHBOURHOOD


@pytest.mark.parametrize("fn", [qt.local_kriging_grid, qt.local_kriging_grid_flat], ids=["nested", "flat"])
def test_no_points(fn):
    with pytest.raises(ValueError) as err:
        fn([], qt.Lattice(0, 0, 1, 1, 2, 2), SPH, 4, 10.0)
    assert str(err.value) == "empty input: LocalKriging::krige: no points to grid"


def test_anisotropic_variogram_rejected():
    aniso = qt.AnisotropicVariogram("sph", 10, 5, 1, 0)
    with pytest.raises(TypeError) as err:
        qt.local_kriging_grid([[0, 0, 1]], qt.Lattice(0, 0, 1, 1, 2, 2), aniso, 4, 10.0)
    assert str(err.value) == "'AnisotropicVariogram' object is not an instance of 'Variogram'"
    assert err.value.__notes__ == ["while processing 'variogram'"]


# ---- the kriging system on small cases ---------------------------------------------

def test_datum_on_node_and_one_neighbour():
    lat = qt.Lattice(0, 0, 10, 10, 3, 1)
    est, var = fields([[0, 0, 5.0]], lat, SPH, 1, 25.0)
    assert est == [[5.0], [5.0], [5.0]]
    assert var == [[0.0], [2 * gamma(SPH, 10.0, "sph")], [2 * gamma(SPH, 20.0, "sph")]]


def test_max_neighbours_one_takes_nearest():
    lat = qt.Lattice(0, 0, 1, 1, 4, 1)
    est, var = fields([[0, 0, 1.0], [3, 0, 7.0]], lat, SPH, 1, 10.0)
    assert [c[0] for c in est] == [1.0, 1.0, 7.0, 7.0]
    assert [c[0] for c in var] == [0.0, 2 * gamma(SPH, 1.0, "sph"), 2 * gamma(SPH, 1.0, "sph"), 0.0]


def test_radius_is_inclusive():
    lat = qt.Lattice(0, 0, 5, 5, 4, 1)
    est, var = fields([[0, 0, 2.0]], lat, SPH, 4, 10.0)
    assert [c[0] for c in est][:3] == [2.0, 2.0, 2.0]
    assert math.isnan(est[3][0]) and math.isnan(var[3][0])


def test_pure_nugget_two_neighbours():
    v = qt.Variogram("nugget", 0.4, 0.0, 1.0)
    est, var = fields([[0, 0, 1.0], [2, 0, 3.0]], qt.Lattice(1, 5, 1, 1, 1, 1), v, 4, 100.0)
    assert est == [[2.0]]
    assert var == [[1.5 * 0.4]]


def test_singular_system_stays_nan():
    # Gaussian, no nugget: gamma between data 1e-9 apart evaluates to exactly 0.
    v = qt.Variogram("gaussian", 0.0, 1.0, 1000.0)
    est, var = fields([[0, 0, 1.0], [1e-9, 0, 2.0]], qt.Lattice(5, 0, 1, 1, 1, 1), v, 4, 100.0)
    assert math.isnan(est[0][0]) and math.isnan(var[0][0])


MERGES = [
    pytest.param([[0, 0, 1.0], [0, 0, 3.0]], [[0, 0, 2.0]], id="two-rows-average"),
    pytest.param([[-0.0, 0, 1.0], [0.0, -0.0, 3.0], [4, 4, 9.0]], [[0, 0, 2.0], [4, 4, 9.0]], id="signed-zero"),
    pytest.param([[4, 4, 9.0], [0, 0, 1.0], [4, 4, 3.0], [0, 0, 2.0]], [[4, 4, 6.0], [0, 0, 1.5]],
                 id="first-occurrence-order"),
    pytest.param([[0, 0, 1.0], [math.nan, 0, 50.0], [0, math.inf, 70.0]], [[0, 0, 1.0]], id="non-finite-left-out"),
]


@pytest.mark.parametrize(("coords", "merged"), MERGES)
def test_coincident_data_merge(coords, merged):
    lat = qt.Lattice(-3, -2, 1.5, 2.5, 6, 5, rotation_deg=20)
    a = qt.local_kriging_grid_flat(coords, lat, SPH, 8, 50.0)
    b = qt.local_kriging_grid_flat(merged, lat, SPH, 8, 50.0)
    assert a == b


# ---- against an independent dense solution -----------------------------------------

def dense_reference(coords, lattice, v, model, k, radius):
    """numpy.linalg.solve of the ordinary kriging system with brute-force neighbours."""
    pts = np.array([c[:2] for c in coords])
    z = np.array([c[2] for c in coords])
    est = np.full((lattice.ncol, lattice.nrow), np.nan)
    var = np.full((lattice.ncol, lattice.nrow), np.nan)
    for j in range(lattice.nrow):
        for i in range(lattice.ncol):
            x, y = lattice.node_xy(i, j)
            d = np.sqrt((pts[:, 0] - x) ** 2 + (pts[:, 1] - y) ** 2)
            order = sorted((d[m], m) for m in range(len(d)) if d[m] <= radius)[:k]
            if not order:
                continue
            idx = [m for _, m in order]
            n = len(idx)
            A = np.zeros((n + 1, n + 1))
            b = np.zeros(n + 1)
            for r in range(n):
                for c in range(n):
                    A[r, c] = gamma(v, math.dist(pts[idx[r]], pts[idx[c]]), model)
                A[r, n] = A[n, r] = 1.0
                b[r] = gamma(v, order[r][0], model)
            b[n] = 1.0
            sol = np.linalg.solve(A, b)
            est[i, j] = sol[:n] @ z[idx]
            var[i, j] = max(sol[n] + sol[:n] @ b[:n], 0.0)
    return est, var


@pytest.mark.parametrize(("model", "nugget", "seed", "k", "radius"), [
    pytest.param("sph", 0.1, 1, 12, 40.0, id="sph"),
    pytest.param("exp", 0.0, 2, 8, 60.0, id="exp"),
    pytest.param("gauss", 0.05, 3, 6, 35.0, id="gauss-nugget"),
    pytest.param("sph", 0.0, 4, 30, 1000.0, id="all-data"),
])
def test_matches_dense_reference(model, nugget, seed, k, radius):
    rng = random.Random(seed)
    coords = [[rng.uniform(0, 100), rng.uniform(0, 100), rng.gauss(5, 2)] for _ in range(60)]
    v = qt.Variogram(model, nugget, 1.5, 45.0)
    lat = qt.Lattice(3, -4, 7.5, 6.0, 14, 17, rotation_deg=15, yflip=True)
    est, var, shape = qt.local_kriging_grid_flat(coords, lat, v, k, radius)
    assert shape == (14, 17)
    got_e = np.frombuffer(est, "<f8").reshape(shape)
    got_v = np.frombuffer(var, "<f8").reshape(shape)
    ref_e, ref_v = dense_reference(coords, lat, v, model, k, radius)
    assert np.array_equal(np.isnan(got_e), np.isnan(ref_e))
    assert np.isnan(ref_e).sum() < ref_e.size
    ok = ~np.isnan(ref_e)
    np.testing.assert_allclose(got_e[ok], ref_e[ok], rtol=1e-10, atol=1e-12)
    np.testing.assert_allclose(got_v[ok], ref_v[ok], rtol=1e-10, atol=1e-12)


def test_nested_and_flat_agree_and_node_order():
    rng = random.Random(9)
    coords = [[rng.uniform(0, 50), rng.uniform(0, 50), rng.uniform(0, 1)] for _ in range(30)]
    lat = qt.Lattice(0, 0, 5, 4, 7, 9, rotation_deg=33)
    est, var = qt.local_kriging_grid(coords, lat, SPH, 10, 30.0)
    fe, fv, shape = qt.local_kriging_grid_flat(coords, lat, SPH, 10, 30.0)
    assert shape == (7, 9) and len(est) == 7 and all(len(c) == 9 for c in est)
    assert fe == b"".join(struct.pack("<d", x) for col in est for x in col)
    assert fv == b"".join(struct.pack("<d", x) for col in var for x in col)
    # field[col][row] is node (i, j): a datum on node (2, 5) shows there exactly.
    x, y = lat.node_xy(2, 5)
    est, var = qt.local_kriging_grid([[x, y, 42.0]], lat, SPH, 1, 1e-6)
    assert est[2][5] == 42.0 and var[2][5] == 0.0
    assert sum(not math.isnan(e) for col in est for e in col) == 1


def test_empty_lattice():
    assert qt.local_kriging_grid([[0, 0, 1]], qt.Lattice(0, 0, 1, 1, 0, 3), SPH, 4, 1.0) == ([], [])
    assert qt.local_kriging_grid_flat([[0, 0, 1]], qt.Lattice(0, 0, 1, 1, 3, 0), SPH, 4, 1.0) == (b"", b"", (3, 0))


@pytest.mark.bigalloc
def test_huge_lattice_is_memory_error():
    with pytest.raises(MemoryError):
        qt.local_kriging_grid_flat([[0, 0, 1]], qt.Lattice(0, 0, 1, 1, 2**40, 2**40), SPH, 4, 1.0)


def test_kriging_on_threads():
    rng = random.Random(21)
    coords = [[rng.uniform(0, 500), rng.uniform(0, 500), rng.gauss(0, 1)] for _ in range(300)]
    lat = qt.Lattice(0, 0, 5, 5, 100, 100)
    serial = qt.local_kriging_grid_flat(coords, lat, SPH, 16, 150.0)
    results = []
    threads = [threading.Thread(target=lambda: results.append(qt.local_kriging_grid_flat(coords, lat, SPH, 16, 150.0)))
               for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [serial, serial]


# ---- bit for bit against a literal restatement of the system and its LU ---------------

def lu_restated(a, m):
    perm = list(range(m))
    for j in range(m):
        p, big = j, abs(a[j][j])
        for k in range(j + 1, m):
            if abs(a[k][j]) > big:
                big, p = abs(a[k][j]), k
        if big == 0.0:
            return None
        if p != j:
            a[j], a[p] = a[p], a[j]
            perm[j], perm[p] = perm[p], perm[j]
        for row in range(j + 1, m):
            f = a[row][j] / a[j][j]
            a[row][j] = f
            for c in range(j + 1, m):
                a[row][c] -= a[j][c] * f
    return perm


def substitute_restated(a, m, perm, b):
    s = [b[perm[i]] for i in range(m)]
    for j in range(m):
        t = 0.0
        for k in range(j):
            t += a[j][k] * s[k]
        s[j] -= t
    for c in range(m - 1, -1, -1):
        v = s[c]
        for k in range(c + 1, m):
            v -= a[c][k] * s[k]
        s[c] = v / a[c][c]
    return s


def krige_restated(pts, z, nb, v, model):
    """(estimate, raw variance) of the stated system, or None when singular."""
    n = len(nb)
    m = n + 1
    a = [[0.0] * m for _ in range(m)]
    b = [0.0] * m
    for r in range(n):
        for c in range(n):
            dx = pts[nb[r][1]][0] - pts[nb[c][1]][0]
            dy = pts[nb[r][1]][1] - pts[nb[c][1]][1]
            h2 = dx * dx + dy * dy
            a[r][c] = 0.0 if h2 == 0.0 else gamma(v, math.sqrt(h2), model)
        a[r][n] = a[n][r] = 1.0
        b[r] = gamma(v, nb[r][0], model)
    b[n] = 1.0
    perm = lu_restated(a, m)
    if perm is None:
        return None
    s = substitute_restated(a, m, perm, b)
    est = 0.0
    for r in range(n):
        est += s[r] * z[nb[r][1]]
    var = s[n]
    for r in range(n):
        var += s[r] * b[r]
    return est, var


def near_datum_case(seed):
    rng = random.Random(seed)
    model = rng.choice(["sph", "exp", "gauss"])
    v = qt.Variogram(model, 0.0, 1.0, rng.uniform(2, 8))
    pts = [(rng.uniform(0, 5), rng.uniform(0, 5)) for _ in range(8)]
    z = [rng.gauss(0, 1) for _ in pts]
    q = (pts[0][0] + rng.choice([0, 1e-9, 1e-7, 1e-5]), pts[0][1])
    return model, v, pts, z, q


@pytest.mark.parametrize("seed", [5, 27, 33, 37])
def test_tiny_negative_variance_reported_as_zero(seed):
    model, v, pts, z, q = near_datum_case(seed)
    nb = sorted((math.sqrt((p[0] - q[0]) ** 2 + (p[1] - q[1]) ** 2), i) for i, p in enumerate(pts))
    est_ref, var_raw = krige_restated(pts, z, nb, v, model)
    assert var_raw < 0.0  # rounding took the stated sum below zero
    est, var = qt.local_kriging_grid([[x, y, w] for (x, y), w in zip(pts, z)],
                                     qt.Lattice(q[0], q[1], 1, 1, 1, 1), v, 8, 100.0)
    assert (est, var) == ([[est_ref]], [[0.0]])


@pytest.mark.parametrize(("model", "nugget"), [("sph", 0.2), ("exp", 0.0), ("gauss", 0.01), ("nugget", 0.3)])
def test_bit_for_bit_against_restated_system(model, nugget):
    rng = random.Random(model)
    coords = [[rng.uniform(0, 40), rng.uniform(0, 40), rng.gauss(0, 3)] for _ in range(25)]
    v = qt.Variogram(model, nugget, 2.0, 18.0)
    lat = qt.Lattice(1, 2, 4.5, 3.5, 9, 11, rotation_deg=10)
    est, var = qt.local_kriging_grid(coords, lat, v, 7, 15.0)
    pts = [(c[0], c[1]) for c in coords]
    z = [c[2] for c in coords]
    for j in range(lat.nrow):
        for i in range(lat.ncol):
            x, y = lat.node_xy(i, j)
            nb = []
            for m, (px, py) in enumerate(pts):
                dx, dy = px - x, py - y
                d2 = dx * dx + dy * dy
                if d2 <= 15.0 * 15.0:
                    nb.append((d2, m))
            nb = [(math.sqrt(d2), m) for d2, m in sorted(nb)[:7]]
            ref = krige_restated(pts, z, nb, v, model) if nb else None
            if ref is None:
                assert math.isnan(est[i][j]) and math.isnan(var[i][j])
            else:
                assert (est[i][j], var[i][j]) == (ref[0], ref[1] if ref[1] > 0.0 else 0.0)


def test_non_finite_lattice_nodes_are_nan():
    est, var = qt.local_kriging_grid([[0, 0, 1.0], [1, 1, 2.0]], qt.Lattice(math.nan, 0, 1, 1, 3, 2), SPH, 4, 10.0)
    assert all(math.isnan(x) for col in est + var for x in col)
