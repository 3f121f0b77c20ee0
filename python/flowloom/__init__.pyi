from os import PathLike
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

_Array = npt.ArrayLike
_Path = str | PathLike[str]
_Kernel = Literal["box", "ramp", "hanning"]
_Field = Literal["saddle", "spiralling", "vortex", "repelling"]
_Texture = Literal["white", "sparse"] | npt.ArrayLike
_Bytes = npt.NDArray[np.uint8]
_Coordinates = Literal["index", "grid", "geographic", "auto"]

KERNELS: dict[str, int]
FIELDS: dict[str, int]
COLOR_MODES: dict[str | None, int]
TEXTURES: dict[str, int]
MAX_FIELD_SIDE: int
SETTINGS: dict[str, dict[str, Any]]
COORDINATES: tuple[str, ...]
MAX_SCALE: int
MAX_PICTURE_SIDE: int
MAX_THREADS: int

# A DataArray in gives a DataArray out (typed as Any, xarray being optional).
def lic(
    u: _Array,
    v: _Array,
    *,
    texture: _Texture = "white",
    seed: int | None = None,
    kernel: _Kernel = "box",
    length: int = 15,
    maglic: bool = False,
    high_pass: bool = False,
    equalize: bool = False,
    threads: int = 0,
    coordinates: _Coordinates = "auto",
    scale: int = 1,
    boundary: Literal["closed", "periodic"] | tuple[str, str] | None = None,
    orientation: bool | None = None,
) -> _Bytes | Any: ...
def enhance(
    u: _Array,
    v: _Array,
    *,
    iterations: int = 2,
    texture: _Texture = "white",
    seed: int | None = None,
    kernel: _Kernel = "box",
    length: int = 15,
    equalize: bool = False,
    threads: int = 0,
    coordinates: _Coordinates = "auto",
    scale: int = 1,
    boundary: Literal["closed", "periodic"] | tuple[str, str] | None = None,
    orientation: bool | None = None,
) -> _Bytes | Any: ...
def animation(
    u: _Array,
    v: _Array,
    *,
    frames: int = 8,
    length: int = 30,
    iterations: int = 2,
    texture: _Texture = "white",
    seed: int | None = None,
    threads: int = 0,
    coordinates: _Coordinates = "auto",
    scale: int = 1,
    boundary: Literal["closed", "periodic"] | tuple[str, str] | None = None,
    orientation: bool | None = None,
) -> _Bytes | Any: ...
def image_lic(
    rgb: _Array,
    *,
    force_extraction: bool = True,
    iterations: int = 1,
    field: _Field = "saddle",
    kernel: _Kernel = "box",
    length: int = 15,
    high_pass: bool = False,
    threads: int = 0,
) -> _Bytes | Any: ...
_ColorMap = Literal["rainbow", "viridis", "magma", "inferno", "plasma", "cividis", "twilight", "coolwarm", "RdBu", "grey"]

def colorize(
    lic: _Array,
    u: _Array,
    v: _Array,
    by: Literal["magnitude", "direction"] | None = "magnitude",
    flip_rows: bool = False,
    flip_columns: bool = False,
    *,
    scalar: _Array | None = None,
    cmap: _ColorMap | None = None,
    norm: Literal["linear", "log", "decades"] | None = None,
    vmin: float | None = None,
    vmax: float | None = None,
    percentiles: tuple[float, float] | None = None,
    blend: Literal["multiply", "overlay"] = "multiply",
    alpha: float = 0.5,
    mask_color: tuple[int, int, int] = (0, 0, 0),
    stretch: tuple[float, float] | None = None,
    clahe: tuple[int, float] | None = None,
    coordinates: _Coordinates = "auto",
    scale: int = 1,
) -> _Bytes | Any: ...
def stretch(grey: _Array, low: float, high: float) -> _Bytes | Any: ...
def clahe(grey: _Array, tiles: int = 8, clip: float = 0.01) -> _Bytes | Any: ...
def colormap(name: _ColorMap) -> Any: ...
def plot(
    ax: Any,
    u: _Array,
    v: _Array,
    lic: _Array | None = None,
    *,
    by: Literal["magnitude", "direction"] | None = "magnitude",
    scalar: _Array | None = None,
    cmap: _ColorMap | None = None,
    norm: Literal["linear", "log", "decades"] | None = None,
    vmin: float | None = None,
    vmax: float | None = None,
    percentiles: tuple[float, float] | None = None,
    blend: Literal["multiply", "overlay"] = "multiply",
    alpha: float = 0.5,
    mask_color: tuple[int, int, int] = (0, 0, 0),
    stretch: tuple[float, float] | None = None,
    clahe: tuple[int, float] | None = None,
    coordinates: _Coordinates = "auto",
    scale: int = 1,
    interpolation: str = "nearest",
    **lic_options: Any,
) -> Any: ...
def analytic_field(name: _Field, width: int, height: int) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]: ...
def hashed_noise(height: int, width: int, *, seed: int = 0, row0: int = 0, col0: int = 0) -> _Bytes: ...
def read_vec(
    path: _Path, shape: tuple[int, int] | None = None
) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]: ...
def write_vec(path: _Path, u: _Array, v: _Array) -> None: ...
def read_image(path: _Path) -> _Bytes: ...
def write_image(path: _Path, rgb: _Array) -> None: ...
