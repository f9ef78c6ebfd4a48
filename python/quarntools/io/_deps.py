"""Optional dependencies: imported where used, with a message naming the extra to install."""
from __future__ import annotations

import importlib
from types import ModuleType

EXTRAS = {"xtgeo": "io", "lasio": "io", "matplotlib": "plot", "matplotlib.pyplot": "plot"}


def require(module: str, purpose: str) -> ModuleType:
    """Import ``module`` or raise ImportError naming the extra that provides it."""
    try:
        return importlib.import_module(module)
    except ImportError as err:
        extra = EXTRAS.get(module, "all")
        raise ImportError(f"{purpose} needs {module.split('.')[0]}, which is not installed: "
                          f'pip install "quarntools[{extra}]"') from err


def available(module: str) -> bool:
    """Whether ``module`` can be imported."""
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True
