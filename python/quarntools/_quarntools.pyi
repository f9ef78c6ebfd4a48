"""The compiled extension module (`quarntools._quarntools`); re-exported by the
`quarntools` Python package's `__init__`."""

from collections.abc import Mapping, Sequence
from typing import Literal, Protocol, Self, SupportsFloat, SupportsIndex, TypeAlias, TypedDict, final, type_check_only

# ---- what the converters accept ---------------------------------------------------

# A float parameter takes anything float() takes: float, int, bool, __float__ or __index__.
_Float: TypeAlias = SupportsFloat | SupportsIndex
# Counts, sizes, indices and seeds: int or __index__, in [0, 2**64 - 1].
_Count: TypeAlias = SupportsIndex

@type_check_only
class _FloatVector(Protocol):
    """A 1-D indexable of numbers that is not a `Sequence`: a NumPy array, `array('d')`."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> SupportsFloat | SupportsIndex: ...

@type_check_only
class _IntVector(Protocol):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> SupportsIndex: ...

@type_check_only
class _FloatMatrix(Protocol):
    """A 2-D indexable of numbers: a 2-D NumPy array, a list of 1-D arrays."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _FloatVector: ...

# A list of floats: any sequence of numbers except `str` (float64 buffers are copied in one step).
_Floats: TypeAlias = Sequence[float] | _FloatVector
_Ints: TypeAlias = Sequence[int] | _IntVector
# `[x, y]` or `(x, y)`: exactly two numbers.
_Point: TypeAlias = Sequence[float] | _FloatVector
# Rings, polygons, well heads: a list of points.
_Points: TypeAlias = Sequence[Sequence[float]] | _FloatMatrix
# Conditioning data: rows `[x, y, z]`, the value in z.
_Rows: TypeAlias = Sequence[Sequence[float]] | _FloatMatrix
# A field as nested lists `field[col][row]`, ncol lists of nrow numbers.
_Nested: TypeAlias = Sequence[Sequence[float]] | _FloatMatrix

# Results: a field as nested lists, a field as one little-endian f64 buffer.
_Field: TypeAlias = list[list[float]]
_FlatField: TypeAlias = tuple[bytes, tuple[int, int]]

# Option names: matched after trimming and ASCII lower-casing, so any `str` is accepted.
_VariogramModel: TypeAlias = Literal["nugget", "sph", "spherical", "exp", "exponential", "gauss", "gaussian"] | str
_ResampleMethod: TypeAlias = Literal["bilinear", "linear", "nearest", "nn"] | str
_InterpMethod: TypeAlias = (
    Literal[
        "linear", "nearest", "closest", "nn", "previous", "prev", "ffill", "next", "bfill",
        "cubic", "spline", "natural", "natural_cubic", "cubic_natural",
    ]
    | str
)
_Correlation: TypeAlias = Literal["independent", "indep", "comonotonic", "comono"] | str
# Trajectory profiles are matched exactly (case-sensitive).
_Profile: TypeAlias = Literal["vertical", "build_hold", "build-hold", "build_hold_drop", "build-hold-drop"]

@type_check_only
class _SummaryDict(TypedDict):
    p90: float
    p50: float
    p10: float
    mean: float

@type_check_only
class _FormulaInfo(TypedDict):
    outputs: list[str]
    order: list[str]
    params: list[str]
    properties: list[str]

@type_check_only
class _PetroCurves(TypedDict):
    phie: list[float]
    net_flag: list[int]

@type_check_only
class _Trajectory(TypedDict):
    md: list[float]
    x: list[float]
    y: list[float]
    z: list[float]
    tvd: list[float]
    incl: list[float]
    azim: list[float]

# ---- module surface, in registration order ----------------------------------------------

__all__ = [
    "__version__",
    "Rng",
    "Sampler",
    "Clamped",
    "mean",
    "variance",
    "std",
    "percentile",
    "median",
    "weighted_mean",
    "weighted_variance",
    "weighted_std",
    "weighted_percentile",
    "ReservoirSummary",
    "reservoir_summary",
    "aggregate",
    "formula_info",
    "evaluate_formula",
    "Lattice",
    "Variogram",
    "AnisotropicVariogram",
    "ExperimentalVariogram",
    "experimental_variogram",
    "local_kriging_grid",
    "local_kriging_grid_flat",
    "sgs",
    "sgs_flat",
    "interp1d",
    "resample",
    "resample_flat",
    "ZoneSpec",
    "zone_sample_counts",
    "synth_log_series",
    "synth_facies_series",
    "synth_por_with_facies",
    "PetroZoneSpec",
    "synth_petro_curves",
    "ntg_curve",
    "synth_dome_surface",
    "synth_dome_surface_flat",
    "synth_isochore",
    "synth_isochore_flat",
    "synth_trend_map",
    "synth_trend_map_flat",
    "place_wells",
    "place_wells_in_polygon",
    "tops_from_surface",
    "synth_trajectory",
    "synth_trajectory_profile",
    "max_dogleg_severity",
    "Georef",
    "closure_outline",
    "study_area_outline",
    "m3_to_mcm",
    "mcm_to_m3",
    "m3_to_msm3",
    "msm3_to_m3",
    "m3_to_bcm",
    "bcm_to_m3",
    "scf_to_sm3",
    "sm3_to_scf",
    "stb_to_sm3",
    "sm3_to_stb",
    "km2_to_m2",
    "m2_to_km2",
    "format_volume",
]

__version__: str

# ---- random sampling ------------------------------------------------------------------

@final
class Rng:
    """A seeded random stream; each `sample`/`sample_n` call borrows and advances it."""

    def __new__(cls, seed: _Count) -> Self: ...

@final
class Sampler:
    """A validated distribution; made by the static constructors."""

    @staticmethod
    def uniform(lo: _Float, hi: _Float) -> Sampler: ...
    @staticmethod
    def normal(mean: _Float, std_dev: _Float) -> Sampler: ...
    @staticmethod
    def lognormal(mean: _Float, std_dev: _Float) -> Sampler: ...
    @staticmethod
    def triangular(min: _Float, mode: _Float, max: _Float) -> Sampler: ...
    @staticmethod
    def truncated_normal(mean: _Float, std_dev: _Float, lo: _Float, hi: _Float) -> Sampler: ...
    def clamped(self, lo: _Float, hi: _Float) -> Clamped: ...
    def sample(self, rng: Rng) -> float: ...
    def sample_n(self, n: _Count, rng: Rng) -> list[float]: ...
    def sample_n_seeded(self, n: _Count, seed: _Count) -> list[float]: ...

@final
class Clamped:
    """A `Sampler` whose draws are clamped into [lo, hi]; made by `Sampler.clamped`."""

    def sample(self, rng: Rng) -> float: ...
    def sample_n(self, n: _Count, rng: Rng) -> list[float]: ...
    def sample_n_seeded(self, n: _Count, seed: _Count) -> list[float]: ...

# ---- statistics -------------------------------------------------------------------------

def mean(data: _Floats) -> float: ...
def variance(data: _Floats) -> float: ...
def std(data: _Floats) -> float: ...
def percentile(data: _Floats, p: _Float) -> float: ...
def median(data: _Floats) -> float: ...
def weighted_mean(values: _Floats, weights: _Floats) -> float: ...
def weighted_variance(values: _Floats, weights: _Floats) -> float: ...
def weighted_std(values: _Floats, weights: _Floats) -> float: ...
def weighted_percentile(values: _Floats, weights: _Floats, p: _Float) -> float: ...
@final
class ReservoirSummary:
    """P90 (low) / P50 / P10 (high) / mean digest; made by `reservoir_summary`."""

    @property
    def p90(self) -> float: ...
    @property
    def p50(self) -> float: ...
    @property
    def p10(self) -> float: ...
    @property
    def mean(self) -> float: ...
    def to_dict(self) -> _SummaryDict: ...

def reservoir_summary(data: _Floats) -> ReservoirSummary: ...
def aggregate(segments: _Nested, correlation: _Correlation = "independent") -> list[float]: ...

# ---- formulas -----------------------------------------------------------------------------

def formula_info(assignments: Sequence[str]) -> _FormulaInfo: ...
def evaluate_formula(
    assignments: Sequence[str],
    properties: Mapping[str, _Floats],
    params: Mapping[str, _Float] | None = None,
) -> dict[str, list[float]]: ...

# ---- geometry and geostatistics ---------------------------------------------------------

@final
class Lattice:
    """A regular 2-D lattice: origin, spacings, node counts, rotation and J-axis flip."""

    def __new__(
        cls,
        xori: _Float,
        yori: _Float,
        xinc: _Float,
        yinc: _Float,
        ncol: _Count,
        nrow: _Count,
        rotation_deg: _Float = 0.0,
        yflip: bool = False,
    ) -> Self: ...
    @property
    def ncol(self) -> int: ...
    @property
    def nrow(self) -> int: ...
    @property
    def xori(self) -> float: ...
    @property
    def yori(self) -> float: ...
    @property
    def xinc(self) -> float: ...
    @property
    def yinc(self) -> float: ...
    @property
    def rotation_deg(self) -> float: ...
    @property
    def yflip(self) -> bool: ...
    def step_vectors(self) -> tuple[list[float], list[float]]: ...
    def intrinsic_to_world(self, fi: _Float, fj: _Float) -> tuple[float, float]: ...
    def world_to_intrinsic(self, x: _Float, y: _Float) -> tuple[float, float] | None: ...
    def node_xy(self, i: _Count, j: _Count) -> tuple[float, float]: ...
    def xy_to_ij(self, x: _Float, y: _Float) -> tuple[float, float] | None: ...

@final
class Variogram:
    """An isotropic variogram model: nugget, partial sill and range."""

    def __new__(cls, model: _VariogramModel, nugget: _Float, sill: _Float, range: _Float) -> Self: ...
    @staticmethod
    def fit(model: _VariogramModel, experimental: ExperimentalVariogram) -> Variogram: ...
    @property
    def nugget(self) -> float: ...
    @property
    def sill(self) -> float: ...
    @property
    def range(self) -> float: ...

@final
class AnisotropicVariogram:
    """A variogram model with major/minor/vertical ranges and an azimuth (degrees from north)."""

    def __new__(
        cls,
        model: _VariogramModel,
        major: _Float,
        minor: _Float,
        vertical: _Float,
        azimuth: _Float,
        sill: _Float = 1.0,
        nugget: _Float = 0.0,
    ) -> Self: ...
    @staticmethod
    def isotropic(model: _VariogramModel, nugget: _Float, sill: _Float, range: _Float) -> AnisotropicVariogram: ...
    @property
    def nugget(self) -> float: ...
    @property
    def sill(self) -> float: ...
    @property
    def major(self) -> float: ...
    @property
    def minor(self) -> float: ...
    @property
    def vertical(self) -> float: ...
    @property
    def azimuth(self) -> float: ...
    def anisotropic_distance(self, dx: _Float, dy: _Float, dz: _Float = 0.0) -> float: ...
    def gamma_offset(self, dx: _Float, dy: _Float, dz: _Float = 0.0) -> float: ...

@final
class ExperimentalVariogram:
    """Lag centres, semivariances and pair counts; made by `experimental_variogram`."""

    @property
    def lags(self) -> list[float]: ...
    @property
    def semivariances(self) -> list[float]: ...
    @property
    def counts(self) -> list[int]: ...

def experimental_variogram(coords: _Rows, lag: _Float, n_lags: _Count) -> ExperimentalVariogram: ...
def local_kriging_grid(
    coords: _Rows, lattice: Lattice, variogram: Variogram, max_neighbours: _Count, radius: _Float
) -> tuple[_Field, _Field]:
    """Ordinary kriging onto `lattice`: `(estimate, variance)` as nested lists."""

def local_kriging_grid_flat(
    coords: _Rows, lattice: Lattice, variogram: Variogram, max_neighbours: _Count, radius: _Float
) -> tuple[bytes, bytes, tuple[int, int]]:
    """As `local_kriging_grid`: `(estimate_bytes, variance_bytes, (ncol, nrow))`."""

def sgs(
    coords: _Rows,
    lattice: Lattice,
    variogram: Variogram | AnisotropicVariogram,
    max_neighbours: _Count,
    radius: _Float,
    seed: _Count,
) -> _Field: ...
def sgs_flat(
    coords: _Rows,
    lattice: Lattice,
    variogram: Variogram | AnisotropicVariogram,
    max_neighbours: _Count,
    radius: _Float,
    seed: _Count,
) -> _FlatField: ...
def interp1d(
    x: _Floats, y: _Floats, query: _Floats, method: _InterpMethod = "linear", extrapolate: bool = False
) -> list[float]: ...
def resample(src_grid: _Nested, src_georef: Lattice, target: Lattice, method: _ResampleMethod = "bilinear") -> _Field: ...
def resample_flat(
    src_grid: bytes, src_georef: Lattice, target: Lattice, method: _ResampleMethod = "bilinear"
) -> _FlatField: ...

# ---- synthetic logs ---------------------------------------------------------------------

@final
class ZoneSpec:
    """One zone of a log stack: thickness, target mean/std in (0, 1), correlation length."""

    def __new__(cls, thickness_m: _Float, mean: _Float, std: _Float, corr_length_m: _Float) -> Self: ...
    @property
    def thickness_m(self) -> float: ...
    @property
    def mean(self) -> float: ...
    @property
    def std(self) -> float: ...
    @property
    def corr_length_m(self) -> float: ...

def zone_sample_counts(zones: Sequence[ZoneSpec], depth_step: _Float) -> list[int]: ...
def synth_log_series(zones: Sequence[ZoneSpec], depth_step: _Float, transition_beds: _Count, seed: _Count) -> list[float]: ...
def synth_facies_series(n: _Count, depth_step: _Float, ntg_target: _Float, bed_scale_m: _Float, seed: _Count) -> list[int]: ...
def synth_por_with_facies(
    facies: _Ints,
    depth_step: _Float,
    sand_mean: _Float,
    sand_std: _Float,
    shale_mean: _Float,
    shale_std: _Float,
    corr_length_m: _Float,
    seed: _Count,
) -> list[float]: ...
@final
class PetroZoneSpec:
    """Targets of the coupled porosity / net-flag curves of one zone."""

    def __new__(
        cls,
        ntg_target: _Float,
        net_por_mean: _Float,
        net_por_std: _Float,
        nonnet_por_mean: _Float,
        nonnet_por_std: _Float,
        bed_scale_m: _Float,
        correlation_len_m: _Float,
        net_cutoff: _Float = 0.1,
    ) -> Self: ...
    @property
    def net_cutoff(self) -> float: ...
    @property
    def ntg_target(self) -> float: ...
    @property
    def net_por_mean(self) -> float: ...
    @property
    def net_por_std(self) -> float: ...
    @property
    def nonnet_por_mean(self) -> float: ...
    @property
    def nonnet_por_std(self) -> float: ...
    @property
    def bed_scale_m(self) -> float: ...
    @property
    def correlation_len_m(self) -> float: ...

def synth_petro_curves(zone: PetroZoneSpec, depth_step: _Float, n_samples: _Count, seed: _Count) -> _PetroCurves: ...
def ntg_curve(net_flag: _Floats, depth_step: _Float, window_m: _Float) -> list[float]: ...

# ---- synthetic surfaces ---------------------------------------------------------------------

def synth_dome_surface(
    lattice: Lattice,
    relief: _Float,
    aspect: _Float,
    tilt: _Float,
    noise_variance: _Float,
    noise_variogram: Variogram,
    seed: _Count,
) -> _Field: ...
def synth_dome_surface_flat(
    lattice: Lattice,
    relief: _Float,
    aspect: _Float,
    tilt: _Float,
    noise_variance: _Float,
    noise_variogram: Variogram,
    seed: _Count,
) -> _FlatField: ...
def synth_isochore(lattice: Lattice, mean_thickness: _Float, variability: _Float, variogram: Variogram, seed: _Count) -> _Field: ...
def synth_isochore_flat(
    lattice: Lattice, mean_thickness: _Float, variability: _Float, variogram: Variogram, seed: _Count
) -> _FlatField: ...
def synth_trend_map(
    lattice: Lattice, variogram: Variogram, seed: _Count, correlate_with: tuple[_Nested, _Float] | None = None
) -> _Field: ...
def synth_trend_map_flat(
    lattice: Lattice, variogram: Variogram, seed: _Count, correlate_with: tuple[_Nested, _Float] | None = None
) -> _FlatField: ...

# ---- synthetic wells ------------------------------------------------------------------------

def place_wells(xmin: _Float, ymin: _Float, xmax: _Float, ymax: _Float, n: _Count, seed: _Count) -> list[list[float]]: ...
def place_wells_in_polygon(polygon: _Points, n: _Count, seed: _Count) -> list[list[float]]: ...
def tops_from_surface(surface: _Nested, lattice: Lattice, well_xy: _Points, residual: Sampler, seed: _Count) -> list[float]: ...
def synth_trajectory(wellhead_xy: _Point, kb_elevation: _Float, td: _Float, md_step: _Float, seed: _Count) -> _Trajectory: ...
def synth_trajectory_profile(
    wellhead_xy: _Point,
    kb_elevation: _Float,
    td: _Float,
    md_step: _Float,
    seed: _Count,
    profile: _Profile,
    kickoff_md: _Float = 0.0,
    build_rate_deg_per_30m: _Float = 3.0,
    hold_incl_deg: _Float = 45.0,
    azimuth_deg: _Float = 0.0,
    drop_start_md: _Float | None = None,
    drop_rate_deg_per_30m: _Float = 3.0,
    final_incl_deg: _Float = 0.0,
) -> _Trajectory: ...
def max_dogleg_severity(md: _Floats, incl: _Floats, azim: _Floats) -> float: ...

# ---- world frame and outlines -------------------------------------------------------------

@final
class Georef:
    """A world origin `(east0, north0)` for placing synthetic assets."""

    def __new__(cls, east0: _Float | None = None, north0: _Float | None = None) -> Self: ...
    @property
    def east0(self) -> float: ...
    @property
    def north0(self) -> float: ...
    def origin(self) -> list[float]: ...
    def lattice(
        self, xinc: _Float, yinc: _Float, ncol: _Count, nrow: _Count, rotation_deg: _Float = 0.0, yflip: bool = False
    ) -> Lattice: ...
    def place_point(self, local: _Point) -> list[float]: ...
    def place_points(self, locals: _Points) -> list[list[float]]: ...
    def place_intrinsic(self, intrinsic: _Point, rotation_deg: _Float = 0.0, yflip: bool = False) -> list[float]: ...

def closure_outline(surface: _Nested, lattice: Lattice, spill_depth: _Float) -> list[list[float]]: ...
def study_area_outline(
    xmin: _Float, ymin: _Float, xmax: _Float, ymax: _Float, corner_radius: _Float, arc_steps: _Count
) -> list[list[float]]: ...

# ---- units ----------------------------------------------------------------------------------

def m3_to_mcm(m3: _Float) -> float: ...
def mcm_to_m3(mcm: _Float) -> float: ...
def m3_to_msm3(m3: _Float) -> float: ...
def msm3_to_m3(msm3: _Float) -> float: ...
def m3_to_bcm(m3: _Float) -> float: ...
def bcm_to_m3(bcm: _Float) -> float: ...
def scf_to_sm3(scf: _Float) -> float: ...
def sm3_to_scf(sm3: _Float) -> float: ...
def stb_to_sm3(stb: _Float) -> float: ...
def sm3_to_stb(sm3: _Float) -> float: ...
def km2_to_m2(km2: _Float) -> float: ...
def m2_to_km2(m2: _Float) -> float: ...
def format_volume(v_m3: _Float) -> str: ...
