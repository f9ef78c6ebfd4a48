"""Command line: ``python -m quarntools demo [--out DIR] [--seed N]``."""
import argparse
import sys

from . import demo


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m quarntools",
                                     description="quarntools command line")
    sub = parser.add_subparsers(dest="command", required=True)
    d = sub.add_parser("demo", help="build one synthetic asset end to end and print a report")
    d.add_argument("--out", metavar="DIR", help="write PNG figures here (needs matplotlib)")
    d.add_argument("--seed", type=int, default=20261207, help="master seed (default: %(default)s)")
    d.add_argument("--grid", type=int, default=121, help="map nodes per side (default: %(default)s)")
    d.add_argument("--realizations", type=int, default=200,
                   help="volumetric realizations (default: %(default)s)")
    d.add_argument("--quiet", action="store_true", help="no progress line")
    args = parser.parse_args(argv)
    if args.command == "demo":
        if args.seed < 0 or args.seed >= 2**64:
            parser.error("--seed must be in [0, 2**64)")
        if args.grid < 8 or args.realizations < 1:
            parser.error("--grid must be >= 8 and --realizations >= 1")
        return demo.run(seed=args.seed, out=args.out, grid=args.grid, realizations=args.realizations,
                        progress=not args.quiet)
    return 2


if __name__ == "__main__":
    sys.exit(main())
