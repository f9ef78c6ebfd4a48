"""``python -m quarntools``: the same command line as the ``quarntools`` console script."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
