"""Optional dependencies: imported where used, with a message naming the extra to install."""
from __future__ import annotations

import importlib
import importlib.util
import sys
from types import ModuleType

EXTRAS = {"xtgeo": "io", "lasio": "io", "matplotlib": "plot", "matplotlib.pyplot": "plot"}


def _missing(module: str, purpose: str) -> ImportError:
    extra = EXTRAS.get(module, "all")
    return ImportError(f"{purpose} needs {module.split('.')[0]}, which is not installed: "
                       f'pip install "quarntools[{extra}]"')


def require(module: str, purpose: str) -> ModuleType:
    """Import ``module`` or raise ImportError naming the extra that provides it."""
    try:
        return importlib.import_module(module)
    except ImportError as err:
        raise _missing(module, purpose) from err


def require_installed(module: str, purpose: str) -> None:
    """Check, without importing it, that ``module`` is installed; else ImportError as ``require``."""
    if module in sys.modules:
        if sys.modules[module] is None:
            raise _missing(module, purpose)
        return
    if importlib.util.find_spec(module) is None:
        raise _missing(module, purpose)


def available(module: str) -> bool:
    """Whether ``module`` can be imported."""
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True
