"""quarntools: reproducible synthetic subsurface data and geostatistics.

Everything public lives in the compiled extension ``quarntools._quarntools``
and is re-exported here unchanged.
"""

from . import _quarntools
from ._quarntools import *  # noqa: F401,F403

__all__ = list(_quarntools.__all__)
__version__ = _quarntools.__version__
__doc__ = __doc__
