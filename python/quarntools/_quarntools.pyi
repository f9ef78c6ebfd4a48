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
    def uniform(lo: _Float, hi: _Float) -> Sampler:
        """Uniform on [lo, hi); needs finite lo < hi."""
    @staticmethod
    def normal(mean: _Float, std_dev: _Float) -> Sampler:
        """Normal(mean, std_dev); needs finite mean and std_dev > 0."""
    @staticmethod
    def lognormal(mean: _Float, std_dev: _Float) -> Sampler:
        """Log-normal: ln(x) ~ Normal(mean, std_dev); draws are strictly positive."""
    @staticmethod
    def triangular(min: _Float, mode: _Float, max: _Float) -> Sampler:
        """Triangular on [min, max] peaking at mode."""
    @staticmethod
    def truncated_normal(mean: _Float, std_dev: _Float, lo: _Float, hi: _Float) -> Sampler:
        """Normal(mean, std_dev) truncated to [lo, hi], density renormalised."""
    def clamped(self, lo: _Float, hi: _Float) -> Clamped:
        """A `Clamped` around a copy of this sampler: out-of-range draws snap to the bounds."""
    def sample(self, rng: Rng) -> float:
        """One draw, advancing `rng`."""
    def sample_n(self, n: _Count, rng: Rng) -> list[float]:
        """A list of `n` draws, advancing `rng`."""
    def sample_n_seeded(self, n: _Count, seed: _Count) -> list[float]:
        """A list of `n` draws from a fresh `Rng(seed)`."""

@final
class Clamped:
    """A `Sampler` whose draws are clamped into [lo, hi]; made by `Sampler.clamped`."""

    def sample(self, rng: Rng) -> float:
        """One draw, advancing `rng`."""
    def sample_n(self, n: _Count, rng: Rng) -> list[float]:
        """A list of `n` draws, advancing `rng`."""
    def sample_n_seeded(self, n: _Count, seed: _Count) -> list[float]:
        """A list of `n` draws from a fresh `Rng(seed)`."""

# ---- statistics -------------------------------------------------------------------------

def mean(data: _Floats) -> float:
    """Arithmetic mean. Errors on empty input."""
def variance(data: _Floats) -> float:
    """Unbiased sample variance (n - 1 denominator)."""
def std(data: _Floats) -> float:
    """Unbiased sample standard deviation."""
def percentile(data: _Floats, p: _Float) -> float:
    """Type-7 percentile at `p` in [0, 100]."""
def median(data: _Floats) -> float:
    """The type-7 50th percentile."""
def weighted_mean(values: _Floats, weights: _Floats) -> float:
    """Weighted mean; equal lengths, non-negative weights summing > 0."""
def weighted_variance(values: _Floats, weights: _Floats) -> float:
    """Reliability-weighted unbiased variance."""
def weighted_std(values: _Floats, weights: _Floats) -> float:
    """Square root of the weighted variance."""
def weighted_percentile(values: _Floats, weights: _Floats, p: _Float) -> float:
    """Weighted percentile at `p` in [0, 100]."""
@final
class ReservoirSummary:
    """P90 (low) / P50 / P10 (high) / mean digest; made by `reservoir_summary`."""

    @property
    def p90(self) -> float:
        """Low case: the statistical 10th percentile."""
    @property
    def p50(self) -> float:
        """Mid case: the median."""
    @property
    def p10(self) -> float:
        """High case: the statistical 90th percentile."""
    @property
    def mean(self) -> float:
        """Arithmetic mean of the realizations."""
    def to_dict(self) -> _SummaryDict:
        """`{'p90', 'p50', 'p10', 'mean'}` in that order."""

def reservoir_summary(data: _Floats) -> ReservoirSummary:
    """P90 (low) / P50 / P10 (high) / mean digest of one realization set."""
def aggregate(segments: _Nested, correlation: _Correlation = "independent") -> list[float]:
    """Index-wise sum of per-segment realization vectors ('independent' or 'comonotonic')."""

# ---- formulas -----------------------------------------------------------------------------

def formula_info(assignments: Sequence[str]) -> _FormulaInfo:
    """Dependency report of an assignment block: outputs, evaluation order, params, properties."""
def evaluate_formula(
    assignments: Sequence[str],
    properties: Mapping[str, _Floats],
    params: Mapping[str, _Float] | None = None,
) -> dict[str, list[float]]:
    """Evaluate an assignment block over named property vectors and `$param` scalars."""

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
    def ncol(self) -> int:
        """Nodes along I (columns)."""
    @property
    def nrow(self) -> int:
        """Nodes along J (rows)."""
    @property
    def xori(self) -> float:
        """Origin x of node `(0, 0)` (world units)."""
    @property
    def yori(self) -> float:
        """Origin y of node `(0, 0)` (world units)."""
    @property
    def xinc(self) -> float:
        """Node spacing along the column/x axis (world units)."""
    @property
    def yinc(self) -> float:
        """Node spacing along the row/y axis (world units)."""
    @property
    def rotation_deg(self) -> float:
        """Intrinsic rotation in normalized degrees CCW from world east to I."""
    @property
    def yflip(self) -> bool:
        """Whether positive intrinsic J follows the flipped axis."""
    def step_vectors(self) -> tuple[list[float], list[float]]:
        """World displacement of one step in +I and in +J: `([Ix, Iy], [Jx, Jy])`."""
    def intrinsic_to_world(self, fi: _Float, fj: _Float) -> tuple[float, float]:
        """World `(x, y)` of fractional intrinsic coordinates `(fi, fj)`."""
    def world_to_intrinsic(self, x: _Float, y: _Float) -> tuple[float, float] | None:
        """Fractional intrinsic `(fi, fj)` of a world point, or None where undefined."""
    def node_xy(self, i: _Count, j: _Count) -> tuple[float, float]:
        """World `(x, y)` of node `(i, j)`."""
    def xy_to_ij(self, x: _Float, y: _Float) -> tuple[float, float] | None:
        """Alias of `world_to_intrinsic`: fractional, not rounded, not range-checked."""

@final
class Variogram:
    """An isotropic variogram model: nugget, partial sill and range."""

    def __new__(cls, model: _VariogramModel, nugget: _Float, sill: _Float, range: _Float) -> Self: ...
    @staticmethod
    def fit(model: _VariogramModel, experimental: ExperimentalVariogram) -> Variogram:
        """Weighted least-squares fit of shape `model` to an experimental variogram."""
    @property
    def nugget(self) -> float:
        """Nugget: the jump of the semivariance at the origin."""
    @property
    def sill(self) -> float:
        """Partial sill above the nugget; the total sill is nugget + sill."""
    @property
    def range(self) -> float:
        """Range (practical range for the exponential and gaussian shapes)."""

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
    def isotropic(model: _VariogramModel, nugget: _Float, sill: _Float, range: _Float) -> AnisotropicVariogram:
        """Major = minor = vertical = `range`, azimuth 0."""
    @property
    def nugget(self) -> float:
        """Nugget."""
    @property
    def sill(self) -> float:
        """Partial sill above the nugget."""
    @property
    def major(self) -> float:
        """Horizontal range along the major axis."""
    @property
    def minor(self) -> float:
        """Horizontal range across the major axis."""
    @property
    def vertical(self) -> float:
        """Vertical range."""
    @property
    def azimuth(self) -> float:
        """Azimuth of the major axis, degrees clockwise from north, in [0, 360)."""
    def anisotropic_distance(self, dx: _Float, dy: _Float, dz: _Float = 0.0) -> float:
        """The separation (dx east, dy north, dz up) in units of the major range."""
    def gamma_offset(self, dx: _Float, dy: _Float, dz: _Float = 0.0) -> float:
        """Semivariance for the separation (dx east, dy north, dz up)."""

@final
class ExperimentalVariogram:
    """Lag centres, semivariances and pair counts; made by `experimental_variogram`."""

    @property
    def lags(self) -> list[float]:
        """Mean separation of the pairs of each retained lag class."""
    @property
    def semivariances(self) -> list[float]:
        """Semivariance of each retained lag class."""
    @property
    def counts(self) -> list[int]:
        """Number of pairs of each retained lag class."""

def experimental_variogram(coords: _Rows, lag: _Float, n_lags: _Count) -> ExperimentalVariogram:
    """Omnidirectional experimental variogram of rows `[x, y, z]` in `n_lags` classes of width `lag`."""
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
) -> _Field:
    """One sequential Gaussian simulation conditioned on rows `[x, y, z]`, as nested lists."""
def sgs_flat(
    coords: _Rows,
    lattice: Lattice,
    variogram: Variogram | AnisotropicVariogram,
    max_neighbours: _Count,
    radius: _Float,
    seed: _Count,
) -> _FlatField:
    """As `sgs`: `(field_bytes, (ncol, nrow))`, little-endian f64 in `field[col][row]` order."""
def interp1d(
    x: _Floats, y: _Floats, query: _Floats, method: _InterpMethod = "linear", extrapolate: bool = False
) -> list[float]:
    """Interpolate `y` at knots `x` for every `query`; NaN outside unless `extrapolate`."""
def resample(src_grid: _Nested, src_georef: Lattice, target: Lattice, method: _ResampleMethod = "bilinear") -> _Field:
    """Transfer a nested field on `src_georef` onto `target` ('bilinear' or 'nearest')."""
def resample_flat(
    src_grid: bytes, src_georef: Lattice, target: Lattice, method: _ResampleMethod = "bilinear"
) -> _FlatField:
    """As `resample`, flat f64 buffers in and out: `(field_bytes, (ncol, nrow))`."""

# ---- synthetic logs ---------------------------------------------------------------------

@final
class ZoneSpec:
    """One zone of a log stack: thickness, target mean/std in (0, 1), correlation length."""

    def __new__(cls, thickness_m: _Float, mean: _Float, std: _Float, corr_length_m: _Float) -> Self: ...
    @property
    def thickness_m(self) -> float:
        """Zone thickness (m)."""
    @property
    def mean(self) -> float:
        """Target mean of the [0, 1] property."""
    @property
    def std(self) -> float:
        """Target standard deviation of the [0, 1] property."""
    @property
    def corr_length_m(self) -> float:
        """Depth autocorrelation length (m)."""

def zone_sample_counts(zones: Sequence[ZoneSpec], depth_step: _Float) -> list[int]:
    """Samples per zone of the stack at `depth_step`."""
def synth_log_series(
    zones: Sequence[ZoneSpec], depth_step: _Float, transition_beds: _Count, seed: _Count
) -> list[float]:
    """A depth-correlated [0, 1] log over a zone stack, top first."""
def synth_facies_series(
    n: _Count, depth_step: _Float, ntg_target: _Float, bed_scale_m: _Float, seed: _Count
) -> list[int]:
    """Sand (1) / shale (0) series of `n` samples at `ntg_target` in expectation."""
def synth_por_with_facies(
    facies: _Ints,
    depth_step: _Float,
    sand_mean: _Float,
    sand_std: _Float,
    shale_mean: _Float,
    shale_std: _Float,
    corr_length_m: _Float,
    seed: _Count,
) -> list[float]:
    """[0, 1] porosity on a facies series (non-zero = sand)."""
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
    def net_cutoff(self) -> float:
        """Porosity cutoff defining net."""
    @property
    def ntg_target(self) -> float:
        """Required net-to-gross."""
    @property
    def net_por_mean(self) -> float:
        """Target mean porosity of net samples."""
    @property
    def net_por_std(self) -> float:
        """Target porosity standard deviation of net samples."""
    @property
    def nonnet_por_mean(self) -> float:
        """Shale porosity mean."""
    @property
    def nonnet_por_std(self) -> float:
        """Shale porosity standard deviation."""
    @property
    def bed_scale_m(self) -> float:
        """Facies bed scale (m)."""
    @property
    def correlation_len_m(self) -> float:
        """Porosity depth correlation length (m)."""

def synth_petro_curves(zone: PetroZoneSpec, depth_step: _Float, n_samples: _Count, seed: _Count) -> _PetroCurves:
    """Calibrated `{'phie': [...], 'net_flag': [...]}` of `n_samples` samples, top first."""
def ntg_curve(net_flag: _Floats, depth_step: _Float, window_m: _Float) -> list[float]:
    """Centred running mean of a net flag over `window_m` metres."""

# ---- synthetic surfaces ---------------------------------------------------------------------

def synth_dome_surface(
    lattice: Lattice,
    relief: _Float,
    aspect: _Float,
    tilt: _Float,
    noise_variance: _Float,
    noise_variogram: Variogram,
    seed: _Count,
) -> _Field:
    """Elliptical dome with a tilt plane and correlated noise, as nested lists."""
def synth_dome_surface_flat(
    lattice: Lattice,
    relief: _Float,
    aspect: _Float,
    tilt: _Float,
    noise_variance: _Float,
    noise_variogram: Variogram,
    seed: _Count,
) -> _FlatField:
    """As `synth_dome_surface`: `(field_bytes, (ncol, nrow))`."""
def synth_isochore(
    lattice: Lattice, mean_thickness: _Float, variability: _Float, variogram: Variogram, seed: _Count
) -> _Field:
    """Thickness map: unconditional simulation, clamped at zero, as nested lists."""
def synth_isochore_flat(
    lattice: Lattice, mean_thickness: _Float, variability: _Float, variogram: Variogram, seed: _Count
) -> _FlatField:
    """As `synth_isochore`: `(field_bytes, (ncol, nrow))`."""
def synth_trend_map(
    lattice: Lattice, variogram: Variogram, seed: _Count, correlate_with: tuple[_Nested, _Float] | None = None
) -> _Field:
    """Trend map in [0, 1], optionally correlated with `correlate_with=(field, rho)`."""
def synth_trend_map_flat(
    lattice: Lattice, variogram: Variogram, seed: _Count, correlate_with: tuple[_Nested, _Float] | None = None
) -> _FlatField:
    """As `synth_trend_map`: `(field_bytes, (ncol, nrow))`; `correlate_with` stays nested."""

# ---- synthetic wells ------------------------------------------------------------------------

def place_wells(xmin: _Float, ymin: _Float, xmax: _Float, ymax: _Float, n: _Count, seed: _Count) -> list[list[float]]:
    """`n` seeded well heads in [xmin, xmax) x [ymin, ymax) as `[x, y]` lists."""
def place_wells_in_polygon(polygon: _Points, n: _Count, seed: _Count) -> list[list[float]]:
    """`n` seeded well heads inside `polygon` (even-odd rule) as `[x, y]` lists."""
def tops_from_surface(
    surface: _Nested, lattice: Lattice, well_xy: _Points, residual: Sampler, seed: _Count
) -> list[float]:
    """One top per well: the surface sampled at the well plus one `residual` draw; NaN off the lattice."""
def synth_trajectory(
    wellhead_xy: _Point, kb_elevation: _Float, td: _Float, md_step: _Float, seed: _Count
) -> _Trajectory:
    """Vertical well to `td` (m, positive down): columns md, x, y, z, tvd, incl, azim."""
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
) -> _Trajectory:
    """Designed well path to MD `td` ('vertical', 'build_hold', 'build_hold_drop')."""
def max_dogleg_severity(md: _Floats, incl: _Floats, azim: _Floats) -> float:
    """Largest dogleg severity (deg/30 m) between consecutive stations."""

# ---- world frame and outlines -------------------------------------------------------------

@final
class Georef:
    """A world origin `(east0, north0)` for placing synthetic assets."""

    def __new__(cls, east0: _Float | None = None, north0: _Float | None = None) -> Self: ...
    @property
    def east0(self) -> float:
        """World easting of the origin."""
    @property
    def north0(self) -> float:
        """World northing of the origin."""
    def origin(self) -> list[float]:
        """The origin as an `[east, north]` world point."""
    def lattice(
        self, xinc: _Float, yinc: _Float, ncol: _Count, nrow: _Count, rotation_deg: _Float = 0.0, yflip: bool = False
    ) -> Lattice:
        """A world-placed `Lattice` with node `(0, 0)` pinned to this origin."""
    def place_point(self, local: _Point) -> list[float]:
        """Translate a local `[x, y]` into this world frame."""
    def place_points(self, locals: _Points) -> list[list[float]]:
        """Translate a list of local `[x, y]` points into this world frame."""
    def place_intrinsic(self, intrinsic: _Point, rotation_deg: _Float = 0.0, yflip: bool = False) -> list[float]:
        """Place a local point through a rotated/flipped intrinsic frame."""

def closure_outline(surface: _Nested, lattice: Lattice, spill_depth: _Float) -> list[list[float]]:
    """Ring of the largest region closed by the contour at `spill_depth`, as `[x, y]` lists."""
def study_area_outline(
    xmin: _Float, ymin: _Float, xmax: _Float, ymax: _Float, corner_radius: _Float, arc_steps: _Count
) -> list[list[float]]:
    """Counter-clockwise ring of the rectangle, corners rounded when `corner_radius` and `arc_steps` > 0."""

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
def format_volume(v_m3: _Float) -> str:
    """Volume text with one decimal and a report unit: bcm from 1e9 m³, mcm from 1e6 m³, else m³."""
