"""Exact tiled LIC on Dask, for fields too large for one machine and for time series.

:func:`lic` computes a chunked field chunk by chunk, with a halo exchange. Each chunk is
computed in the coordinates of the whole grid, with a halo of field and texture around it
that is wide enough for every streamline that starts in the chunk, so the result equals the
whole-array result byte for byte, whatever the chunking.

The halo follows from the stepping rules. A half-streamline advances each step by its exit
parameter t plus 0.0004, except a step clipped at the arc length L, which advances only what
is left of L; the t add up to at most L. So along either axis it reaches at most
L + n (0.0004 + ulp(L)) samples in n <= 3 x `length` steps, and this holds for any vector of
length <= 1, including one below the 0.05 threshold in both components, whose single step
runs the whole remaining arc. For the unit vectors of a normalised field a step also leaves
its cell, so it moves at most 1 + 0.0004 (+ ulp) samples: with MagLIC, whose L reaches 168
while the steps stay 3 x `length`, this bound is the smaller. Every stored coordinate is
rounded once per step, which adds an ulp of the grid's side per step; the smaller bound with
these roundings, rounded up, is the halo (``flowloom._core.lic_halo``).

What needs the whole field is computed first, as Dask reductions: the magnitude data map
(histogram equalisation of the field's magnitudes) that MagLIC and the colouring need, and
the bounds of a colour norm (:func:`colorize`). A field on coordinates is converted chunk by
chunk from the whole grid's spacing, and a picture finer than the grid interpolates each
chunk's window onto the finer grid, so neither needs the whole field in one place.

The texture needs no shared state between chunks: "white" is a white noise in which each
sample's byte is a hash of (seed, row, column) (:func:`flowloom.hashed_noise`), so every
chunk makes its own part. It is not the window's white noise, which one generator draws
sample after sample; an in-memory :func:`flowloom.lic` with
``texture=flowloom.hashed_noise(h, w, seed=seed)`` gives the same picture. A texture may
also be given as an array (NumPy or Dask) of the field's shape.
"""

from __future__ import annotations

import os

import dask
import dask.array as da
import numpy as np

import flowloom as _flowloom
from . import _core

__all__ = ["lic", "colorize", "magnitudes", "lic_halo", "lic_frames"]

# The engine's magnitude interval and range rule for a field from outside (a file's).
_DATA_MIN = 1.0
_DATA_MAX = 1000.0
_DECADE_WINDOWS = 0
_COUNTS = _core.MAP_COUNTS
_WINDOWS = _core.MAP_WINDOWS
_BINS = _core.MAP_BINS


def _plain_or_dask(a, name: str):
    if _flowloom._is_xarray(a):
        a = a.data
    if isinstance(a, da.Array):
        if a.dtype.kind not in "biuf":
            raise TypeError(f"{name} must hold real numbers, not {a.dtype}")
        return a
    return _flowloom._plain(a, name)


def _dask_field(u, v, chunks, ndim: int = 2):
    """u and v as float32 Dask arrays of one shape and one chunking."""
    uu = _plain_or_dask(u, "u")
    vv = _plain_or_dask(v, "v")
    if uu.ndim != ndim or vv.ndim != ndim:
        raise ValueError(f"u and v must be {ndim}-D, got {uu.ndim}-D and {vv.ndim}-D")
    if uu.shape != vv.shape:
        raise ValueError(f"u and v must have one shape, got {uu.shape} and {vv.shape}")
    if min(uu.shape) < 1:
        raise ValueError(f"the field is empty {uu.shape}")
    if not isinstance(uu, da.Array):
        uu = da.from_array(uu, chunks=chunks or "auto")
    elif chunks is not None:
        uu = uu.rechunk(chunks)
    uu = uu.astype(np.float32)
    vv = (vv if isinstance(vv, da.Array) else da.from_array(vv, chunks=uu.chunks)).astype(np.float32)
    return uu, vv.rechunk(uu.chunks)


def _normalize_block(u, v):
    vx, vy, lengths, mask = _core.normalize(np.ascontiguousarray(u), np.ascontiguousarray(v))
    return np.stack([vx, vy, lengths, mask.astype(np.float32)])


def _normalized(u, v):
    """Unit vectors (vx, vy), the vectors' lengths (NaN where masked) and the mask, chunk by
    chunk, as the engine makes them of a field from outside."""
    stacked = da.map_blocks(_normalize_block, u, v, new_axis=0, chunks=((4,),) + u.chunks, dtype=np.float32)
    return stacked[0], stacked[1], stacked[2], stacked[3].astype(np.uint8)


def _counts_block(lengths):
    return _core.magnitude_counts(np.ascontiguousarray(lengths))[None, None, :]


def _bins_block(lengths, mode, low, high):
    return _core.magnitude_bins(np.ascontiguousarray(lengths), mode, low, high)[None, None, :]


def _apply_block(lengths, mode, low, high, histogram):
    return _core.magnitude_apply(np.ascontiguousarray(lengths), mode, low, high, histogram, _DATA_MIN, _DATA_MAX)


def _per_block(a, fn, size, dtype, *args):
    """fn(block, *args) of shape (1, 1, size) for every block: an array of (blocks, blocks, size)."""
    chunks = (((1,) * len(a.chunks[0])), ((1,) * len(a.chunks[1])), (size,))
    return da.map_blocks(fn, a, *args, new_axis=2, chunks=chunks, dtype=dtype)


def magnitudes(lengths):
    """The field's lengths mapped by the engine's magnitude data map (histogram equalisation
    onto 1..1000, decade-window range rule), as a lazy Dask array.

    The map needs the whole field's distribution, so its range and its histogram are
    computed here first, each as a Dask reduction over the chunks; the mapping itself is
    then chunk by chunk, exactly as the engine maps the whole array."""
    counts = _per_block(lengths, _counts_block, _COUNTS, np.float64)
    total, low, high = dask.compute(counts.sum(axis=(0, 1)), counts.min(axis=(0, 1)), counts.max(axis=(0, 1)))
    w = _WINDOWS
    merged = np.concatenate([total[:1], low[1:2], high[2:3], total[3:3 + w], low[3 + w:3 + 2 * w],
                             high[3 + 2 * w:]])
    range_min, range_max = _core.magnitude_range(merged[None, :], _DECADE_WINDOWS)
    histogram = np.zeros(_BINS, dtype=np.int64)
    if range_min < range_max:
        bins = _per_block(lengths, _bins_block, _BINS, np.int64, _DECADE_WINDOWS, range_min, range_max)
        histogram = bins.sum(axis=(0, 1)).compute().astype(np.int64)
    return da.map_blocks(_apply_block, lengths, _DECADE_WINDOWS, range_min, range_max, histogram,
                         dtype=np.float32)


def lic_halo(length: int = 15, maglic: bool = False, grid_side: int = 1) -> int:
    """The halo, in samples, that the tiled LIC gives every chunk (see the module's text)."""
    longest = float(length)
    if maglic:
        longest = _core.largest_maglic_length(np.array([_DATA_MAX], dtype=np.float32))
    return _core.lic_halo(longest, _core.step_limit(length), grid_side, True)


def _at_least(chunks: tuple, depth: int) -> tuple:
    """Chunks along one axis merged so that each is at least `depth` long (or the axis)."""
    merged = []
    for c in chunks:
        if merged and merged[-1] < depth:
            merged[-1] += c
        else:
            merged.append(c)
    if len(merged) > 1 and merged[-1] < depth:
        # Taken off first: `merged[-2] += merged.pop()` would index the shortened list.
        last = merged.pop()
        merged[-1] += last
    return tuple(merged)


def _with_halos(fn, arrays, depth, wrap, out_chunks, token, **kwargs):
    """fn(*windows, location=((r0, r1), (c0, c1)), **kwargs) for every chunk of the 2-D
    `arrays` (one chunking), each window the chunk with up to `depth` samples of its
    neighbours around it: wrapped round on the axes where wrap (x, y) says, stopping at the
    grid's border elsewhere.

    The halo exchange of one chunk is a single task: it takes its neighbours' strips, cut
    where those neighbours lie, and its own chunk, and puts them together itself. Nothing
    but strips moves between workers, and no whole-window copy is held as a task's result."""
    from dask.highlevelgraph import HighLevelGraph
    import operator

    chunks = arrays[0].chunks
    starts = [np.concatenate([[0], np.cumsum(c)]) for c in chunks]
    counts = [len(c) for c in chunks]
    wraps = (wrap[1], wrap[0])  # by axis: rows, columns
    name = f"{fn.__name__.strip('_')}-{token}"
    strips = f"halo-strip-{token}"
    layer = {}

    def neighbour(axis, index, step):
        k = index + step
        if 0 <= k < counts[axis]:
            return k
        return k % counts[axis] if wraps[axis] else None

    def cut(axis, step):
        return slice(None) if step == 0 else (slice(-depth, None) if step < 0 else slice(0, depth))

    for i in range(counts[0]):
        for j in range(counts[1]):
            windows = []
            for n, a in enumerate(arrays):
                rows = []
                for di in (-1, 0, 1):
                    ii = neighbour(0, i, di)
                    if ii is None:
                        continue
                    row = []
                    for dj in (-1, 0, 1):
                        jj = neighbour(1, j, dj)
                        if jj is None:
                            continue
                        if di == 0 and dj == 0:
                            row.append((a.name, ii, jj))
                        else:
                            key = (strips, n, i, j, di, dj)
                            layer[key] = (operator.getitem, (a.name, ii, jj), (cut(0, di), cut(1, dj)))
                            row.append(key)
                    rows.append(row)
                windows.append(rows)
            location = ((int(starts[0][i]), int(starts[0][i + 1])), (int(starts[1][j]), int(starts[1][j + 1])))
            layer[(name, i, j)] = (_assembled, fn, windows, location, kwargs)
    graph = HighLevelGraph.from_collections(name, layer, dependencies=list(arrays))
    return da.Array(graph, name, chunks=out_chunks, dtype=np.uint8)


def _assembled(fn, windows, location, kwargs):
    return fn(*[np.block(w) for w in windows], location=location, **kwargs)


def _lic_block(u, v, *rest, shape, halo, kernel, length, maglic, threads, periodic=(False, False),
               orientation=False, seed=None, location):
    (r0, r1), (c0, c1) = location
    texture = None if seed is not None else np.ascontiguousarray(rest[0])
    mags = np.ascontiguousarray(rest[-1]) if maglic else None
    # The halo stops at the grid's border (boundary "none"), except on a periodic axis, where
    # it wraps round from the opposite edge and the window starts before the grid.
    window_row0 = r0 - (halo if r0 > 0 or periodic[1] else 0)
    window_col0 = c0 - (halo if c0 > 0 or periodic[0] else 0)
    # The unit vectors and the hashed texture are made in the engine for the window, halo
    # included, rather than held as chunked intermediates: each sample's is its own, so the
    # values are the same, and a worker holds and copies less.
    return _core.lic_tile(np.ascontiguousarray(u), np.ascontiguousarray(v), texture, mags, shape[0], shape[1],
                          window_row0, window_col0, [r0, c0, r1 - r0, c1 - c0], kernel, length, maglic,
                          _task_threads(threads), periodic[0], periodic[1], orientation, True,
                          0 if seed is None else seed)


def _task_threads(threads):
    """The engine's threads for one task. Unless asked for, one: a distributed worker, and
    Dask's threaded scheduler, run as many tasks at once as they have threads, so an engine
    that took every processor for each would have them fight over the cores."""
    return 1 if threads is None else threads


def _convert_block(u, v, mode, dx, dy, cos_lat, block_info=None):
    (r0, r1), (c0, c1) = block_info[0]["array-location"]
    vx, vy = _core.convert_tile(np.ascontiguousarray(u), np.ascontiguousarray(v), mode, dx[c0:c1], dy[r0:r1],
                                cos_lat[r0:r1])
    # The physical magnitudes colour the field and map MagLIC's lengths; missing where the
    # step is (a pole's row) and where a component is.
    east, north = u.astype(np.float64), v.astype(np.float64)
    physical = np.sqrt(east * east + north * north).astype(np.float32)
    physical[~(np.isfinite(vx) & np.isfinite(vy))] = np.nan
    return np.stack([vx, vy, physical])


def _as_is(a):
    return a


def _converted(u, v, coordinates, chunks, with_reorder=False):
    """The field as the engine traces it: (vx, vy, physical magnitudes or None, whether the
    grid wraps in x, the template of the result), and with `with_reorder` the function that
    puts another array of the field's shape in the same order. With coordinates other than "index" the
    rows are put north (largest y) at the top and the columns west to east, as
    :func:`flowloom.lic` puts them, and every chunk is converted by its part of the whole
    grid's spacing."""
    mode = "auto" if coordinates is None else coordinates
    if not isinstance(mode, str) or mode not in _flowloom.COORDINATES:
        raise ValueError(f"coordinates must be one of {', '.join(map(repr, _flowloom.COORDINATES))}, "
                         f"got {coordinates!r}")
    # As in memory: only a DataArray has coordinates for "auto" to look at.
    if mode == "auto" and not (_flowloom._is_xarray(u) and u.ndim == 2):
        mode = "index"
    if mode == "index":
        uu, vv = _dask_field(u, v, chunks)
        return (uu, vv, None, False, u) + ((_as_is,) if with_reorder else ())
    if not (_flowloom._is_xarray(u) and u.ndim == 2):
        raise ValueError(f"coordinates={mode!r} needs u as a 2-D xarray DataArray with 1-D coordinates")
    ydim, xdim = u.dims
    x, y = _flowloom._axis(u, xdim), _flowloom._axis(u, ydim)
    flip_rows = len(y["values"]) >= 2 and y["values"][0] < y["values"][-1]
    flip_cols = len(x["values"]) >= 2 and x["values"][0] > x["values"][-1]
    for axis, flip in ((x, flip_cols), (y, flip_rows)):
        if flip:
            axis["values"] = axis["values"][::-1]
    geometry = _core.field_geometry(x, y, mode, u.shape[1], u.shape[0])
    if geometry["mode"] == "index":
        uu, vv = _dask_field(u, v, chunks)
        return (uu, vv, None, False, u) + ((_as_is,) if with_reorder else ())
    rows = slice(None, None, -1 if flip_rows else 1)
    cols = slice(None, None, -1 if flip_cols else 1)
    uu, vv = _dask_field(u, v, chunks)
    drop = slice(0, -1) if geometry["drop_last_column"] else slice(None)

    def reorder(a):
        return a[rows, cols][:, drop]

    uu, vv = reorder(uu), reorder(vv)
    template = u.isel({ydim: rows, xdim: cols}).isel({xdim: drop})
    cos_lat = np.asarray(geometry["cos_lat"], dtype=np.float64)
    if cos_lat.size == 0:
        cos_lat = np.empty(uu.shape[0])[:0]  # sliced per chunk to nothing: no cos(latitude)
    stacked = da.map_blocks(_convert_block, uu, vv, geometry["mode"], np.asarray(geometry["dx"], dtype=np.float64),
                            np.asarray(geometry["dy"], dtype=np.float64), cos_lat, new_axis=0,
                            chunks=((3,),) + uu.chunks, dtype=np.float32)
    out = stacked[0], stacked[1], stacked[2], bool(geometry["periodic_x"]), template
    return out + ((reorder,) if with_reorder else ())


def _scaled_block(u, v, *, shape, halo, scale, kernel, length, threads, wrap_x, periodic, orientation, seed,
                  location):
    (r0, r1), (c0, c1) = location
    window_row0 = r0 - (halo if r0 > 0 or periodic[1] else 0)
    window_col0 = c0 - (halo if c0 > 0 or periodic[0] or wrap_x else 0)
    region = [scale * r0, scale * c0, scale * (r1 - r0), scale * (c1 - c0)]
    return _core.lic_tile_scaled(np.ascontiguousarray(u), np.ascontiguousarray(v), shape[0], shape[1], scale,
                                 window_row0, window_col0, region, kernel, length, _task_threads(threads), wrap_x,
                                 orientation, periodic[0], periodic[1], orientation,
                                 seed)


def lic(u, v, *, texture="white", seed=0, kernel="box", length=15, maglic=False, threads=None, chunks=None,
        boundary=None, orientation=None, coordinates="auto", scale=1):
    """The LIC picture of a chunked field, as a lazy uint8 Dask array of the field's shape
    (times `scale`).

    u, v: Dask arrays (or NumPy arrays or xarray DataArrays, over Dask or not, chunked with
        `chunks`).
    texture: "white" (hashed white noise of `seed`, see the module's text) or an array of
        the field's shape holding 0..255.
    kernel, length, maglic: as for :func:`flowloom.lic`.
    threads: the engine's threads for each chunk; None (the default) is one, since the
        scheduler's own threads (a worker's threads_per_worker) already run chunks side by side.

    boundary, orientation, coordinates: as for :func:`flowloom.lic`; on a periodic axis the
        halos wrap round, and a geographic grid round the globe wraps in x unless told.
    scale: 1..16, the picture on a grid that many times finer, the field interpolated onto
        it chunk by chunk; any size (the in-memory limit of a side does not apply). With a
        scale above 1 the texture is "white" and MagLIC is not offered.

    Equals :func:`flowloom.lic` of the whole field with the same texture (the hashed noise of
    the picture's shape) byte for byte. Chunks shorter than the halo are merged with a
    neighbour first."""
    kernel_code = _flowloom._choice(kernel, _flowloom.KERNELS, "kernel")
    length = _flowloom._setting(length, "kernel_length")
    maglic = _flowloom._flag(maglic, "maglic")
    threads = None if threads is None else _flowloom._setting(threads, "threads")
    scale = _flowloom._setting(scale, "output_scale")
    uu, vv, physical, wraps_x, template = _converted(u, v, coordinates, chunks)
    shape = uu.shape
    modes = _flowloom._modes(boundary, orientation, shape)
    periodic = (modes["boundary_x"] == 1 or (modes["boundary_x"] == -1 and wraps_x), modes["boundary_y"] == 1)
    orientation = modes["orientation"] == 1
    if isinstance(texture, str):
        _flowloom._choice(texture, {"white": 0}, "texture")
        seed = _flowloom._integer(seed, "seed", 0, 2**64 - 1)
    elif scale > 1:
        raise ValueError("with scale above 1 flowloom.dask draws the hashed white noise only (texture='white')")
    if scale > 1:
        if maglic:
            raise ValueError("flowloom.dask does not offer MagLIC with scale above 1")
        fine_halo = _core.lic_halo(float(length), _core.step_limit(length), max(shape) * scale, True)
        depth = -(-fine_halo // scale) + 2
        work = (_at_least(uu.chunks[0], depth), _at_least(uu.chunks[1], depth))
        uu, vv = uu.rechunk(work), vv.rechunk(work)
        result = _with_halos(_scaled_block, [uu, vv], depth, (periodic[0] or wraps_x, periodic[1]),
                             tuple(tuple(scale * c for c in axis) for axis in work),
                             dask.base.tokenize(uu, vv, depth, scale, kernel_code, length, periodic, orientation, seed),
                             shape=shape, halo=depth, scale=scale, kernel=kernel_code, length=length, threads=threads,
                             wrap_x=wraps_x, periodic=periodic, orientation=orientation, seed=seed)
        return _flowloom._like(result, _flowloom._finer(template, scale), name="lic")

    depth = lic_halo(length, maglic, max(shape))
    work = (_at_least(uu.chunks[0], depth), _at_least(uu.chunks[1], depth))
    uu, vv = uu.rechunk(work), vv.rechunk(work)
    if isinstance(texture, str):
        textures = []
    else:
        seed = None
        tex = _plain_or_dask(texture, "texture")
        if tex.shape != shape:
            raise ValueError(f"the texture must have the field's shape {shape}, got {tex.shape}")
        if tex.dtype.kind not in "ui":
            raise TypeError(f"a texture array must hold integers 0..255 (uint8), not {tex.dtype}")
        if not isinstance(tex, da.Array):
            tex = da.from_array(tex, chunks=work)
        textures = [tex.rechunk(work).astype(np.uint8)]
    if maglic:
        lengths = _normalized(uu, vv)[2] if physical is None else physical.rechunk(work)
        textures.append(magnitudes(lengths))
    token = dask.base.tokenize(uu, vv, *textures, depth, kernel_code, length, maglic, periodic, orientation, seed)
    result = _with_halos(_lic_block, [uu, vv] + textures, depth, periodic, work, token, shape=shape, halo=depth,
                         kernel=kernel_code, length=length, maglic=maglic, threads=threads, periodic=periodic,
                         orientation=orientation, seed=seed)
    return _flowloom._like(result, template, name="lic")


# ---------------------------------------------------------------------------------------
# Colour. The composition settles its norm over the whole picture; here that is done once,
# over all chunks, and every chunk is then composed under the settled norm: values placed
# linearly go in as they are with the settled bounds, the others as their positions 0..1.

_NORM_KINDS = {"linear": 0, "log": 1, "decades": 2}
_SIGN = np.uint32(0x80000000)
_HALF = 16  # a float's sort key is found 16 bits at a time


def _usable(values, mask, log):
    """Whether each value takes part in the norm's bounds, by the composition's rule."""
    usable = np.isfinite(values) & (mask == 0)
    return usable & (values > 0) if log else usable


def _range_block(values, mask, log):
    v = values[_usable(values, mask, log)]
    pair = [v.min(), v.max()] if v.size else [np.inf, -np.inf]
    return np.array(pair, dtype=np.float64)[None, None, :]


def _sort_keys(values):
    """uint32 keys whose order is the floats' order (NaN left out by the caller)."""
    bits = np.ascontiguousarray(values, dtype=np.float32).view(np.uint32)
    return np.where(bits & _SIGN, ~bits, bits | _SIGN)


def _key_value(key: int) -> float:
    bits = key ^ 0x80000000 if key & 0x80000000 else ~key & 0xFFFFFFFF
    return float(np.array([bits], dtype=np.uint32).view(np.float32)[0])


def _top_block(values, mask, log):
    keys = _sort_keys(values[_usable(values, mask, log)])
    return np.bincount(keys >> _HALF, minlength=1 << _HALF).astype(np.int64)[None, None, :]


def _low_block(values, mask, log, tops):
    keys = _sort_keys(values[_usable(values, mask, log)])
    high = keys >> _HALF
    rows = [np.bincount(keys[high == t] & 0xFFFF, minlength=1 << _HALF) for t in tops]
    return np.stack(rows).astype(np.int64)[None, None, :, :]


def _order_statistics(values, mask, log, top, ranks):
    """The values of the given ranks (0-based) among the usable values, sorted: exact, from
    the global histogram `top` of the high halves of the floats' sort keys and one more of
    the low halves under the high halves that hold the ranks."""
    below = np.cumsum(top)
    tops = sorted({int(np.searchsorted(below, k, side="right")) for k in ranks})
    chunks = (((1,) * len(values.chunks[0])), ((1,) * len(values.chunks[1])), (len(tops),), (1 << _HALF,))
    low = da.map_blocks(_low_block, values, mask, log, tuple(tops), new_axis=(2, 3), chunks=chunks,
                        dtype=np.int64).sum(axis=(0, 1)).compute()
    out = {}
    for k in ranks:
        t = int(np.searchsorted(below, k, side="right"))
        within = k - (int(below[t - 1]) if t else 0)
        rest = int(np.searchsorted(np.cumsum(low[tops.index(t)]), within, side="right"))
        out[k] = _key_value((t << _HALF) | rest)
    return out


def _percentile_bounds(values, mask, log, percentiles):
    """The two percentiles of the usable values as the composition takes them (linear
    between the neighbouring ranks), or None when there is no usable value."""
    top = _per_block(values, _top_block, 1 << _HALF, np.int64, mask, log).sum(axis=(0, 1)).compute()
    total = int(top.sum())
    if total == 0:
        return None
    plans = []
    for percent in percentiles:
        rank = percent / 100.0 * float(total - 1)
        first = int(np.floor(rank))
        plans.append((rank, first, first + 1 < total))
    ranks = sorted({k for _, first, more in plans for k in ((first, first + 1) if more else (first,))})
    values_at = _order_statistics(values, mask, log, top, ranks)
    bounds = []
    for rank, first, more in plans:
        low = values_at[first]
        bounds.append(low + (rank - first) * (values_at[first + 1] - low) if more else low)
    return tuple(bounds)


def _settle(kind, low, high, vmin, vmax):
    """The norm's bounds from the data's (low > high: no usable value) and those given, as
    the composition settles them; ValueError when they end up turned."""
    if low > high:
        low, high = (1.0, 10.0) if kind == "log" else (0.0, 1.0)
    given = vmin is not None or vmax is not None
    low = vmin if vmin is not None else low
    high = vmax if vmax is not None else high
    if low > high or (low == high and given):
        raise ValueError(f"vmin ({low:g}) must be below vmax ({high:g}); a bound given alone lies beyond the "
                         "data's range.")
    return low, high


def _decades_counts_block(values, mask):
    return _core.magnitude_counts(values[_usable(values, mask, False)])[None, None, :]


def _decades_bins_block(values, mask, low, high):
    kept = values[_usable(values, mask, False)]
    return _core.magnitude_bins(kept, _DECADE_WINDOWS, low, high, False)[None, None, :]


def _decades_map(values, mask):
    """The range and histogram of the data map onto 0..1 of the usable values, which a norm
    counts as they are (the engine's magnitude map clamps them first)."""
    counts = _per_block(values, _decades_counts_block, _COUNTS, np.float64, mask)
    total, low, high = dask.compute(counts.sum(axis=(0, 1)), counts.min(axis=(0, 1)), counts.max(axis=(0, 1)))
    w = _WINDOWS
    merged = np.concatenate([total[:1], low[1:2], high[2:3], total[3:3 + w], low[3 + w:3 + 2 * w],
                             high[3 + 2 * w:]])
    range_min, range_max = _core.magnitude_range(merged[None, :], _DECADE_WINDOWS)
    histogram = np.zeros(_BINS, dtype=np.int64)
    if range_min < range_max:
        bins = _per_block(values, _decades_bins_block, _BINS, np.int64, mask, range_min, range_max)
        histogram = bins.sum(axis=(0, 1)).compute().astype(np.int64)
    return range_min, range_max, histogram


def _positions_block(values, kind, vmin, vmax, range_min, range_max, histogram):
    return _core.norm_positions(np.ascontiguousarray(values), kind, vmin, vmax, range_min, range_max, histogram)


def _offsets_block(values, low):
    """A linear norm with equal bounds, under the rainbow: how far each value lies above the
    bound, clamped into 0..1, as the rainbow places it then (NaN where not finite)."""
    t = np.clip(values - np.float32(low), np.float32(0), np.float32(1))
    return np.where(np.isfinite(values), t, np.float32(np.nan)).astype(np.float32)


def _compose_block(grey, vx, vy, mags, mask, values=None, *, mode, options):
    return _core.compose_tile(np.ascontiguousarray(grey), np.ascontiguousarray(vx), np.ascontiguousarray(vy),
                              np.ascontiguousarray(mags), None if values is None else np.ascontiguousarray(values),
                              np.ascontiguousarray(mask), mode, options)


def _placed_values(values, mask, colour):
    """The values a chunk is coloured by and the bounds of the linear norm it puts them under,
    settled over the whole array."""
    kind = colour.get("norm", "linear")
    if kind == "decades":
        range_min, range_max, histogram = _decades_map(values, mask)
        return da.map_blocks(_positions_block, values, 2, 0.0, 1.0, range_min, range_max, histogram,
                             dtype=np.float32), (0.0, 1.0)
    log = kind == "log"
    if "percentiles" in colour:
        found = _percentile_bounds(values, mask, log, colour["percentiles"])
        low, high = found if found else (1.0, 0.0)
        low, high = _settle(kind, low, high, None, None)
    else:
        pairs = _per_block(values, _range_block, 2, np.float64, mask, log)
        low, high = dask.compute(pairs[..., 0].min(), pairs[..., 1].max())
        low, high = _settle(kind, float(low), float(high), colour.get("vmin"), colour.get("vmax"))
    if kind == "linear" and low < high:
        return values, (low, high)
    if kind == "linear" and colour.get("cmap", "rainbow") == "rainbow":
        return da.map_blocks(_offsets_block, values, low, dtype=np.float32), (0.0, 1.0)
    return da.map_blocks(_positions_block, values, _NORM_KINDS[kind], low, high, 1.0, 0.0, None,
                         dtype=np.float32), (0.0, 1.0)


def colorize(lic, u, v, by="magnitude", flip_rows=False, flip_columns=False, *, scalar=None, cmap=None, norm=None,
             vmin=None, vmax=None, percentiles=None, blend="multiply", alpha=0.5, mask_color=(0, 0, 0),
             coordinates="auto"):
    """The colour picture of a chunked LIC picture, as a lazy uint8 Dask array of shape
    (height, width, 3), red, green, blue: :func:`flowloom.colorize` with the same options,
    chunk by chunk.

    What the composition takes from the whole picture is found first by Dask reductions over
    all chunks: the magnitude data map, the range of the values under a linear or log norm,
    exact percentiles (the same order statistics the in-memory composition interpolates
    between), and the data map of a scalar under "decades". Each chunk is then composed
    under the settled norm, so the result equals :func:`flowloom.colorize` of the whole
    arrays byte for byte whatever the chunking.

    coordinates: those the picture was drawn with (see :func:`lic`); the field and the scalar
    are then put in the picture's order, and the physical magnitudes colour it. (Pictures
    finer than the grid are not coloured here.)"""
    mode = _flowloom._choice(by, _flowloom.COLOR_MODES, "by")
    if scalar is not None and by != "magnitude":
        raise ValueError(f"scalar takes the magnitude's place and needs by='magnitude', got by={by!r}")
    colour = _flowloom._colour_settings(cmap, norm, vmin, vmax, percentiles, blend, alpha, mask_color)
    if colour.get("norm") == "decades" and ({"vmin", "vmax", "percentiles"} & set(colour)):
        raise ValueError("The decades norm takes its range from the data's dominant decade window; vmin, vmax "
                         "and percentiles apply to the linear and log norms only.")
    flip_rows = _flowloom._flag(flip_rows, "flip_rows")
    flip_columns = _flowloom._flag(flip_columns, "flip_columns")
    grey = _plain_or_dask(lic, "lic")
    if grey.dtype != np.uint8:
        raise TypeError(f"lic must be uint8, not {grey.dtype}")
    if grey.ndim != 2:
        raise ValueError(f"lic must be 2-D, got {grey.ndim}-D")
    like_grey = isinstance(grey, da.Array) and grey.shape == tuple(np.shape(u))
    uu, vv, physical, _, template, reorder = _converted(u, v, coordinates, grey.chunks if like_grey else None,
                                                        with_reorder=True)
    if grey.shape != uu.shape:
        raise ValueError(f"lic must have the field's shape {uu.shape}, got {grey.shape}")
    grey = da.from_array(grey, chunks=uu.chunks) if not isinstance(grey, da.Array) else grey.rechunk(uu.chunks)
    vx, vy, lengths, mask = _normalized(uu, vv)
    if physical is not None:
        lengths = physical.rechunk(uu.chunks)

    values = None
    if scalar is not None:
        values = _plain_or_dask(scalar, "scalar")
        if values.shape != u.shape:
            raise ValueError(f"scalar must have the field's shape {u.shape}, got {values.shape}")
        values = (values if isinstance(values, da.Array) else da.from_array(values, chunks="auto"))
        values = reorder(values).astype(np.float32).rechunk(uu.chunks)
    elif mode == 1 and colour.get("norm", "decades") != "decades":
        values = lengths
    options = {k: colour[k] for k in ("cmap", "blend", "alpha", "mask_color") if k in colour}
    if mode == 1 and values is not None:
        values, (options["vmin"], options["vmax"]) = _placed_values(values, mask, colour)
    # The mapped magnitudes colour the default picture and shade the rainbow's hues;
    # elsewhere they are not read, and the lengths stand in without a pass over the field.
    hues = mode == 2 and colour.get("cmap", "rainbow") == "rainbow"
    mags = magnitudes(lengths) if (mode == 1 and values is None) or hues else lengths
    args = [grey, vx, vy, mags, mask] + ([values] if values is not None else [])
    rgb = da.map_blocks(_compose_block, *args, new_axis=2, chunks=grey.chunks + ((3,),), dtype=np.uint8,
                        mode=mode, options=options)
    if flip_rows:
        rgb = rgb[::-1]
    if flip_columns:
        rgb = rgb[:, ::-1]
    template = lic if _flowloom._is_xarray(lic) else template
    if _flowloom._is_xarray(template) and (flip_rows or flip_columns):
        template = template[:: -1 if flip_rows else 1, :: -1 if flip_columns else 1]
    return _flowloom._like(rgb, template, ("channel",), {"channel": ["red", "green", "blue"]}, name="picture")


def _frame(u, v, index, directory, settings):
    u = np.asarray(u)
    v = np.asarray(v)
    by = settings.pop("by")
    picture = _flowloom.colorize(_flowloom.lic(u, v, **settings), u, v, by=by)
    if directory is None:
        return picture
    path = os.path.join(directory, f"frame{index:05d}.png")
    _flowloom.write_image(path, picture)
    return path


def lic_frames(u, v, out, *, by="magnitude", texture="white", seed=None, kernel="box", length=15, maglic=False,
               fps=8, codec="rawvideo", quality=75, threads=1):
    """Renders a stack of fields u[t], v[t] (for example a NetCDF time axis opened with xarray
    and Dask) frame by frame on the cluster: each frame is :func:`flowloom.lic` and
    :func:`flowloom.colorize` of one time step, computed by one task.

    out: a directory, which receives frame00000.png onwards (written by the workers; they
    must see the same file system), or a file ending in .avi, which the engine's AVI writer
    fills in order on this machine at `fps` frames per second with `codec` ("rawvideo",
    "mjpeg", "mpeg4" or "ffv1"; `quality` 0..100 for the lossy ones). Returns the list of
    PNG paths, or the AVI path."""
    uu, vv = _dask_field(u, v, None, ndim=3)
    settings = dict(texture=texture, seed=seed, kernel=kernel, length=length, maglic=maglic, threads=threads, by=by)
    _flowloom._choice(by, _flowloom.COLOR_MODES, "by")
    _flowloom._choice(kernel, _flowloom.KERNELS, "kernel")
    out = _flowloom._path(out, "out")
    to_avi = out.lower().endswith(".avi")
    if not to_avi:
        os.makedirs(out, exist_ok=True)
    tasks = [dask.delayed(_frame)(uu[t], vv[t], t, None if to_avi else out, dict(settings))
             for t in range(uu.shape[0])]
    if not to_avi:
        return list(dask.compute(*tasks))
    writer = _core.AviFile(out, _flowloom._integer(fps, "fps", 1, 1000), codec,
                           _flowloom._integer(quality, "quality", 0, 100))
    # A few frames at a time, in order, so that this machine holds only a batch.
    batch = 8
    for first in range(0, len(tasks), batch):
        for picture in dask.compute(*tasks[first:first + batch]):
            writer.add(picture)
    writer.finish()
    return out
