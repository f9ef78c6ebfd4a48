"""The ``quarntools`` command line (also ``python -m quarntools``).

    quarntools asset [CONFIG] --out DIR [--seed N] [--force]
    quarntools asset --print-config
    quarntools demo [--out DIR] [--seed N]

Further commands plug in through ``_COMMAND_MODULES``: a module with ``add_parser(subparsers)``
and ``run(args) -> int``.
"""
from __future__ import annotations

import argparse
import importlib
import os
import sys
import threading

__all__ = ["main"]

# Optional command modules: (module, attribute holding add_parser/run). Absent modules are skipped.
_COMMAND_MODULES = ("quarntools.ensemble.cli",)

SEED_LIMIT = 2**64


def _seed(text: str) -> int:
    try:
        v = int(text, 0)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid seed {text!r}: expected an integer") from None
    if not 0 <= v < SEED_LIMIT:
        raise argparse.ArgumentTypeError(f"seed {v} out of range: must be in [0, 2**64)")
    return v


def _positive(lo: int):
    def conv(text: str) -> int:
        try:
            v = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid integer {text!r}") from None
        if v < lo:
            raise argparse.ArgumentTypeError(f"must be >= {lo}, got {v}")
        return v
    return conv


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="quarntools", description="quarntools: reproducible synthetic "
                                "subsurface assets and geostatistics")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    a = sub.add_parser("asset", help="build a synthetic asset as files (surfaces, LAS, CSV, "
                       "GeoJSON, volumetrics, report)",
                       description="Build the asset described by CONFIG (TOML; default: the "
                       "built-in default asset) into DIR. DIR is replaced only when complete.")
    a.add_argument("config", nargs="?", metavar="CONFIG", help="asset description (TOML)")
    a.add_argument("--out", metavar="DIR", help="output folder (required unless --print-config)")
    a.add_argument("--seed", type=_seed, help="master seed, overrides asset.seed")
    a.add_argument("--force", action="store_true", help="replace an existing non-empty asset folder")
    a.add_argument("--print-config", action="store_true",
                   help="print the default asset description, commented, and exit")
    a.add_argument("--quiet", action="store_true", help="no progress on the terminal")
    d = sub.add_parser("demo", help="build the default asset, print its report, and write it "
                       "with figures when --out is given")
    d.add_argument("--out", metavar="DIR", help="write the asset and its figures here")
    d.add_argument("--seed", type=_seed, default=None, help="master seed (default: 20261207)")
    d.add_argument("--force", action="store_true", help="replace an existing non-empty asset folder")
    d.add_argument("--grid", type=_positive(8), default=None,
                   help="map nodes per side over the same extent (default: 121)")
    d.add_argument("--realizations", type=_positive(1), default=None,
                   help="volumetric realizations (default: 200)")
    d.add_argument("--quiet", action="store_true", help="no progress on the terminal")
    for name in _COMMAND_MODULES:
        try:
            mod = importlib.import_module(name)
        except ModuleNotFoundError as err:
            if err.name is None or not name.startswith(err.name):
                raise        # the command module exists but something it needs does not
            continue
        mod.add_parser(sub)
        sub.choices[list(sub.choices)[-1]].set_defaults(_run=mod.run)
    return p


def _preload(figures: bool) -> None:
    """Import the writers' libraries on a side thread while the asset is built (the build runs
    mostly outside the interpreter lock, so the two overlap)."""
    os.environ.setdefault("MPLBACKEND", "Agg")
    mods = ["lasio", "xtgeo"] + (["matplotlib.pyplot"] if figures else [])

    def work() -> None:
        for m in mods:
            try:
                importlib.import_module(m)
            except Exception:  # the writer reports a missing library itself
                pass
    threading.Thread(target=work, daemon=True).start()


def _err(msg: str) -> None:
    sys.stderr.write(f"quarntools: error: {msg}\n")


def _build_and_write(cfg, out: str | None, force: bool, quiet: bool, figures: bool | None,
                     print_report: bool) -> int:
    from .asset import AssetError, OutputError, Progress, build_asset, check_output, write_asset
    from .asset.report import report_lines
    try:
        if out is not None:
            check_output(out, force)
    except OutputError as err:
        _err(str(err))
        return 1
    if out is not None:
        try:
            from .io._deps import require_installed
            require_installed("xtgeo", "writing surfaces")
            require_installed("lasio", "writing LAS files")
        except ImportError as err:
            _err(str(err))
            return 1
        _preload(cfg.output.figures if figures is None else figures)
    prog = Progress(enabled=None if not quiet else False)
    try:
        asset = build_asset(cfg, prog)
    except AssetError as err:
        prog.done()
        _err(str(err))
        return 1
    if print_report:
        print("\n".join(report_lines(asset)), flush=True)
    if out is not None:
        try:
            files = write_asset(asset, out, force=force, progress=prog, figures=figures)
        except (OutputError, ImportError) as err:
            prog.done()
            _err(str(err))
            return 1
        figs = sum(1 for f in files if f["kind"] == "figure-png")
        note = "" if figs or not (cfg.output.figures if figures is None else figures) else \
            "; figures skipped: matplotlib not installed (pip install \"quarntools[plot]\")"
        print(f"asset      {len(files) + 1} files in {out}{note}", flush=True)
    return 0


def _config(args):
    """The asset description of ``args.config`` with ``--seed`` applied, or None after reporting
    its configuration error."""
    from .asset import ConfigError, load_config
    try:
        cfg = load_config(args.config)
        return cfg if args.seed is None else cfg.with_seed(args.seed)
    except ConfigError as err:
        _err(str(err))
        return None


def _cmd_asset(args, parser) -> int:
    from .asset import default_toml
    if args.print_config:
        sys.stdout.write(default_toml())
        return 0
    if args.out is None:
        parser.error("asset: --out DIR is required (or --print-config)")
    cfg = _config(args)
    if cfg is None:
        return 2
    return _build_and_write(cfg, args.out, args.force, args.quiet, None, print_report=False)


def _cmd_demo(args) -> int:
    import dataclasses

    from .asset import default_config
    cfg = default_config()
    if args.seed is not None:
        cfg = cfg.with_seed(args.seed)
    if args.grid is not None:
        fr = cfg.frame
        cfg = dataclasses.replace(cfg, frame=dataclasses.replace(
            fr, ncol=args.grid, nrow=args.grid, xinc=fr.xinc * (fr.ncol - 1) / (args.grid - 1),
            yinc=fr.yinc * (fr.nrow - 1) / (args.grid - 1)))
    if args.realizations is not None:
        cfg = dataclasses.replace(cfg, volumetrics=dataclasses.replace(
            cfg.volumetrics, realizations=args.realizations))
    return _build_and_write(cfg, args.out, args.force, args.quiet, True, print_report=True)


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        if args.command == "asset":
            return _cmd_asset(args, parser)
        if args.command == "demo":
            return _cmd_demo(args)
        return int(args._run(args))
    except KeyboardInterrupt:
        sys.stderr.write("\nquarntools: interrupted; the output folder was left as it was\n")
        return 130
    except BrokenPipeError:
        return 1


if __name__ == "__main__":
    sys.exit(main())
