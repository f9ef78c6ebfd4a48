"""The synthetic asset builder: a TOML description in, a whole asset as files out.

    cfg = load_config("asset.toml")          # or default_config()
    asset = build_asset(cfg)                 # in memory: grids, wells, logs, volumetrics
    write_asset(asset, "out", force=False)   # surfaces, LAS, CSV, GeoJSON, manifest, report
"""
from .build import Asset, AssetError, Progress, Well, build_asset, volume_inputs
from .config import (AssetConfig, ConfigError, config_to_dict, default_config, default_toml,
                     load_config, parse_config)
from .geoscience import RealizationVolumes, VolumeInputs, realization_volumes
from .write import OutputError, check_output, write_asset

__all__ = ["Asset", "AssetConfig", "AssetError", "ConfigError", "OutputError", "Progress", "Well",
           "RealizationVolumes", "VolumeInputs", "build_asset", "check_output", "config_to_dict",
           "default_config", "default_toml", "load_config", "parse_config", "realization_volumes",
           "volume_inputs", "write_asset"]
