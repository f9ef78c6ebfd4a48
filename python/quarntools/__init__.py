"""quarntools: reproducible synthetic subsurface data and geostatistics.

The compiled extension ``quarntools._quarntools`` is re-exported here unchanged; beside it
the package adds the NumPy layer: :class:`Field` (a grid on a lattice as an array),
:mod:`quarntools.fields` (grid functions with arrays in and Fields out) and
:func:`spawn_seeds` (child seeds from one master seed) and :mod:`quarntools.arrays` (the
long-vector functions with NumPy arrays out). The NumPy layer is imported on
first use, so ``import quarntools`` itself stays as light as the extension.
"""

import importlib

from . import _quarntools
from ._quarntools import *  # noqa: F401,F403

__all__ = [*_quarntools.__all__, "Field", "spawn_seeds"]
__version__ = _quarntools.__version__
__doc__ = __doc__

# name -> (module, attribute or None for the module itself)
_LAZY = {"Field": (".field", "Field"), "spawn_seeds": (".seeds", "spawn_seeds"), "fields": (".fields", None),
         "arrays": (".arrays", None)}


def __getattr__(name: str) -> object:
    try:
        module, attr = _LAZY[name]
    except KeyError:
        raise AttributeError(f"module 'quarntools' has no attribute '{name}'") from None
    value = importlib.import_module(module, __name__)
    if attr is not None:
        value = getattr(value, attr)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))
