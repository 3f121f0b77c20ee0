from os import PathLike
from typing import Any, Literal

import dask.array as da
import numpy.typing as npt

_Kernel = Literal["box", "ramp", "hanning"]
_Array = da.Array | npt.ArrayLike

def magnitudes(lengths: da.Array) -> da.Array: ...
def lic_halo(length: int = 15, maglic: bool = False, grid_side: int = 1) -> int: ...
def lic(
    u: _Array,
    v: _Array,
    *,
    texture: Literal["white"] | _Array = "white",
    seed: int = 0,
    kernel: _Kernel = "box",
    length: int = 15,
    maglic: bool = False,
    threads: int | None = None,
    chunks: Any = None,
    boundary: Literal["closed", "periodic"] | tuple[str, str] | None = None,
    orientation: bool | None = None,
    coordinates: Literal["index", "grid", "geographic", "auto"] | None = "auto",
    scale: int = 1,
) -> da.Array | Any: ...
def colorize(
    lic: _Array,
    u: _Array,
    v: _Array,
    by: Literal["magnitude", "direction"] | None = "magnitude",
    flip_rows: bool = False,
    flip_columns: bool = False,
    *,
    scalar: _Array | None = None,
    cmap: str | None = None,
    norm: Literal["linear", "log", "decades"] | None = None,
    vmin: float | None = None,
    vmax: float | None = None,
    percentiles: tuple[float, float] | None = None,
    blend: Literal["multiply", "overlay"] = "multiply",
    alpha: float = 0.5,
    mask_color: tuple[int, int, int] = (0, 0, 0),
    coordinates: Literal["index", "grid", "geographic", "auto"] | None = "auto",
) -> da.Array | Any: ...
def lic_frames(
    u: _Array,
    v: _Array,
    out: str | PathLike[str],
    *,
    by: Literal["magnitude", "direction"] | None = "magnitude",
    texture: Literal["white", "sparse"] | npt.ArrayLike = "white",
    seed: int | None = None,
    kernel: _Kernel = "box",
    length: int = 15,
    maglic: bool = False,
    fps: int = 8,
    codec: Literal["rawvideo", "mjpeg", "mpeg4", "ffv1"] = "rawvideo",
    quality: int = 75,
    threads: int = 1,
) -> list[str] | str: ...
