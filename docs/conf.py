"""Sphinx configuration of the quarntools documentation (built by tools/docs)."""
from __future__ import annotations

import os
import warnings

import quarntools

project = "quarntools"
author = "The quarntools developers"
copyright = "2026, The quarntools developers"
version = release = quarntools.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.mathjax",
    "numpydoc",
    "sphinx_gallery.gen_gallery",
]

exclude_patterns = ["_build", "examples/*.rst", "**/GALLERY_HEADER.rst"]
templates_path = []
html_static_path = ["_static"]
html_theme = "pydata_sphinx_theme"
html_title = f"quarntools {release}"
html_theme_options = {
    "navbar_align": "left",
    "show_toc_level": 2,
    "navigation_with_keys": False,
    "secondary_sidebar_items": ["page-toc"],
    "footer_start": ["copyright"],
    "footer_end": [],
}
html_sidebars = {"index": [], "getting-started": []}
html_show_sourcelink = False
# Deterministic output: no build date on the pages.
html_last_updated_fmt = None

# The reference keeps the order of the pages (area by area), not the alphabet.
autodoc_member_order = "bysource"
autodoc_default_options = {"members": True}
# Signatures as users call them; the types are in each docstring's Parameters section (the
# NumPy typing aliases would expand into long unions).
autodoc_typehints = "none"
numpydoc_show_class_members = False
numpydoc_validation_checks: set[str] = set()

# Figures are drawn without a display; small grids keep the gallery fast.
os.environ.setdefault("MPLBACKEND", "Agg")
warnings.filterwarnings("error", category=UserWarning, module="matplotlib")

sphinx_gallery_conf = {
    "examples_dirs": "examples",
    "gallery_dirs": "auto_examples",
    "filename_pattern": r"/plot_",
    "within_subsection_order": "FileNameSortKey",
    "download_all_examples": False,
    "remove_config_comments": True,
    "min_reported_time": 1,
    "image_scrapers": ("matplotlib",),
    "matplotlib_animations": False,
    "write_computation_times": False,
    "show_memory": False,
    "reset_modules": ("matplotlib",),
}
