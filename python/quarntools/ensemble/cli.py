"""``quarntools ensemble CONFIG --realizations N --out STORE``: the asset's volumetric realizations
on threads, processes or a Dask cluster, every realization in a Zarr store.

Realization ``k`` is the asset builder's realization ``k`` of the same CONFIG and seed, whatever
N, executor or worker count; running the command again on an interrupted STORE resumes it.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any


def _count(text: str) -> int:
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid integer {text!r}") from None
    if v < 1:
        raise argparse.ArgumentTypeError(f"must be >= 1, got {v}")
    return v


def add_parser(subparsers: Any) -> argparse.ArgumentParser:
    from ..cli import _seed

    p: argparse.ArgumentParser = subparsers.add_parser(
        "ensemble", help="run the volumetric realizations of an asset into a Zarr store",
        description="Run N volumetric realizations of the asset described by CONFIG (TOML; "
        "`quarntools asset --print-config` prints one) and store every realization in the Zarr "
        "store STORE (porosity maps and volumes with a `realization` dimension). Running the same "
        "command on an interrupted STORE resumes it.")
    p.add_argument("config", metavar="CONFIG", help="asset description (TOML)")
    p.add_argument("--realizations", type=_count, required=True, metavar="N", help="number of realizations")
    p.add_argument("--out", required=True, metavar="STORE", help="Zarr store to write (or resume)")
    p.add_argument("--executor", choices=("threads", "processes", "dask"), default="threads",
                   help="where realizations run (default: threads)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="Dask scheduler address (with --executor dask; default: a LocalCluster here)")
    p.add_argument("--workers", type=_count, metavar="N",
                   help="threads, processes or LocalCluster workers (default: one per core)")
    p.add_argument("--batch", type=_count, metavar="N",
                   help="realizations per task (default: automatic on processes and dask, tasks of "
                   "about 0.2 s; one per task on threads)")
    p.add_argument("--seed", type=_seed, help="master seed, overrides asset.seed")
    p.add_argument("--quiet", action="store_true", help="no progress on the terminal")
    return p


def run(args: argparse.Namespace) -> int:
    import dataclasses

    from .. import _quarntools as qt
    from ..asset import AssetError, config_to_dict
    from ..cli import _config, _err
    from ..asset.build import realization_seed, volume_inputs
    from . import StoreMismatchError
    from . import run as run_ensemble
    from .workflows import VolumetricsWorkflow

    if args.scheduler is not None and args.executor != "dask":
        _err("ensemble: --scheduler needs --executor dask")
        return 2
    cfg = _config(args)
    if cfg is None:
        return 2
    cfg = dataclasses.replace(cfg, volumetrics=dataclasses.replace(cfg.volumetrics,
                                                                   realizations=args.realizations))
    try:
        inputs, _ = volume_inputs(cfg)
    except AssetError as err:
        _err(str(err))
        return 1
    workflow = VolumetricsWorkflow(inputs)
    master = realization_seed(cfg)
    n = args.realizations
    bar = not args.quiet and sys.stderr.isatty()
    try:
        res = run_ensemble(workflow, n, master, executor=args.executor, workers=args.workers,
                           store=args.out, progress=bar,
                           scheduler=args.scheduler, config=json.dumps(config_to_dict(cfg), sort_keys=True),
                           batch=args.batch)
    except (StoreMismatchError, ImportError) as err:
        _err(str(err))
        return 1
    except KeyboardInterrupt:
        # one line, after the progress bar's if there is one
        sys.stderr.write(("\n" if bar else "") +
                         f"quarntools: interrupted; run the same command again to resume {args.out}\n")
        return 130
    st = res["stoiip_sm3"]
    phi = res["phi"]
    print(f"ensemble   {n} realizations of {args.config} (seed {cfg.asset.seed}), "
          f"{res.computed} computed, {n - res.computed} read back from the store")
    print(f"stoiip     P90 {qt.format_volume(st['p90'])}  P50 {qt.format_volume(st['p50'])}  "
          f"P10 {qt.format_volume(st['p10'])}  mean {qt.format_volume(st['mean'])}")
    print(f"phi(net)   P90 {phi['p90']:.4f}  P50 {phi['p50']:.4f}  P10 {phi['p10']:.4f}  mean {phi['mean']:.4f}")
    print(f"store      {args.out}")
    return 0
