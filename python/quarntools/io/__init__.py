"""File writers for the synthetic asset, one module per format.

Surfaces go through ``xtgeo`` (IRAP classic binary, ZMAP+), logs through ``lasio`` (LAS 2.0);
CSV, GeoJSON and the manifest use the standard library. ``xtgeo`` and ``lasio`` are the
``[io]`` extra and are imported only by the writer that needs them.
"""
