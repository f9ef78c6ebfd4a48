"""Write an in-memory asset as files, atomically: everything goes into a temporary folder beside
the output folder, which replaces the output folder only once complete."""
from __future__ import annotations

import json
import os
import secrets
import shutil
from typing import Callable

import numpy as np

from .. import _quarntools as qt
from ..io import _deps
from ..io.csv import write_csv
from ..io.geojson import polygon_feature, write_features
from ..io.manifest import file_entries, write_manifest
from . import geoscience as gs
from .build import Asset, Progress
from .config import config_to_dict
from .report import report_lines


SURFACES = ("top", "base", "isochore", "porosity_kriged", "porosity_p10", "porosity_p50", "porosity_p90")
CRS_NOTE = ("local engineering frame: x easting and y northing in metres in an undefined projected "
            "system (no EPSG code); depths in metres TVD below the datum plane z = 0, positive down")


class OutputError(OSError):
    """The output folder cannot be (re)placed as asked; nothing was written."""


def check_output(out: str, force: bool) -> None:
    """Refuse an output folder that must not be replaced: a file, a non-empty folder without
    ``force``, or (even with ``force``) a non-empty folder that is not a quarntools asset."""
    if os.path.islink(out):
        raise OutputError(f"{out}: is a symbolic link; give the folder it points to")
    if os.path.lexists(out) and not os.path.isdir(out):
        raise OutputError(f"{out}: exists and is not a folder")
    if os.path.isdir(out) and os.listdir(out):
        if not force:
            raise OutputError(f"{out}: folder exists and is not empty; use --force to replace it")
        if not os.path.isfile(os.path.join(out, "manifest.json")):
            raise OutputError(f"{out}: refusing to replace a non-empty folder that is not a "
                              "quarntools asset (no manifest.json); remove it yourself")


def write_asset(asset: Asset, out: str, force: bool = False, progress: Progress | None = None,
                figures: bool | None = None) -> list[dict[str, str]]:
    """Write ``asset`` into folder ``out`` (see the README for the layout) and return the
    manifest's file list. ``out`` is replaced only when everything was written; an error or an
    interrupt leaves it as it was."""
    check_output(out, force)
    _deps.require("xtgeo", "writing surfaces")
    _deps.require("lasio", "writing LAS files")
    want_fig = asset.config.output.figures if figures is None else figures
    plot = want_fig and _deps.available("matplotlib")
    prog = progress or Progress(enabled=False)
    parent = os.path.dirname(os.path.abspath(out)) or "."
    os.makedirs(parent, exist_ok=True)
    base = os.path.basename(os.path.abspath(out))
    tmp = _new_folder(parent, f".{base}.tmp-")
    try:
        prog.stage("writing files")
        kinds = _write_files(asset, tmp, prog, plot)
        files = file_entries(tmp, kinds)
        write_manifest(os.path.join(tmp, "manifest.json"), _manifest(asset, files))
        _swap_into_place(tmp, out)
    except BaseException:
        shutil.rmtree(tmp, ignore_errors=True)
        raise
    prog.done()
    return files


def _new_folder(parent: str, prefix: str) -> str:
    """A new, uniquely named folder with the permissions of any folder the user creates (the
    umask applies; ``tempfile.mkdtemp`` would make it private to the user)."""
    while True:
        path = os.path.join(parent, prefix + secrets.token_hex(4))
        try:
            os.mkdir(path)
        except FileExistsError:
            continue
        return path


def _swap_into_place(tmp: str, out: str) -> None:
    if not os.path.lexists(out):
        os.rename(tmp, out)
        return
    old = _new_folder(os.path.dirname(os.path.abspath(out)), f".{os.path.basename(os.path.abspath(out))}.old-")
    os.rmdir(old)
    os.rename(out, old)
    try:
        os.rename(tmp, out)
    except BaseException:
        os.rename(old, out)
        raise
    shutil.rmtree(old, ignore_errors=True)


def _write_files(a: Asset, root: str, prog: Progress, plot: bool) -> dict[str, str]:
    from ..io.irap import write_irap, write_zmap
    kinds: dict[str, str] = {}

    def path(rel: str, kind: str) -> str:
        kinds[rel] = kind
        full = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        return full

    grids = {"top": a.top, "base": a.base, "isochore": a.isochore, "porosity_kriged": a.porosity_kriged,
             "porosity_p10": a.porosity_pct["p10"], "porosity_p50": a.porosity_pct["p50"],
             "porosity_p90": a.porosity_pct["p90"]}
    for name in SURFACES:
        write_irap(path(f"surfaces/{name}.irap", "surface-irap-binary"), grids[name], a.lattice, name)
        if a.config.output.zmap:
            write_zmap(path(f"surfaces/{name}.zmap", "surface-zmap-plus"), grids[name], a.lattice, name)

    _write_wells(a, path)
    _write_outlines(a, path)
    _write_volumetrics(a, path)
    text = "\n".join(report_lines(a)) + "\n"
    with open(path("report.txt", "report"), "w", encoding="utf-8", newline="\n") as fh:
        fh.write(text)
    if plot:
        prog.stage("figures")
        from .figures import write_figures
        for rel in write_figures(a, os.path.join(root, "figures")):
            kinds[f"figures/{rel}"] = "figure-png"
    return kinds


def _write_wells(a: Asset, path: Callable[[str, str], str]) -> None:
    from ..io.las import LasCurve, write_las
    cfg = a.config
    write_csv(path("wells/heads.csv", "well-heads-csv"), ["well", "x", "y", "kb"],
              [[w.name, w.head[0], w.head[1], w.kb_m] for w in a.wells])
    tops = []
    for w in a.wells:
        for key in ("top", "base"):
            p = w.picks[key]
            tops.append([w.name, key] + ([p.md, p.tvd, p.x, p.y] if p is not None else [None] * 4))
    write_csv(path("wells/tops.csv", "well-tops-csv"), ["well", "surface", "md", "tvd", "x", "y"], tops)
    for k, w in enumerate(a.wells):
        sv = w.survey
        write_csv(path(f"wells/{w.name}_survey.csv", "well-survey-csv"),
                  ["md", "incl", "azim", "x", "y", "tvd"],
                  zip(*(sv[c].tolist() for c in ("md", "incl", "azim", "x", "y", "tvd"))))
        if w.log is None:
            continue
        lg = w.log
        curves = [LasCurve("DEPT", "m", "measured depth along hole from KB", lg["DEPT"]),
                  LasCurve("TVD", "m", "true vertical depth below datum, positive down", lg["TVD"]),
                  LasCurve("X", "m", "easting", lg["X"]),
                  LasCurve("Y", "m", "northing", lg["Y"]),
                  LasCurve("ZONE", "code", "1 cap rock, 2 reservoir, 3 below the base", lg["ZONE"]),
                  LasCurve("PHIE", "v/v", "effective porosity", lg["PHIE"]),
                  LasCurve("NET", "flag", "net reservoir flag (PHIE >= cutoff), 0 or 1", lg["NET"]),
                  LasCurve("NTG", "v/v", f"running net-to-gross over {cfg.logs.ntg_window_m:g} m", lg["NTG"])]
        well_rows = [("WELL", w.name, "", "WELL"), ("FLD", cfg.asset.name, "", "FIELD"),
                     ("COMP", "quarntools synthetic", "", "COMPANY"),
                     ("UWI", f"{cfg.asset.name}-{a.seed}-{k + 1:03d}", "", "UNIQUE WELL ID"),
                     ("LOC", f"{w.head[0]:.2f} E {w.head[1]:.2f} N", "", "LOCATION (well head)"),
                     ("XWELL", round(w.head[0], 4), "m", "WELL HEAD X (easting)"),
                     ("YWELL", round(w.head[1], 4), "m", "WELL HEAD Y (northing)"),
                     ("EKB", w.kb_m, "m", "KELLY BUSHING ELEVATION above datum")]
        params = []
        for key, mn in (("top", "TOP"), ("base", "BASE")):
            p = w.picks[key]
            if p is not None:
                params += [(f"{mn}_MD", round(p.md, 4), "m", f"reservoir {key} pick, MD"),
                           (f"{mn}_TVD", round(p.tvd, 4), "m", f"reservoir {key} pick, TVD below datum")]
        write_las(path(f"wells/{w.name}.las", "well-log-las"), well_rows, curves, params,
                  step=cfg.logs.step_m)


def _write_outlines(a: Asset, path: Callable[[str, str], str]) -> None:
    props = {"spill_tvd_m": a.spill_tvd_m, "contact_tvd_m": a.contact_tvd_m, "crest_tvd_m": a.crest_tvd_m}
    write_features(path("outlines/closure.geojson", "outline-geojson"),
                   [polygon_feature(a.closure, {"name": "closure", **props,
                                                "area_m2": gs.ring_area(a.closure),
                                                "crs": CRS_NOTE})], "closure")
    write_features(path("outlines/study_area.geojson", "outline-geojson"),
                   [polygon_feature(a.study_area, {"name": "study_area", **props,
                                                   "area_m2": gs.ring_area(a.study_area),
                                                   "crs": CRS_NOTE})], "study_area")


def _write_volumetrics(a: Asset, path: Callable[[str, str], str]) -> None:
    write_csv(path("volumetrics/realizations.csv", "volumetrics-csv"),
              ["realization", "seed", "grv_m3", "ntg", "phi", "sw", "bo", "stoiip_sm3"],
              [[r.index, r.seed, r.grv_m3, r.ntg, r.phi, r.sw, r.bo, r.stoiip_sm3] for r in a.realizations])
    with open(path("volumetrics/summary.json", "volumetrics-summary"), "w", encoding="utf-8",
              newline="\n") as fh:
        json.dump(a.summary(), fh, indent=1, allow_nan=False)
        fh.write("\n")


def _lattice_dict(lat) -> dict[str, object]:
    return {"xori": lat.xori, "yori": lat.yori, "xinc": lat.xinc, "yinc": lat.yinc, "ncol": lat.ncol,
            "nrow": lat.nrow, "rotation_deg": lat.rotation_deg, "yflip": bool(lat.yflip)}


def _manifest(a: Asset, files: list[dict[str, str]]) -> dict[str, object]:
    return {"format": "quarntools-asset", "format_version": 1, "package": "quarntools",
            "version": qt.__version__, "seed": a.seed, "config": config_to_dict(a.config),
            "lattice": _lattice_dict(a.lattice), "simulation_lattice": _lattice_dict(a.sim_lattice),
            "units": {"length": "m", "depth": "m TVD below datum, positive down",
                      "md": "m along hole from the kelly bushing", "angle": "deg",
                      "porosity": "v/v", "volume": "m3 (GRV), sm3 (STOIIP)"},
            "crs": CRS_NOTE,
            "notes": ["surfaces: IRAP classic binary (xtgeo); values stored as 32-bit floats; "
                      "undefined nodes as the format's undefined value",
                      "porosity_p90/p50/p10: node-wise percentiles over the realizations (P90 = "
                      "10th percentile, the low case), simulated on simulation_lattice and "
                      "interpolated bilinearly onto lattice"],
            "files": files}
