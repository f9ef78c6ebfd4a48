"""Every file of a written asset read back with the readers users use: xtgeo, lasio, json, csv."""
import csv
import hashlib
import json
import math
import os

import numpy as np
import pytest

import quarntools as qt
from quarntools.asset import build_asset, parse_config, write_asset
from quarntools.asset import geoscience as gs
from quarntools.io.irap import write_irap

xtgeo = pytest.importorskip("xtgeo")
lasio = pytest.importorskip("lasio")

CONFIG = """
[frame]
ncol = 41
nrow = 41
xinc = 150.0
yinc = 150.0
rotation_deg = -30.0
yflip = true
[wells]
count = 4
residual_std_m = 0.0
[volumetrics]
realizations = 20
[porosity]
control_wells = 8
"""


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    asset = build_asset(parse_config(CONFIG))
    out = tmp_path_factory.mktemp("asset") / "out"
    files = write_asset(asset, str(out))
    return asset, out, files


def _read_csv(path):
    with open(path, newline="") as fh:
        return list(csv.DictReader(fh))


def test_layout_and_manifest_hashes(built):
    asset, out, files = built
    on_disk = sorted(os.path.relpath(os.path.join(d, f), out).replace(os.sep, "/")
                     for d, _, fs in os.walk(out) for f in fs)
    names = [w.name for w in asset.wells]
    expected = sorted(["manifest.json", "report.txt", "outlines/closure.geojson", "outlines/study_area.geojson",
                       "volumetrics/realizations.csv", "volumetrics/summary.json", "wells/heads.csv",
                       "wells/tops.csv"] + [f"surfaces/{s}.irap" for s in
                                            ("top", "base", "isochore", "porosity_kriged", "porosity_p10",
                                             "porosity_p50", "porosity_p90")]
                      + [f"wells/{n}.las" for n in names] + [f"wells/{n}_survey.csv" for n in names])
    assert on_disk == expected
    man = json.loads((out / "manifest.json").read_text())
    assert [e["path"] for e in man["files"]] == [p for p in expected if p != "manifest.json"]
    for e in man["files"]:
        assert e["sha256"] == hashlib.sha256((out / e["path"]).read_bytes()).hexdigest(), e["path"]
    assert man["seed"] == 20261207 and man["version"] == qt.__version__
    assert man["lattice"] == {"xori": 431000.0, "yori": 6521000.0, "xinc": 150.0, "yinc": 150.0, "ncol": 41,
                              "nrow": 41, "rotation_deg": 330.0, "yflip": True}
    assert man["config"]["frame"]["rotation_deg"] == -30.0
    assert not [p for p in os.listdir(out.parent) if p.startswith(".out.")]   # no temp folder left


SURFACE_NAMES = ["top", "base", "isochore", "porosity_kriged", "porosity_p10", "porosity_p50", "porosity_p90"]


@pytest.mark.parametrize("name", SURFACE_NAMES)
def test_surfaces_read_back_with_xtgeo(built, name):
    asset, out, _ = built
    s = xtgeo.surface_from_file(str(out / "surfaces" / f"{name}.irap"), fformat="irap_binary")
    lat = asset.lattice
    assert (s.ncol, s.nrow, s.xori, s.yori, s.xinc, s.yinc, s.rotation, s.yflip) == \
        (41, 41, lat.xori, lat.yori, 150.0, 150.0, 330.0, -1)
    grid = {"top": asset.top, "base": asset.base, "isochore": asset.isochore,
            "porosity_kriged": asset.porosity_kriged, "porosity_p10": asset.porosity_pct["p10"],
            "porosity_p50": asset.porosity_pct["p50"], "porosity_p90": asset.porosity_pct["p90"]}[name]
    assert np.array_equal(np.ma.filled(s.values, np.nan), grid.astype(np.float32).astype(np.float64),
                          equal_nan=True)


def test_depth_grids_are_exported_without_rounding(built):
    asset, _, _ = built
    for g in (asset.top, asset.base, asset.isochore):
        assert np.array_equal(g.astype(np.float32).astype(np.float64), g)


def test_porosity_percentile_maps_are_ordered(built):
    asset, _, _ = built
    p = asset.porosity_pct
    assert np.all(p["p90"] <= p["p50"]) and np.all(p["p50"] <= p["p10"])
    assert np.any(p["p90"] < p["p10"])


LATTICES = [
    pytest.param(0.0, False, id="axis-aligned"),
    pytest.param(20.0, False, id="rotated"),
    pytest.param(20.0, True, id="rotated-flipped"),
    pytest.param(300.0, True, id="rotated-300-flipped"),
]


@pytest.mark.parametrize(("rotation", "yflip"), LATTICES)
def test_irap_geometry_and_undefined_nodes(tmp_path, rotation, yflip):
    lat = qt.Lattice(1000.0, 2000.0, 50.0, 25.0, 4, 3, rotation, yflip)
    v = np.arange(12.0).reshape(4, 3) + 0.5
    v[2, 1] = np.nan
    write_irap(str(tmp_path / "s.irap"), v, lat)
    s = xtgeo.surface_from_file(str(tmp_path / "s.irap"))
    x, y, _ = s.get_xyz_values()
    assert np.allclose(np.asarray(x), [[lat.node_xy(i, j)[0] for j in range(3)] for i in range(4)], atol=1e-6)
    assert np.allclose(np.asarray(y), [[lat.node_xy(i, j)[1] for j in range(3)] for i in range(4)], atol=1e-6)
    assert s.values.mask.tolist() == (np.isnan(v)).tolist()
    assert np.ma.filled(s.values, -1.0)[3, 2] == 11.5
    raw = (tmp_path / "s.irap").read_bytes()
    assert np.array([1e30], ">f4").tobytes() in raw    # the binary format's undefined value


def test_las_files_read_back_with_lasio(built):
    asset, out, _ = built
    cfg = asset.config
    for k, w in enumerate(asset.wells):
        las = lasio.read(str(out / "wells" / f"{w.name}.las"))
        assert las.version["VERS"].value == 2.0
        assert [c.mnemonic for c in las.curves] == ["DEPT", "TVD", "X", "Y", "ZONE", "PHIE", "NET", "NTG"]
        assert [c.unit for c in las.curves] == ["m", "m", "m", "m", "code", "v/v", "flag", "v/v"]
        h = las.well
        assert (h["WELL"].value, h["FLD"].value, h["UWI"].value) == (w.name, "QUARN", f"QUARN-20261207-{k + 1:03d}")
        assert (h["NULL"].value, h["STEP"].value, h["STEP"].unit) == (-999.25, 0.5, "m")
        assert (h["STRT"].value, h["STOP"].value) == (w.log["DEPT"][0], w.log["DEPT"][-1])
        assert (h["XWELL"].value, h["YWELL"].value, h["EKB"].value) == \
            (round(w.head[0], 4), round(w.head[1], 4), cfg.wells.kb_m)
        for c in ("DEPT", "TVD", "X", "Y", "ZONE", "PHIE", "NET", "NTG"):
            assert las[c].tolist() == [float(f"{v:.5f}") for v in w.log[c]], c
        assert las.params["TOP_MD"].value == round(w.picks["top"].md, 4)
        assert las.params["BASE_TVD"].value == round(w.picks["base"].tvd, 4)


def test_tops_csv_matches_the_logs_and_the_report(built):
    asset, out, _ = built
    rows = _read_csv(out / "wells" / "tops.csv")
    assert [(r["well"], r["surface"]) for r in rows] == [(w.name, s) for w in asset.wells for s in ("top", "base")]
    report = (out / "report.txt").read_text()
    for r in rows:
        w = next(w for w in asset.wells if w.name == r["well"])
        p = w.picks[r["surface"]]
        assert [float(r[c]) for c in ("md", "tvd", "x", "y")] == [p.md, p.tvd, p.x, p.y]
        las = lasio.read(str(out / "wells" / f"{w.name}.las"))
        md, zone = las["DEPT"], las["ZONE"]
        first = md[zone == (2 if r["surface"] == "top" else 3)][0]
        assert first - 0.5 < float(r["md"]) <= first          # the ZONE curve steps at the pick
        if r["surface"] == "top":
            assert f"{w.name:<5} {w.head[0]:11.1f} {w.head[1]:12.1f} {p.md:8.1f} {p.tvd:8.1f}" in report


def _xtgeo_surface_at(surf, x, y):
    return np.array([surf.get_value_from_xy((a, b), sampling="bilinear") or np.nan for a, b in zip(x, y)],
                    dtype=float)


def test_tops_are_where_the_survey_meets_the_exported_surfaces(built):
    # independent: the survey CSV interpolated linearly at 0.05 m, surfaces sampled by xtgeo
    asset, out, _ = built
    rows = {(r["well"], r["surface"]): r for r in _read_csv(out / "wells" / "tops.csv")}
    for name in ("top", "base"):
        surf = xtgeo.surface_from_file(str(out / "surfaces" / f"{name}.irap"))
        for w in asset.wells:
            sv = _read_csv(out / "wells" / f"{w.name}_survey.csv")
            md, x, y, tvd = (np.array([float(r[c]) for r in sv]) for c in ("md", "x", "y", "tvd"))
            pick = float(rows[(w.name, name)]["md"])
            fine = np.arange(pick - 20.0, pick + 20.0, 0.05)
            fx, fy, ft = np.interp(fine, md, x), np.interp(fine, md, y), np.interp(fine, md, tvd)
            diff = ft - _xtgeo_surface_at(surf, fx, fy)
            k = int(np.flatnonzero((diff[:-1] < 0) & (diff[1:] >= 0))[0])
            assert abs(fine[k] - pick) <= 0.06, (w.name, name)
            assert float(rows[(w.name, name)]["tvd"]) == pytest.approx(ft[k], abs=0.06)
            # the pick lies where the deviated path is, not below the well head
            r = rows[(w.name, name)]
            assert math.hypot(float(r["x"]) - w.head[0], float(r["y"]) - w.head[1]) > 500.0


def test_grv_from_the_exported_grids(built):
    # independent: xtgeo-read grids, the contact from summary.json, the trap as the crest's
    # connected region (scipy labelling), the cell area from the file's increments
    ndimage = pytest.importorskip("scipy.ndimage")
    asset, out, _ = built
    summary = json.loads((out / "volumetrics" / "summary.json").read_text())
    top = xtgeo.surface_from_file(str(out / "surfaces" / "top.irap"))
    base = xtgeo.surface_from_file(str(out / "surfaces" / "base.irap"))
    t = np.ma.filled(top.values, np.nan).astype(float)
    b = np.ma.filled(base.values, np.nan).astype(float)
    contact = summary["contact_tvd_m"]
    labels, _ = ndimage.label(t < contact)
    trap = labels == labels[np.unravel_index(np.nanargmin(t), t.shape)]
    h = np.where(trap, np.clip(np.minimum(b, contact) - t, 0.0, None), 0.0)
    assert summary["grv_m3"] == float(np.sum(h)) * top.xinc * top.yinc
    assert summary["grv"]["p50"] == summary["grv_m3"]


def test_volumetrics_files(built):
    asset, out, _ = built
    rows = _read_csv(out / "volumetrics" / "realizations.csv")
    assert list(rows[0]) == ["realization", "seed", "grv_m3", "ntg", "phi", "sw", "bo", "stoiip_sm3"]
    st = []
    for k, r in enumerate(rows):
        v = {c: float(r[c]) for c in ("grv_m3", "ntg", "phi", "sw", "bo", "stoiip_sm3")}
        assert int(r["realization"]) == k
        assert v["stoiip_sm3"] == v["grv_m3"] * v["ntg"] * v["phi"] * (1.0 - v["sw"]) / v["bo"]
        st.append(v["stoiip_sm3"])
    s = json.loads((out / "volumetrics" / "summary.json").read_text())
    assert s["stoiip"]["p90"] <= s["stoiip"]["p50"] <= s["stoiip"]["p10"]
    assert [s["stoiip"][k] for k in ("p90", "p50", "p10")] == \
        [float(np.percentile(st, q, method="linear")) for q in (10, 50, 90)]
    assert s["stoiip"]["unit"] == "sm3" and s["grv"]["unit"] == "m3"


@pytest.mark.parametrize("name", ["closure", "study_area"])
def test_geojson_rings_are_closed(built, name):
    asset, out, _ = built
    doc = json.loads((out / "outlines" / f"{name}.geojson").read_text())
    (feat,) = doc["features"]
    ring = feat["geometry"]["coordinates"][0]
    assert feat["geometry"]["type"] == "Polygon" and ring[0] == ring[-1] and len(ring) >= 5
    ox, oy = ring[0]
    area2 = sum((x0 - ox) * (y1 - oy) - (x1 - ox) * (y0 - oy) for (x0, y0), (x1, y1) in zip(ring, ring[1:]))
    assert area2 > 0                                                   # counter-clockwise
    assert feat["properties"]["area_m2"] == pytest.approx(area2 / 2, rel=1e-9)
    assert feat["properties"]["spill_tvd_m"] == asset.spill_tvd_m
    if name == "study_area":
        assert feat["properties"]["area_m2"] == pytest.approx(40 * 150.0 * 40 * 150.0, rel=1e-12)


def test_surveys_and_heads(built):
    asset, out, _ = built
    heads = _read_csv(out / "wells" / "heads.csv")
    assert [(h["well"], float(h["x"]), float(h["y"]), float(h["kb"])) for h in heads] == \
        [(w.name, w.head[0], w.head[1], 25.0) for w in asset.wells]
    for w in asset.wells:
        sv = _read_csv(out / "wells" / f"{w.name}_survey.csv")
        assert list(sv[0]) == ["md", "incl", "azim", "x", "y", "tvd"]
        assert (float(sv[0]["x"]), float(sv[0]["y"]), float(sv[0]["tvd"])) == (w.head[0], w.head[1], -25.0)
        md = [float(r["md"]) for r in sv]
        assert md[1] - md[0] == 10.0 and math.isclose(md[-1] % 10.0, 0.0, abs_tol=1e-9)


def test_zmap_copies_resample_the_rotated_surfaces(tmp_path):
    asset = build_asset(parse_config(CONFIG.replace("realizations = 20", "realizations = 4")
                                     + "[output]\nzmap = true\n"))
    write_asset(asset, str(tmp_path / "z"))
    names = sorted(p.name for p in (tmp_path / "z" / "surfaces").iterdir())
    assert names == sorted([f"{s}.irap" for s in SURFACE_NAMES] + [f"{s}.zmap" for s in SURFACE_NAMES])
    irap = xtgeo.surface_from_file(str(tmp_path / "z" / "surfaces" / "top.irap"))
    z = xtgeo.surface_from_file(str(tmp_path / "z" / "surfaces" / "top.zmap"), fformat="zmap_ascii")
    assert z.rotation == 0.0
    x, y, v = z.get_xyz_values()
    ok = ~np.ma.getmaskarray(v)
    assert 0 < ok.sum() < ok.size                 # the corners outside the rotated lattice are undefined
    ref = np.array([irap.get_value_from_xy((a, b)) for a, b in zip(np.asarray(x)[ok], np.asarray(y)[ok])],
                   dtype=float)
    assert np.nanmax(np.abs(np.asarray(v)[ok] - ref)) < 1e-3


def test_an_empty_pick_is_written_empty_and_explained(tmp_path):
    asset = build_asset(parse_config(CONFIG.replace("realizations = 20", "realizations = 4")))
    w = asset.wells[1]
    w.picks["base"] = None
    w.why["base"] = "TD reached at 2500.0 m MD, 2350.0 m TVD, 3.0 m above the surface"
    write_asset(asset, str(tmp_path / "e"))
    rows = _read_csv(tmp_path / "e" / "wells" / "tops.csv")
    assert [r for r in rows if r["well"] == w.name and r["surface"] == "base"] == \
        [{"well": w.name, "surface": "base", "md": "", "tvd": "", "x": "", "y": ""}]
    assert (f"           {w.name} has no base pick: TD reached at 2500.0 m MD, 2350.0 m TVD, "
            "3.0 m above the surface\n") in (tmp_path / "e" / "report.txt").read_text()
    assert "BASE_MD" not in lasio.read(str(tmp_path / "e" / "wells" / f"{w.name}.las")).params
