"""Flowloom: pictures of 2-D vector fields by Line Integral Convolution (LIC).

The Flowloom engine on NumPy arrays. A field is two 2-D arrays of one shape, ``u`` along the
columns (to the right) and ``v`` along the rows (downwards); row 0 is the top row of the
picture. NaN (or any non-finite value) in ``u`` or ``v`` marks a sample without data: it is
a masked zero vector, where streamlines stop, drawn in black by :func:`colorize`.

Every computation gives exactly the bytes that ``flowloom-render`` gives with the same
settings, releases the GIL while it runs, and uses float32 C-contiguous arrays as they are
(other dtypes and orders are converted first). xarray ``DataArray`` inputs give a
``DataArray`` with the same coordinates; xarray itself is optional.

:mod:`flowloom.dask` runs the LIC of fields too large for one machine, and of time series,
on Dask.
"""

from __future__ import annotations

import numbers
import os

import numpy as np

from . import _core

__all__ = [
    "lic",
    "enhance",
    "animation",
    "image_lic",
    "colorize",
    "stretch",
    "clahe",
    "colormap",
    "plot",
    "analytic_field",
    "hashed_noise",
    "read_vec",
    "write_vec",
    "read_image",
    "write_image",
]

# Names, ranges and defaults come from the engine's settings table, which the window and
# flowloom-render read too.
SETTINGS = _core.SETTINGS


def _names(setting: str) -> dict:
    return {name: index for index, name in enumerate(SETTINGS[setting]["choices"])}


KERNELS = _names("kernel_type")
FIELDS = _names("field_type")
COLOR_MODES = {None: 0, "magnitude": 1, "direction": 2}
TEXTURES = _names("noise_type")
_TEXTURE_ARRAY = 2

# The largest field side the engine takes from memory; flowloom.dask computes larger fields.
MAX_FIELD_SIDE = _core.MAX_FIELD_SIDE
# The renderer's range for its thread count (0: one per processor).
MAX_THREADS = SETTINGS["threads"]["max"]


# ---------------------------------------------------------------------------------------
# Checking and converting arguments (every message names the argument).


def _is_xarray(a) -> bool:
    return type(a).__module__.startswith("xarray.") and hasattr(a, "dims")


def _plain(a, name: str) -> np.ndarray:
    """The NumPy array behind `a` (a DataArray's values), refusing what holds no numbers."""
    if _is_xarray(a):
        a = a.values
    try:
        arr = np.asarray(a)
    except Exception as error:  # ragged lists and the like
        raise TypeError(f"{name} must be an array of numbers") from error
    if arr.dtype.kind not in "biuf":
        raise TypeError(f"{name} must hold real numbers, not {arr.dtype}")
    return arr


def _field(u, v) -> tuple[np.ndarray, np.ndarray]:
    """u and v as float32 C-contiguous 2-D arrays of one shape; no copy when they already are."""
    uu = _plain(u, "u")
    vv = _plain(v, "v")
    if uu.ndim != 2 or vv.ndim != 2:
        raise ValueError(f"u and v must be 2-D, got {uu.ndim}-D and {vv.ndim}-D")
    if uu.shape != vv.shape:
        raise ValueError(f"u and v must have one shape, got {uu.shape} and {vv.shape}")
    if uu.shape[0] < 1 or uu.shape[1] < 1:
        raise ValueError(f"the field is empty ({uu.shape[0]} x {uu.shape[1]})")
    if max(uu.shape) > MAX_FIELD_SIDE:
        raise ValueError(f"the field is {uu.shape[0]} x {uu.shape[1]}; a side may have at most {MAX_FIELD_SIDE} "
                         "samples (flowloom.dask computes larger fields chunk by chunk)")
    return (np.ascontiguousarray(uu, dtype=np.float32), np.ascontiguousarray(vv, dtype=np.float32))


def _integer(value, name: str, low: int, high: int | None = None) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    value = int(value)
    if value < low or (high is not None and value > high):
        bounds = f"between {low} and {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bounds}, got {value}")
    return value


def _setting(value, setting: str, name: str | None = None) -> int:
    """An integer setting checked against its row of the settings table."""
    row = SETTINGS[setting]
    return _integer(value, name or row["keyword"] or setting, row["min"], row["max"])


def _threads(value) -> int:
    return _setting(value, "threads")


def _path(path, name: str = "path") -> str:
    """`path` as a string; a NUL in it would cut it short in the engine, so it is refused."""
    path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    if "\0" in path:
        raise ValueError(f"{name} must not hold a NUL character: {path!r}"[:200])
    return path


def _flag(value, name: str) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, not {value!r}")
    return bool(value)


def _choice(value, choices: dict, name: str) -> int:
    try:
        return choices[value]
    except (KeyError, TypeError):
        pass
    names = ", ".join(repr(k) for k in choices)
    raise ValueError(f"{name} must be one of {names}, got {value!r}")


def _seed(seed) -> int:
    """-1 for none, else the generator's 32-bit start state."""
    if seed is None:
        return -1
    return _setting(seed, "seed")


def _texture(texture, shape: tuple[int, int]):
    """(kind, array or None) for the engine."""
    if isinstance(texture, str) or texture is None:
        return _choice(texture, TEXTURES, "texture"), None
    tex = _plain(texture, "texture")
    if tex.dtype.kind == "f" or tex.dtype.kind == "b":
        raise TypeError(f"a texture array must hold integers 0..255 (uint8), not {tex.dtype}")
    if tex.shape != shape:
        raise ValueError(f"the texture must have the field's shape {shape}, got {tex.shape}")
    if tex.dtype != np.uint8 and tex.size and (tex.min() < 0 or tex.max() > 255):
        raise ValueError("a texture array must hold values 0..255")
    return _TEXTURE_ARRAY, np.ascontiguousarray(tex, dtype=np.uint8)


def _settings(*, texture_kind=0, seed=-1, kernel=0, length=15, maglic=False, enhance_iterations=0,
              high_pass=False, equalize=False, frames=8) -> dict:
    return dict(texture=texture_kind, seed=seed, kernel=kernel, length=length, maglic=maglic,
                enhance_iterations=enhance_iterations, high_pass=high_pass, equalize=equalize, frames=frames)


def _like(result: np.ndarray, template, extra_dims: tuple = (), extra_coords: dict | None = None, leading=False,
          name: str | None = None):
    """`result` as a DataArray with the template's coordinates when the template is one."""
    if not _is_xarray(template):
        return result
    import xarray

    dims = tuple(extra_dims) + tuple(template.dims) if leading else tuple(template.dims) + tuple(extra_dims)
    coords = {k: c for k, c in template.coords.items() if set(c.dims) <= set(template.dims)}
    coords.update(extra_coords or {})
    return xarray.DataArray(result, dims=dims, coords=coords, name=name)


# ---------------------------------------------------------------------------------------
# Coordinates and pictures finer than the grid.

COORDINATES = ("index", "grid", "geographic", "auto")
MAX_SCALE = SETTINGS["output_scale"]["max"]
MAX_PICTURE_SIDE = 16384


def _axis(a, dim: str) -> dict:
    """A DataArray's 1-D coordinate along `dim` as the engine reads it (empty when none)."""
    if dim in a.coords and a.coords[dim].ndim == 1:
        c = a.coords[dim]
        values = np.asarray(c.values, dtype=np.float64)
        attrs = c.attrs
    else:
        values, attrs = np.empty(0), {}
    return dict(values=values, name=str(dim), units=str(attrs.get("units", "")),
                standard_name=str(attrs.get("standard_name", "")))


def _geometry(u, v, coordinates, scale, scalar=None):
    """The field as the engine takes it: (vx, vy, settings for the engine, the template of the
    result). With `coordinates` other than "index" a DataArray's rows are put north (largest
    y) at the top and its columns west to east, as a NetCDF file's are, `v` counting towards
    rising y; the values become steps in samples, and their physical magnitudes colour them.
    A colour `scalar` of u's shape is reordered with the field (settings["scalar"])."""
    mode = "auto" if coordinates is None else coordinates
    if not isinstance(mode, str) or mode not in COORDINATES:
        raise ValueError(f"coordinates must be one of {', '.join(map(repr, COORDINATES))}, got {coordinates!r}")
    # Only a DataArray has coordinates for "auto" to look at; anything else is in samples.
    if mode == "auto" and not (_is_xarray(u) and u.ndim == 2):
        mode = "index"
    scale = _setting(scale, "output_scale")
    uu, vv = _field(u, v)
    extra = dict(scale=scale, periodic_x=False, colour=None)
    if scalar is not None:
        values = _plain(scalar, "scalar")
        if values.shape != uu.shape:
            raise ValueError(f"scalar must have the field's shape {uu.shape}, got {values.shape}")
        extra["scalar"] = np.ascontiguousarray(values, dtype=np.float32)
    template = u
    if mode != "index":
        if not (_is_xarray(u) and u.ndim == 2):
            raise ValueError(f"coordinates={mode!r} needs u as a 2-D xarray DataArray with 1-D coordinates")
        ydim, xdim = u.dims
        x, y = _axis(u, xdim), _axis(u, ydim)
        flip_rows = len(y["values"]) >= 2 and y["values"][0] < y["values"][-1]
        flip_cols = len(x["values"]) >= 2 and x["values"][0] > x["values"][-1]
        rows = slice(None, None, -1 if flip_rows else 1)
        cols = slice(None, None, -1 if flip_cols else 1)
        for axis, flip in ((x, flip_cols), (y, flip_rows)):
            if flip:
                axis["values"] = axis["values"][::-1]
        du = np.ascontiguousarray(uu[rows, cols])
        dv = np.ascontiguousarray(vv[rows, cols])
        vx, vy, mags, periodic, dropped, applied = _core.convert_field(du, dv, x, y, mode)
        if applied != "index":
            template = u.isel({ydim: rows, xdim: cols})
            if dropped:
                template = template.isel({xdim: slice(0, -1)})
            uu, vv = vx, vy
            extra.update(periodic_x=bool(periodic), colour=mags)
            if scalar is not None:
                moved = extra["scalar"][rows, cols]
                extra["scalar"] = np.ascontiguousarray(moved[:, :-1] if dropped else moved)
    height, width = uu.shape
    if max(height, width) * scale > MAX_PICTURE_SIDE:
        raise ValueError(f"the {height} x {width} field at scale {scale} would be a {height * scale} x "
                         f"{width * scale} picture; a side may have at most {MAX_PICTURE_SIDE} pixels")
    return uu, vv, extra, template


def _modes(boundary, orientation, shape) -> dict:
    """The stepper's modes for the engine: -1 leaves one to the field, 0 closed or off, 1
    periodic or on."""
    names = _names("boundary")
    if boundary is None:
        pair = (None, None)
    elif isinstance(boundary, str):
        pair = (boundary, boundary)
    elif isinstance(boundary, (tuple, list)) and len(boundary) == 2:
        pair = tuple(boundary)
    else:
        raise ValueError(f"boundary must be 'closed', 'periodic' or a pair of them for (x, y), got {boundary!r}")
    codes = [-1 if b is None else _choice(b, names, "boundary") for b in pair]
    for code, side, axis in zip(codes, (shape[1], shape[0]), "xy"):
        if code == 1 and side < 2:
            raise ValueError(f"a periodic boundary in {axis} needs at least 2 samples along it, the field has {side}")
    flag = -1 if orientation is None else int(_flag(orientation, "orientation"))
    return dict(boundary_x=codes[0], boundary_y=codes[1], orientation=flag)


def _finer(template, scale: int):
    """The template with its coordinates on the grid `scale` times finer: each pixel's
    coordinate where it lies between the samples', continued linearly past the ends."""
    if scale == 1 or not _is_xarray(template):
        return template
    import xarray

    coords = {}
    for dim in template.dims:
        n = template.sizes[dim]
        pos = (np.arange(n * scale) + 0.5) / scale - 0.5
        if dim in template.coords and template.coords[dim].ndim == 1 and n >= 2:
            c = np.asarray(template.coords[dim].values, dtype=np.float64)
            k = np.clip(np.floor(pos).astype(int), 0, n - 2)
            coords[dim] = xarray.Variable(dim, c[k] + (pos - k) * (c[k + 1] - c[k]),
                                          template.coords[dim].attrs)
        else:
            coords[dim] = pos
    return xarray.DataArray(np.zeros((template.sizes[template.dims[0]] * scale,
                                      template.sizes[template.dims[1]] * scale), np.uint8),
                            dims=template.dims, coords=coords)


# ---------------------------------------------------------------------------------------
# The engine's computations.


def lic(u, v, *, texture="white", seed=None, kernel="box", length=15, maglic=False, high_pass=False,
        equalize=False, threads=0, coordinates="auto", scale=1, boundary=None, orientation=None):
    """The LIC picture of the field (u, v): uint8 of the field's shape.

    Every pixel follows its streamline downstream and upstream for `length` pixels and
    becomes the kernel-weighted average of the texture along it.

    texture: "white" (the engine's white noise, its generator started at `seed`, or at 1 as
        at program start, so that it equals flowloom-render's), "sparse" (dots, seeded with
        `seed` or the clock), or a uint8 array of the field's shape.
    kernel: "box", "ramp" or "hanning"; length: 1..200 pixels each way.
    maglic: the kernel length of each pixel follows the field's magnitude.
    high_pass, equalize: the 3 x 3 high-pass filter and the contrast curve afterwards.
    threads: 0 for all processors; the picture is the same for every count. (The count is
        the engine's process-wide setting: concurrent calls share the last one given.)

    coordinates: "auto" (the default), "index", "grid" or "geographic". "index" takes the
        arrays' rows and columns as the samples. "grid" and "geographic", for xarray
        DataArrays with 1-D coordinates, convert the field by their spacing (and by
        cos(latitude) for "geographic", which takes longitude/latitude in degrees). "auto"
        is "geographic" for a DataArray whose coordinates carry the CF units
        degrees_east/degrees_north, as a NetCDF file's do, and "index" for everything else.
        Converted, the rows are drawn north (largest y) at the top whatever order they are
        stored in, so a field sorted south first gives the picture of the same field sorted
        north first, and `v` counts towards rising y.
    scale: 1..16, the picture on a grid that many times finer (at most 16384 pixels a side):
        the field, its mask and its magnitudes are interpolated bilinearly onto it; a
        texture array then has the picture's shape.
    boundary: "closed" (a streamline ends at the edge) or "periodic" (it goes on at the
        opposite edge), or a pair for (x, y); None leaves it to the field: periodic in x for
        a geographic grid round the globe, closed otherwise.
    orientation: True for a field defined only up to its sign (polarisation angles,
        eigenvectors): streamlines never reverse, and the picture does not depend on the
        vectors' signs. None: off.

    The field is handled as a field file is: non-finite samples are masked (zero vectors)
    and the magnitudes are mapped by the decade-window rule. Each side 1..4000. Raises ValueError or TypeError for a
    wrong shape, dtype or value.
    """
    uu, vv, extra, template = _geometry(u, v, coordinates, scale)
    kind, tex = _texture(texture, (uu.shape[0] * extra["scale"], uu.shape[1] * extra["scale"]))
    settings = _settings(texture_kind=kind, seed=_seed(seed), kernel=_choice(kernel, KERNELS, "kernel"),
                         length=_setting(length, "kernel_length"), maglic=_flag(maglic, "maglic"),
                         high_pass=_flag(high_pass, "high_pass"), equalize=_flag(equalize, "equalize"))
    settings.update(extra)
    settings.update(_modes(boundary, orientation, uu.shape))
    result = _core.lic(uu, vv, tex, _setting(threads, "threads"), settings)
    return _like(result, _finer(template, extra["scale"]), name="lic")


def enhance(u, v, *, iterations=2, texture="white", seed=None, kernel="box", length=15, equalize=False, threads=0,
            coordinates="auto", scale=1, boundary=None, orientation=None):
    """Enhanced LIC: `iterations` (2..10) LIC passes, each but the last high-pass filtered
    and fed back as the next pass's texture; uint8 of the field's shape (times `scale`).
    The other arguments are those of :func:`lic`."""
    uu, vv, extra, template = _geometry(u, v, coordinates, scale)
    kind, tex = _texture(texture, (uu.shape[0] * extra["scale"], uu.shape[1] * extra["scale"]))
    settings = _settings(texture_kind=kind, seed=_seed(seed), kernel=_choice(kernel, KERNELS, "kernel"),
                         length=_setting(length, "kernel_length"),
                         enhance_iterations=_setting(iterations, "enhance_iterations"),
                         equalize=_flag(equalize, "equalize"))
    settings.update(extra)
    settings.update(_modes(boundary, orientation, uu.shape))
    result = _core.lic(uu, vv, tex, _setting(threads, "threads"), settings)
    return _like(result, _finer(template, extra["scale"]), name="lic")


def animation(u, v, *, frames=8, length=30, iterations=2, texture="white", seed=None, threads=0,
              coordinates="auto", scale=1, boundary=None, orientation=None):
    """A cycle of `frames` (1..100) grey LIC frames whose Hanning-kernel ripples travel
    along the streamlines: uint8 of shape (frames, height, width), on the grid `scale`
    times finer. Each frame takes `iterations` (1..10) passes, high-pass filtered between
    them. The engine's animation uses length 30 and white noise. `coordinates`,
    `boundary` and `orientation` are those of :func:`lic`."""
    uu, vv, extra, template = _geometry(u, v, coordinates, scale)
    kind, tex = _texture(texture, (uu.shape[0] * extra["scale"], uu.shape[1] * extra["scale"]))
    n = _setting(frames, "anim_frames")
    settings = _settings(texture_kind=kind, seed=_seed(seed), kernel=KERNELS["hanning"],
                         length=_setting(length, "kernel_length"),
                         enhance_iterations=_setting(iterations, "anim_iterations"), frames=n)
    settings.update(extra)
    settings.update(_modes(boundary, orientation, uu.shape))
    result = _core.animation(uu, vv, tex, _setting(threads, "threads"), settings)
    return _like(result, _finer(template, extra["scale"]), ("frame",), {"frame": np.arange(n)}, leading=True,
                 name="frames")


def image_lic(rgb, *, force_extraction=True, iterations=1, field="saddle", kernel="box", length=15,
              high_pass=False, threads=0):
    """The LIC of a colour image (uint8 of shape (height, width, 3), red, green, blue), each
    channel smeared along a field: its own brightness gradient (`force_extraction`, the
    image blurred and the field derived anew for every one of `iterations` passes, 1..10),
    or the analytic `field` at the image's size (then `high_pass` filters every pass)."""
    image = _plain(rgb, "rgb")
    if image.ndim != 3 or image.shape[2] != 3:
        raise ValueError(f"rgb must have the shape (height, width, 3), got {image.shape}")
    if image.dtype != np.uint8:
        raise TypeError(f"rgb must be uint8, not {image.dtype}")
    if image.shape[0] < 1 or image.shape[1] < 1 or max(image.shape[:2]) > MAX_FIELD_SIDE:
        raise ValueError(f"rgb has an unusable size {image.shape[0]} x {image.shape[1]}")
    result = _core.image_lic(np.ascontiguousarray(image), _flag(force_extraction, "force_extraction"),
                             _setting(iterations, "image_iterations"), _choice(field, FIELDS, "field"),
                             _choice(kernel, KERNELS, "kernel"), _setting(length, "kernel_length"),
                             _flag(high_pass, "high_pass"), _setting(threads, "threads"))
    return _like(result, rgb, name="image") if _is_xarray(rgb) else result


def _real(value, name: str, low: float | None = None, high: float | None = None) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    value = float(value)
    if not np.isfinite(value):
        raise ValueError(f"{name} must be finite, got {value}")
    if (low is not None and value < low) or (high is not None and value > high):
        raise ValueError(f"{name} must be between {low:g} and {high:g}, got {value:g}")
    return value


def _pair(value, name: str, low: float, high: float) -> tuple[float, float]:
    if isinstance(value, str) or not hasattr(value, "__len__") or len(value) != 2:
        raise ValueError(f"{name} must be a pair (low, high), got {value!r}")
    pair = (_real(value[0], f"{name}[0]", low, high), _real(value[1], f"{name}[1]", low, high))
    if pair[0] >= pair[1]:
        raise ValueError(f"{name} must rise, got {pair[0]:g}, {pair[1]:g}")
    return pair


def _colour_settings(cmap, norm, vmin, vmax, percentiles, blend, alpha, mask_color) -> dict:
    """The colour options for the engine; the keys of options left at their defaults are
    left out, so that the engine composes the window's picture."""
    out = {}
    if cmap is not None:
        _choice(cmap, _names("cmap"), "cmap")
        out["cmap"] = cmap
    bounds = {}
    if vmin is not None:
        bounds["vmin"] = _real(vmin, "vmin")
    if vmax is not None:
        bounds["vmax"] = _real(vmax, "vmax")
    if "vmin" in bounds and "vmax" in bounds and bounds["vmin"] >= bounds["vmax"]:
        raise ValueError(f"vmin must lie below vmax, got {bounds['vmin']:g} and {bounds['vmax']:g}")
    if percentiles is not None:
        if bounds:
            raise ValueError("give either vmin/vmax or percentiles, not both")
        row = SETTINGS["percentiles"]
        bounds["percentiles"] = _pair(percentiles, "percentiles", row["min"], row["max"])
    if norm is not None or bounds:
        # Bounds without a norm put the colour under a linear one: the decade window
        # chooses its own range.
        name = "linear" if norm is None else norm
        _choice(name, _names("norm"), "norm")
        out["norm"] = name
        out.update(bounds)
    _choice(blend, _names("blend"), "blend")
    if blend != "multiply":
        out["blend"] = blend
    row = SETTINGS["alpha"]
    out["alpha"] = _real(alpha, "alpha", row["min"], row["max"])
    if isinstance(mask_color, str) or not hasattr(mask_color, "__len__") or len(mask_color) != 3:
        raise ValueError(f"mask_color must be (red, green, blue), got {mask_color!r}")
    out["mask_color"] = [_integer(c, f"mask_color[{i}]", 0, 255) for i, c in enumerate(mask_color)]
    return out


def _contrast_settings(stretch, clahe) -> dict:
    """The grey contrast step of colorize for the engine; empty for none."""
    if stretch is not None and clahe is not None:
        raise ValueError("give either stretch or clahe, not both")
    if stretch is not None:
        return {"stretch": _pair(stretch, "stretch", 0.0, 100.0)}
    if clahe is not None:
        if isinstance(clahe, str) or not hasattr(clahe, "__len__") or len(clahe) != 2:
            raise ValueError(f"clahe must be a pair (tiles, clip), got {clahe!r}")
        return {"clahe": (_integer(clahe[0], "clahe[0] (tiles)", 1), _real(clahe[1], "clahe[1] (clip)", 0.0))}
    return {}


def colorize(lic, u, v, by="magnitude", flip_rows=False, flip_columns=False, *, scalar=None, cmap=None, norm=None,
             vmin=None, vmax=None, percentiles=None, blend="multiply", alpha=0.5, mask_color=(0, 0, 0),
             stretch=None, clahe=None, coordinates="auto", scale=1):
    """The colour picture of a LIC picture: uint8 of shape (height, width, 3), red, green,
    blue. `by` "magnitude" (rainbow, blue for weak flow to red for strong), "direction"
    (hue) or None (grey); masked samples (non-finite in u or v) are black; then mirrored
    top to bottom and left to right when asked. `coordinates` and `scale` are those the
    picture was drawn with (see :func:`lic`); with coordinates the physical magnitude
    sqrt(u^2 + v^2) colours it.

    scalar: an array of the field's shape that takes the magnitude's place (by="magnitude");
        its non-finite samples take the mask colour. Under a linear norm over its range
        unless asked otherwise.
    cmap: "rainbow" (the default), "viridis", "magma", "inferno", "plasma", "cividis",
        "twilight", "coolwarm", "RdBu" or "grey".
    norm: "linear", "log" (values <= 0 masked) or "decades" (the decade-window data map, the
        magnitude's default). vmin and vmax, or percentiles (low, high) in 0..100, bound it;
        else the data's range. Bounds without a norm mean a linear norm.
    blend: "multiply" (each channel grey x colour) or "overlay" ((1 - alpha) x colour +
        alpha x grey, alpha 0..1).
    mask_color: (red, green, blue) of masked samples.
    stretch: (low, high) percentiles, or clahe: (tiles, clip), applied to a copy of the grey
        picture before it is coloured, as :func:`stretch` and :func:`clahe` do (one of them).

    Without these keywords the picture is the engine's default composition. ValueError for
    options that cannot be met."""
    grey = _plain(lic, "lic")
    if grey.dtype != np.uint8:
        raise TypeError(f"lic must be uint8, not {grey.dtype}")
    mode = _choice(by, COLOR_MODES, "by")
    if scalar is not None and by != "magnitude":
        raise ValueError(f"scalar takes the magnitude's place and needs by='magnitude', got by={by!r}")
    colour = _colour_settings(cmap, norm, vmin, vmax, percentiles, blend, alpha, mask_color)
    colour.update(_contrast_settings(stretch, clahe))
    uu, vv, extra, field_template = _geometry(u, v, coordinates, scale, scalar)
    expected = (uu.shape[0] * extra["scale"], uu.shape[1] * extra["scale"])
    if grey.shape != expected:
        raise ValueError(f"lic must have the field's shape {expected}, got {grey.shape}")
    extra.update(colour)
    result = _core.colorize(np.ascontiguousarray(grey), uu, vv, mode,
                            _flag(flip_rows, "flip_rows"), _flag(flip_columns, "flip_columns"), extra)
    template = lic if _is_xarray(lic) else _finer(field_template, extra["scale"])
    if _is_xarray(template) and (flip_rows or flip_columns):
        template = template[:: -1 if flip_rows else 1, :: -1 if flip_columns else 1]
    return _like(result, template, ("channel",), {"channel": ["red", "green", "blue"]}, name="picture")


def _grey(grey) -> np.ndarray:
    picture = _plain(grey, "grey")
    if picture.dtype != np.uint8:
        raise TypeError(f"grey must be uint8, not {picture.dtype}")
    if picture.ndim != 2 or picture.shape[0] < 1 or picture.shape[1] < 1:
        raise ValueError(f"grey must be a non-empty 2-D picture, got shape {picture.shape}")
    return np.ascontiguousarray(picture)


def stretch(grey, low, high):
    """The grey picture (uint8, 2-D) stretched so that its levels at the percentiles `low`
    and `high` (0..100, rising) become 0 and 255, the levels between them linearly; a
    picture with one level stays as it is."""
    low, high = _pair((low, high), "(low, high)", 0.0, 100.0)
    return _like(_core.stretch(_grey(grey), low, high), grey, name="lic")


def clahe(grey, tiles=8, clip=0.01):
    """Contrast-limited adaptive histogram equalisation of a grey picture (uint8, 2-D):
    `tiles` regions across and down (at least 1), each region's histogram clipped at `clip`
    (a share of its samples; 0 for none). Within half a level of
    skimage.exposure.equalize_adapthist with the same regions and clip limit, times 255."""
    tiles = _integer(tiles, "tiles", 1)
    clip = _real(clip, "clip", 0.0)
    return _like(_core.clahe(_grey(grey), tiles, clip), grey, name="lic")


def colormap(name):
    """The named colour map (see :func:`colorize`) as a matplotlib ListedColormap of 256
    colours, so that a colour bar or another picture shows the very colours of the picture.
    Needs matplotlib."""
    _choice(name, _names("cmap"), "name")
    try:
        from matplotlib.colors import ListedColormap
    except ImportError as error:
        raise ImportError("flowloom.colormap needs matplotlib (the python3-matplotlib package)") from error
    return ListedColormap(_core.color_table(name) / 255.0, name=name)


def _edges(values: np.ndarray) -> tuple[float, float]:
    """The outer edges of the first and last cells whose centres are `values`."""
    if len(values) < 2:
        return float(values[0]) - 0.5, float(values[0]) + 0.5
    return (float(values[0] - (values[1] - values[0]) / 2), float(values[-1] + (values[-1] - values[-2]) / 2))


def _extent(template, shape) -> tuple[float, float, float, float]:
    """imshow's (left, right, bottom, top) for a picture whose first row is drawn on top:
    the edges of a DataArray's coordinates in the order drawn, else the samples' indices."""
    height, width = shape
    if _is_xarray(template) and template.ndim == 2:
        ydim, xdim = template.dims
        if all(d in template.coords and template.coords[d].ndim == 1 for d in (xdim, ydim)):
            x = np.asarray(template.coords[xdim].values, dtype=np.float64)
            y = np.asarray(template.coords[ydim].values, dtype=np.float64)
            left, right = _edges(x)
            top, bottom = _edges(y)
            return left, right, bottom, top
    return -0.5, width - 0.5, height - 0.5, -0.5


def _matplotlib_norm(norm):
    """The engine's settled norm as a matplotlib one that puts a value where the picture does."""
    from matplotlib import colors

    if norm.kind == "linear":
        return colors.Normalize(norm.vmin, norm.vmax)
    if norm.kind == "log":
        return colors.LogNorm(norm.vmin, norm.vmax)
    # The data map: the engine's own positions forwards, and backwards by interpolation
    # between positions of values spread over its range, as a colour bar needs them.
    lo, hi = float(norm.vmin), float(norm.vmax)
    grid = np.geomspace(lo, hi, 4097) if lo > 0 else np.linspace(lo, hi, 4097)
    positions = np.asarray(norm.positions(grid.astype(np.float32)), dtype=np.float64)

    def forward(x):
        x = np.ma.getdata(x)
        return np.asarray(norm.positions(np.ascontiguousarray(x, dtype=np.float32)), dtype=np.float64)

    def inverse(p):
        return np.interp(np.ma.getdata(p), positions, grid)

    return colors.FuncNorm((forward, inverse), vmin=lo, vmax=hi)


def plot(ax, u, v, lic=None, *, by="magnitude", scalar=None, cmap=None, norm=None, vmin=None, vmax=None,
         percentiles=None, blend="multiply", alpha=0.5, mask_color=(0, 0, 0), stretch=None, clahe=None,
         coordinates="auto", scale=1, interpolation="nearest", **lic_options):
    """Draws the coloured LIC picture of (u, v) on the matplotlib Axes `ax` and returns a
    mappable for its colour bar: ``fig.colorbar(flowloom.plot(ax, u, v), ax=ax)`` shows the true
    values of the magnitude (or of `scalar`) under the picture's own map and norm (linear,
    log, or the decade-window data map).

    lic: the grey picture when it has been computed already (as :func:`lic` gives it with
        the same coordinates and scale); otherwise it is computed with `lic_options` (the
        keywords of :func:`lic`). The colour keywords are those of :func:`colorize`.
    The picture's extent is the field's coordinates (the outer edges of the first and last
    cells) for an xarray DataArray, in the order the picture draws them; the samples'
    indices otherwise. With by="direction" or None there is no scale to show, and the
    mappable is None. Needs matplotlib."""
    try:
        from matplotlib.cm import ScalarMappable
    except ImportError as error:
        raise ImportError("flowloom.plot needs matplotlib (the python3-matplotlib package)") from error
    if lic is None:
        lic = globals()["lic"](u, v, coordinates=coordinates, scale=scale, **lic_options)
    elif lic_options:
        raise TypeError(f"LIC keywords {sorted(lic_options)} go with lic=None only")
    picture = colorize(lic, u, v, by, scalar=scalar, cmap=cmap, norm=norm, vmin=vmin, vmax=vmax,
                       percentiles=percentiles, blend=blend, alpha=alpha, mask_color=mask_color, stretch=stretch,
                       clahe=clahe, coordinates=coordinates, scale=scale)
    uu, vv, extra, template = _geometry(u, v, coordinates, scale, scalar)
    ax.imshow(np.asarray(picture), extent=_extent(template, uu.shape), origin="upper",
              interpolation=interpolation)
    if by != "magnitude":
        return None
    settings = dict(extra)
    settings.update(_colour_settings(cmap, norm, vmin, vmax, percentiles, blend, alpha, mask_color))
    mappable = ScalarMappable(norm=_matplotlib_norm(_core.color_norm(uu, vv, settings)),
                              cmap=colormap(cmap or "rainbow"))
    values = extra.get("scalar")
    if values is None:
        values = extra["colour"] if extra["colour"] is not None else np.hypot(uu, vv)
    mappable.set_array(values)
    return mappable


def analytic_field(name, width, height):
    """One of the engine's analytic fields ("saddle", "spiralling", "vortex", "repelling")
    on a width x height grid, as (u, v), float32 of shape (height, width)."""
    return _core.analytic_field(_choice(name, FIELDS, "name"), _integer(width, "width", 1, 32768),
                                _integer(height, "height", 1, 32768))


def hashed_noise(height, width, *, seed=0, row0=0, col0=0):
    """White noise in which the byte of sample (row, column) depends on (seed, row, column)
    only: uint8 of shape (height, width), the samples from (row0, col0) on. Any part of it
    can be made on its own, which is what lets a chunked LIC make its texture chunk by
    chunk. It differs from the engine's white noise, which continues one generator."""
    return _core.hashed_noise(_integer(height, "height", 0), _integer(width, "width", 0),
                              _integer(row0, "row0", 0), _integer(col0, "col0", 0),
                              _integer(seed, "seed", 0, 2**64 - 1))


# ---------------------------------------------------------------------------------------
# Files.


def _existing(path) -> str:
    path = _path(path)
    if not os.path.isfile(path):
        raise FileNotFoundError(path)
    return path


def read_vec(path, shape=None):
    """A vector-field file, as (u, v) float32 arrays. A binary .vec file brings its own size;
    a headerless text file of numbers needs `shape` = (height, width). Raises
    FileNotFoundError, or ValueError when the file is not a field file, or when a text
    file is too short to hold the 2 * height * width numbers that `shape` asks for."""
    rows, cols = -1, -1
    path = _existing(path)
    if shape is not None:
        if len(shape) != 2:
            raise ValueError("shape must be (height, width)")
        rows = _integer(shape[0], "shape[0]", 1, 32768)
        cols = _integer(shape[1], "shape[1]", 1, 32768)
    return _core.read_vec(path, rows, cols)


def write_vec(path, u, v):
    """Writes (u, v) as a binary little-endian .vec file (a width, height header, then vx, vy
    per sample). Each sample is stored as its direction times its length, as the engine
    writes fields, so values come back within a float rounding; NaN stays NaN. The reader
    takes widths 4..3999 only, so other widths raise ValueError rather than give a file
    that cannot be read back."""
    uu, vv = _field(u, v)
    if not 4 <= uu.shape[1] <= 3999:
        raise ValueError(f"a .vec file holds widths 4..3999, got {uu.shape[1]}")
    _core.write_vec(_path(path), uu, vv)


def _ending(path: str) -> str:
    return os.path.splitext(path)[1].lower()


def read_image(path):
    """A BMP (1, 4, 8 or 24 bits, uncompressed or run-length) or SGI RGB (.rgb, .sgi, .bw)
    image as uint8 of shape (height, width, 3), red, green, blue."""
    path = _existing(path)
    ending = _ending(path)
    if ending not in (".bmp", ".rgb", ".sgi", ".bw", ".rgba"):
        raise ValueError(f"cannot tell the image format of {path}: use .bmp or .rgb")
    return _core.read_image(path, ending != ".bmp")


def write_image(path, rgb):
    """Writes a uint8 (height, width, 3) red, green, blue image as a 24-bit .bmp or a .png."""
    path = _path(path)
    image = _plain(rgb, "rgb")
    if image.ndim != 3 or image.shape[2] != 3 or image.dtype != np.uint8:
        raise ValueError("rgb must be uint8 of shape (height, width, 3)")
    if image.shape[0] < 1 or image.shape[1] < 1:
        raise ValueError("the image is empty")
    ending = _ending(path)
    if ending not in (".bmp", ".png"):
        raise ValueError(f"cannot write {path}: use .bmp or .png")
    _core.write_image(path, np.ascontiguousarray(image), ending == ".png")


def __getattr__(name: str):
    # flowloom.dask needs Dask, which is optional: it is imported when first asked for, so
    # that `import flowloom` then `flowloom.dask.lic(...)` works without importing it by name.
    if name == "dask":
        import importlib

        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
