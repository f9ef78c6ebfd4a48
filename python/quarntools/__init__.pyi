from . import _quarntools as _quarntools
from ._quarntools import *
from ._quarntools import __all__ as __all__, __version__ as __version__
