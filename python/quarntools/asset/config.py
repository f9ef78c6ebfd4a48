"""Asset description: frozen dataclasses, the commented default TOML and a strict loader.

Every knob of the synthetic asset lives here. ``load_config`` reads TOML (stdlib ``tomllib``)
and rejects unknown keys, wrong types and out-of-range values with a ``ConfigError`` naming
the key and its line, before anything is built or written.
"""
from __future__ import annotations

import dataclasses
import difflib
import math
import re
import tomllib
from dataclasses import dataclass, field
from typing import Any


SEED_MAX = 2**64 - 1


class ConfigError(ValueError):
    """A bad asset description: the message names the file, line and key."""


def knob(default: Any, doc: str, *, lo: float | None = None, hi: float | None = None,
         lo_open: bool = False, hi_open: bool = False, choices: tuple[str, ...] = (),
         number_or: str = "") -> Any:
    """A config field: default, one-line doc for the commented TOML, and its valid range."""
    meta = {"doc": doc, "lo": lo, "hi": hi, "lo_open": lo_open, "hi_open": hi_open,
            "choices": choices, "number_or": number_or}
    return field(default=default, metadata=meta)


@dataclass(frozen=True)
class AssetSection:
    """Name, wells prefix and master seed."""
    name: str = knob("QUARN", "field name (LAS FLD, report title)")
    well_prefix: str = knob("W-", "well names are the prefix plus 1, 2, ...")
    seed: int = knob(20261207, "master seed; every stage derives its own seed from it",
                     lo=0, hi=SEED_MAX)


@dataclass(frozen=True)
class FrameSection:
    """World frame and lattice (local engineering frame, metres)."""
    east0: float = knob(431000.0, "easting of lattice node (0, 0), m")
    north0: float = knob(6521000.0, "northing of lattice node (0, 0), m")
    xinc: float = knob(50.0, "node spacing along the I axis, m", lo=0.0, lo_open=True)
    yinc: float = knob(50.0, "node spacing along the J axis, m", lo=0.0, lo_open=True)
    ncol: int = knob(121, "nodes along I", lo=8, hi=4001)
    nrow: int = knob(121, "nodes along J", lo=8, hi=4001)
    rotation_deg: float = knob(20.0, "rotation of the I axis, degrees counter-clockwise from east",
                               lo=-360.0, hi=360.0)
    yflip: bool = knob(False, "true: positive J runs clockwise from I (left-handed lattice)")


@dataclass(frozen=True)
class StructureSection:
    """Top-reservoir structure: a dome with regional tilt and correlated noise."""
    datum_tvd_m: float = knob(2400.0, "regional datum of the top surface, m TVD (positive down)",
                              lo=0.0, lo_open=True, hi=20000.0)
    relief_m: float = knob(120.0, "dome amplitude above the datum, m", lo=0.0, lo_open=True, hi=5000.0)
    aspect: float = knob(1.3, "east-west over north-south elongation of the dome", lo=0.05, hi=20.0)
    tilt_m: float = knob(10.0, "regional tilt, m of rise from the west to the east edge",
                         lo=-5000.0, hi=5000.0)
    noise_std_m: float = knob(3.0, "standard deviation of the correlated structural noise, m",
                              lo=0.0, hi=1000.0)
    noise_range_m: float = knob(600.0, "range of the noise variogram (spherical), m",
                                lo=0.0, lo_open=True)


@dataclass(frozen=True)
class ContactSection:
    """Oil-water contact."""
    tvd_m: float | str = knob("spill", "contact depth, m TVD, or \"spill\" for the spill point",
                              lo=0.0, lo_open=True, number_or="spill")


@dataclass(frozen=True)
class IsochoreSection:
    """Reservoir thickness (vertical), top to base."""
    mean_m: float = knob(45.0, "mean isochore, m", lo=0.0, lo_open=True, hi=2000.0)
    std_m: float = knob(8.0, "standard deviation of the isochore, m", lo=0.0, hi=1000.0)
    range_m: float = knob(750.0, "range of the isochore variogram (gaussian), m", lo=0.0, lo_open=True)


@dataclass(frozen=True)
class WellsSection:
    """Appraisal wells: targets inside the closure, directional paths from their heads."""
    count: int = knob(6, "number of wells", lo=1, hi=200)
    target_fraction: float = knob(0.6, "targets lie above crest + fraction x (contact - crest)",
                                  lo=0.0, lo_open=True, hi=1.0)
    profile: str = knob("build_hold", "trajectory profile",
                        choices=("vertical", "build_hold", "build_hold_drop"))
    kb_m: float = knob(25.0, "kelly-bushing elevation above datum zero, m", lo=-1000.0, hi=5000.0)
    kickoff_md_m: float = knob(600.0, "kick-off MD, m", lo=0.0)
    build_rate_deg_per_30m: float = knob(2.0, "build rate, deg/30 m", lo=0.0, lo_open=True, hi=6.0)
    hold_incl_deg: float = knob(25.0, "hold inclination, deg", lo=0.0, lo_open=True, hi=90.0,
                                hi_open=True)
    drop_start_md_m: float = knob(2000.0, "drop start MD, m (build_hold_drop only)", lo=0.0)
    drop_rate_deg_per_30m: float = knob(2.0, "drop rate, deg/30 m (build_hold_drop only)",
                                        lo=0.0, lo_open=True, hi=6.0)
    final_incl_deg: float = knob(0.0, "inclination after the drop, deg (build_hold_drop only)",
                                 lo=0.0, hi=90.0, hi_open=True)
    azimuth_min_deg: float = knob(0.0, "well azimuths are uniform in [min, max), deg from north",
                                  lo=-360.0, hi=360.0)
    azimuth_max_deg: float = knob(360.0, "upper azimuth bound, deg", lo=-360.0, hi=720.0)
    survey_step_m: float = knob(10.0, "survey station spacing along MD, m", lo=0.1, hi=100.0)
    td_below_base_m: float = knob(30.0, "total depth this far (TVD) below the base pick, m",
                                  lo=1.0, hi=2000.0)
    residual_mean_m: float = knob(0.0, "mean of the pick residual (well minus map), m",
                                  lo=-100.0, hi=100.0)
    residual_std_m: float = knob(2.0, "standard deviation of the pick residual, m (0: none)",
                                 lo=0.0, hi=100.0)


@dataclass(frozen=True)
class LogsSection:
    """Well logs over the reservoir and a shoulder above and below it."""
    step_m: float = knob(0.5, "sample step along MD, m", lo=0.01, hi=10.0)
    shoulder_m: float = knob(10.0, "logged MD above the top and below the base pick, m",
                             lo=0.0, hi=500.0)
    ntg_window_m: float = knob(5.0, "window of the running NTG curve, m", lo=0.0, lo_open=True)
    cap_por_mean: float = knob(0.06, "cap-rock porosity mean", lo=0.0, lo_open=True, hi=1.0,
                               hi_open=True)
    cap_por_std: float = knob(0.02, "cap-rock porosity standard deviation", lo=0.0, lo_open=True,
                              hi=0.5)
    base_por_mean: float = knob(0.08, "porosity mean below the base", lo=0.0, lo_open=True, hi=1.0,
                                hi_open=True)
    base_por_std: float = knob(0.025, "porosity standard deviation below the base", lo=0.0,
                               lo_open=True, hi=0.5)
    shoulder_corr_m: float = knob(2.0, "depth correlation length of the shoulder logs, m",
                                  lo=0.0, lo_open=True)
    ntg_target: float = knob(0.65, "reservoir net-to-gross target", lo=0.0, lo_open=True, hi=1.0,
                             hi_open=True)
    net_por_mean: float = knob(0.22, "mean porosity of net reservoir", lo=0.0, lo_open=True, hi=1.0,
                               hi_open=True)
    net_por_std: float = knob(0.035, "porosity standard deviation of net reservoir", lo=0.0,
                              lo_open=True, hi=0.5)
    nonnet_por_mean: float = knob(0.07, "porosity mean of non-net facies", lo=0.0, lo_open=True,
                                  hi=1.0, hi_open=True)
    nonnet_por_std: float = knob(0.025, "porosity standard deviation of non-net facies", lo=0.0,
                                 lo_open=True, hi=0.5)
    net_cutoff: float = knob(0.1, "porosity cutoff for net", lo=0.0, lo_open=True, hi=1.0,
                             hi_open=True)
    bed_scale_m: float = knob(1.5, "facies bed scale, m", lo=0.0, lo_open=True)
    correlation_len_m: float = knob(3.0, "porosity depth correlation length, m", lo=0.0, lo_open=True)


@dataclass(frozen=True)
class PorositySection:
    """Net-porosity maps from well averages: kriged and simulated."""
    control_wells: int = knob(24, "older control wells drawn across the study area", lo=0, hi=10000)
    control_interval_m: float = knob(45.0, "logged reservoir interval of a control well, m",
                                     lo=1.0, hi=2000.0)
    variogram: str = knob("spherical", "variogram model",
                          choices=("spherical", "exponential", "gaussian"))
    range_m: float = knob(2000.0, "variogram range, m", lo=0.0, lo_open=True)
    nugget_fraction: float = knob(0.0, "nugget as a fraction of the data variance", lo=0.0, hi=1.0,
                                  hi_open=True)
    krige_neighbours: int = knob(16, "kriging neighbours", lo=1, hi=256)
    sim_neighbours: int = knob(12, "simulation neighbours", lo=1, hi=256)
    radius_m: float = knob(10000.0, "search radius, m", lo=0.0, lo_open=True)
    coarsen: int = knob(4, "realizations run on a lattice this many times coarser", lo=1, hi=64)


@dataclass(frozen=True)
class VolumetricsSection:
    """Monte Carlo volumetrics: one SGS net-porosity map and one NTG, Sw, Bo draw per realization."""
    realizations: int = knob(200, "number of realizations", lo=1, hi=100000)
    ntg_min: float = knob(0.5, "NTG triangular minimum", lo=0.0, hi=1.0)
    ntg_mode: float = knob(0.65, "NTG triangular mode", lo=0.0, hi=1.0)
    ntg_max: float = knob(0.8, "NTG triangular maximum", lo=0.0, hi=1.0)
    sw_mean: float = knob(0.3, "water saturation mean (normal, clamped)", lo=0.0, hi=1.0)
    sw_std: float = knob(0.05, "water saturation standard deviation", lo=0.0, lo_open=True, hi=1.0)
    sw_min: float = knob(0.1, "water saturation lower clamp", lo=0.0, hi=1.0)
    sw_max: float = knob(0.6, "water saturation upper clamp", lo=0.0, hi=1.0)
    bo_min: float = knob(1.15, "oil formation volume factor, uniform minimum, rm3/sm3",
                         lo=0.0, lo_open=True, hi=10.0)
    bo_max: float = knob(1.35, "oil formation volume factor, uniform maximum, rm3/sm3",
                         lo=0.0, lo_open=True, hi=10.0)


@dataclass(frozen=True)
class OutputSection:
    """What is written besides the always-present files."""
    zmap: bool = knob(False, "also write ZMAP+ copies of the surfaces (unrotated lattice)")
    figures: bool = knob(False, "write figures/*.png when matplotlib is installed (the demo always does)")
    threads: int = knob(0, "worker threads for the realizations (0: one per core)", lo=0, hi=256)


@dataclass(frozen=True)
class AssetConfig:
    """The whole asset description; ``default_config()`` is the default asset."""
    asset: AssetSection = field(default_factory=AssetSection)
    frame: FrameSection = field(default_factory=FrameSection)
    structure: StructureSection = field(default_factory=StructureSection)
    contact: ContactSection = field(default_factory=ContactSection)
    isochore: IsochoreSection = field(default_factory=IsochoreSection)
    wells: WellsSection = field(default_factory=WellsSection)
    logs: LogsSection = field(default_factory=LogsSection)
    porosity: PorositySection = field(default_factory=PorositySection)
    volumetrics: VolumetricsSection = field(default_factory=VolumetricsSection)
    output: OutputSection = field(default_factory=OutputSection)

    def with_seed(self, seed: int) -> "AssetConfig":
        """This config with another master seed (validated like the TOML key)."""
        _check_value("asset.seed", seed, _field_of(AssetSection, "seed"), int, None, "<command line>")
        return dataclasses.replace(self, asset=dataclasses.replace(self.asset, seed=seed))


def _field_of(cls: type, name: str) -> dataclasses.Field:
    return next(f for f in dataclasses.fields(cls) if f.name == name)


def default_config() -> AssetConfig:
    """The default asset: 121 x 121 lattice, 6 wells, 200 realizations."""
    return AssetConfig()


def config_to_dict(cfg: AssetConfig) -> dict[str, dict[str, Any]]:
    """The config as plain nested dicts (section -> key -> value), in declaration order."""
    return {s.name: dataclasses.asdict(getattr(cfg, s.name)) for s in dataclasses.fields(cfg)}


# ---- the commented default --------------------------------------------------------------

def _toml_value(v: Any) -> str:
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return repr(v)
    return '"' + str(v).replace("\\", "\\\\").replace('"', '\\"') + '"'


def _range_text(meta: dict[str, Any]) -> str:
    if meta["choices"]:
        return "one of " + ", ".join(f'"{c}"' for c in meta["choices"])
    parts = []
    if meta["lo"] is not None:
        parts.append(("> " if meta["lo_open"] else ">= ") + _num(meta["lo"]))
    if meta["hi"] is not None:
        parts.append(("< " if meta["hi_open"] else "<= ") + _num(meta["hi"]))
    return ", ".join(parts)


def _num(v: float) -> str:
    if isinstance(v, int):
        return str(v)
    return str(int(v)) if float(v).is_integer() and abs(v) < 1e17 else repr(float(v))


def default_toml() -> str:
    """The default asset description as commented TOML (what ``--print-config`` prints)."""
    out = ["# quarntools synthetic asset description (TOML).",
           "# Units: metres, m TVD positive down, degrees; every key is optional and defaults",
           "# to the value shown. Build it with:  quarntools asset THIS.toml --out DIR", ""]
    cfg = default_config()
    for sec in dataclasses.fields(cfg):
        obj = getattr(cfg, sec.name)
        out.append(f"# {type(obj).__doc__.strip()}")
        out.append(f"[{sec.name}]")
        for f in dataclasses.fields(obj):
            meta = f.metadata
            rng = _range_text(meta)
            note = meta["doc"] + (f" ({rng})" if rng else "")
            out.append(f"{f.name} = {_toml_value(getattr(obj, f.name))}  # {note}")
        out.append("")
    return "\n".join(out)


# ---- loading and validation -------------------------------------------------------------

_HEADER = re.compile(r"^\s*\[\s*([A-Za-z0-9_\-\.\s\"']+?)\s*\]\s*(#.*)?$")
_KEY = re.compile(r"^\s*([A-Za-z0-9_\-\.\"']+)\s*=")


def _key_lines(text: str) -> dict[str, int]:
    """Line number (1-based) of every dotted key and table header in a TOML text."""
    lines: dict[str, int] = {}
    table = ""
    for n, raw in enumerate(text.splitlines(), 1):
        m = _HEADER.match(raw)
        if m and not raw.lstrip().startswith("[["):
            table = ".".join(p.strip().strip("\"'") for p in m.group(1).split("."))
            lines.setdefault(table, n)
            continue
        m = _KEY.match(raw)
        if m:
            key = ".".join(p.strip().strip("\"'") for p in m.group(1).split("."))
            lines.setdefault(f"{table}.{key}" if table else key, n)
    return lines


def _where(source: str, lines: dict[str, int], key: str) -> str:
    parts = key.split(".")
    while parts:   # a key inside an inline table: the line of the table
        n = lines.get(".".join(parts))
        if n:
            return f"{source}:{n}"
        parts.pop()
    return source


def _check_value(key: str, value: Any, f: dataclasses.Field, typ: Any, lines: dict[str, int] | None,
                 source: str) -> Any:
    meta = f.metadata
    where = _where(source, lines or {}, key)

    def fail(msg: str) -> ConfigError:
        return ConfigError(f"{where}: {key}: {msg}")

    if meta["number_or"] and isinstance(value, str):
        if value != meta["number_or"]:
            raise fail(f'expected a number or "{meta["number_or"]}", got {value!r}')
        return value
    if typ is bool:
        if not isinstance(value, bool):
            raise fail(f"expected true or false, got {_shown(value)}")
        return value
    if typ is str:
        if not isinstance(value, str):
            raise fail(f"expected a string, got {_shown(value)}")
        if meta["choices"] and value not in meta["choices"]:
            raise fail(f"expected {_range_text(meta)}, got {value!r}")
        return value
    if typ is int:
        if isinstance(value, bool) or not isinstance(value, int):
            raise fail(f"expected an integer, got {_shown(value)}")
    else:  # float, or float | str
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            want = f'a number or "{meta["number_or"]}"' if meta["number_or"] else "a number"
            raise fail(f"expected {want}, got {_shown(value)}")
        value = float(value)
        if not math.isfinite(value):
            raise fail(f"must be finite, got {value!r}")
    lo, hi = meta["lo"], meta["hi"]
    if (lo is not None and (value < lo or (meta["lo_open"] and value == lo))) or \
       (hi is not None and (value > hi or (meta["hi_open"] and value == hi))):
        raise fail(f"must be {_range_text(meta)}, got {value!r}")
    return value


def _shown(value: Any) -> str:
    if isinstance(value, dict):
        return "a table"
    if isinstance(value, list):
        return "an array"
    if isinstance(value, bool):
        return "true" if value else "false"
    return repr(value)


_TYPES = {"float": float, "int": int, "str": str, "bool": bool, "float | str": float}


def parse_config(text: str, source: str = "<config>") -> AssetConfig:
    """An ``AssetConfig`` from TOML text; ``ConfigError`` names ``source:line: key`` on any fault."""
    try:
        data = tomllib.loads(text)
    except tomllib.TOMLDecodeError as err:
        raise ConfigError(f"{source}: not valid TOML: {err}") from None
    lines = _key_lines(text)
    sections = {f.name: f for f in dataclasses.fields(AssetConfig)}
    built: dict[str, Any] = {}
    for name, body in data.items():
        if name not in sections:
            raise ConfigError(f"{_where(source, lines, name)}: {name}: unknown section"
                              + _suggest(name, sections))
        if not isinstance(body, dict):
            raise ConfigError(f"{_where(source, lines, name)}: {name}: expected a table "
                              f"[{name}], got {_shown(body)}")
        cls = sections[name].default_factory  # type: ignore[misc]
        fields = {f.name: f for f in dataclasses.fields(cls)}
        values = {}
        for key, value in body.items():
            dotted = f"{name}.{key}"
            if key not in fields:
                raise ConfigError(f"{_where(source, lines, dotted)}: {dotted}: unknown key"
                                  + _suggest(key, fields))
            f = fields[key]
            values[key] = _check_value(dotted, value, f, _TYPES[str(f.type)], lines, source)
        built[name] = cls(**values)
    cfg = AssetConfig(**built)
    _cross_checks(cfg, lines, source)
    return cfg


def _suggest(word: str, known: Any) -> str:
    close = difflib.get_close_matches(word, list(known), n=1)
    return f" (did you mean '{close[0]}'?)" if close else f" (known: {', '.join(known)})"


def _cross_checks(cfg: AssetConfig, lines: dict[str, int], source: str) -> None:
    def fail(key: str, msg: str) -> ConfigError:
        return ConfigError(f"{_where(source, lines, key)}: {key}: {msg}")

    v, w, lg = cfg.volumetrics, cfg.wells, cfg.logs
    if not v.ntg_min < v.ntg_max:
        raise fail("volumetrics.ntg_max", f"must be > ntg_min ({v.ntg_min!r}), got {v.ntg_max!r}")
    if not v.ntg_min <= v.ntg_mode <= v.ntg_max:
        raise fail("volumetrics.ntg_mode", f"must be in [ntg_min, ntg_max] = [{v.ntg_min!r}, "
                   f"{v.ntg_max!r}], got {v.ntg_mode!r}")
    if not v.sw_min < v.sw_max:
        raise fail("volumetrics.sw_max", f"must be > sw_min ({v.sw_min!r}), got {v.sw_max!r}")
    if not v.bo_min < v.bo_max:
        raise fail("volumetrics.bo_max", f"must be > bo_min ({v.bo_min!r}), got {v.bo_max!r}")
    if not w.azimuth_min_deg < w.azimuth_max_deg:
        raise fail("wells.azimuth_max_deg", f"must be > azimuth_min_deg ({w.azimuth_min_deg!r}), "
                   f"got {w.azimuth_max_deg!r}")
    if w.profile == "build_hold_drop":
        build_end = w.hold_incl_deg / (w.build_rate_deg_per_30m / 30.0) + w.kickoff_md_m
        if w.drop_start_md_m < build_end:
            raise fail("wells.drop_start_md_m", f"must be at/after the build end "
                       f"({build_end:.1f} m MD), got {w.drop_start_md_m!r}")
        if w.final_incl_deg > w.hold_incl_deg:
            raise fail("wells.final_incl_deg", f"must be <= hold_incl_deg ({w.hold_incl_deg!r}), "
                       f"got {w.final_incl_deg!r}")
    fr, pc = cfg.frame, cfg.porosity
    sim_nodes = (-(-(fr.ncol - 1) // pc.coarsen) + 1) * (-(-(fr.nrow - 1) // pc.coarsen) + 1)
    if v.realizations * sim_nodes > 250_000_000:
        raise fail("volumetrics.realizations", f"{v.realizations} realizations of {sim_nodes} "
                   "simulation nodes exceed the 250,000,000 values kept for the node-wise "
                   "percentiles; raise porosity.coarsen or lower the count")
    for pre in ("cap", "base", "net", "nonnet"):
        mean, std = getattr(lg, f"{pre}_por_mean"), getattr(lg, f"{pre}_por_std")
        if std * std >= mean * (1.0 - mean):
            raise fail(f"logs.{pre}_por_std", f"must satisfy std^2 < mean * (1 - mean) "
                       f"(mean {mean!r}), got {std!r}")


def load_config(path: str | None = None) -> AssetConfig:
    """The asset description in the TOML file at ``path``, or the default when ``path`` is None."""
    if path is None:
        return default_config()
    try:
        with open(path, "rb") as fh:
            raw = fh.read()
    except OSError as err:
        raise ConfigError(f"{path}: cannot read: {err.strerror}") from None
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as err:
        raise ConfigError(f"{path}: not UTF-8 text ({err.reason} at byte {err.start})") from None
    return parse_config(text, path)
