"""Exact tiled LIC on Dask, for fields too large for one machine and for time series.

:func:`lic` computes a chunked field chunk by chunk with ``map_overlap``. Each chunk is
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
(histogram equalisation of the field's magnitudes) that MagLIC and the colouring need.

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
        merged[-2] += merged.pop()
    return tuple(merged)


def _hashed_block(block_info=None, seed=0):
    (r0, r1), (c0, c1) = block_info[None]["array-location"]
    return _core.hashed_noise(r1 - r0, c1 - c0, r0, c0, seed)


def _lic_block(u, v, texture, mags=None, *, shape, halo, kernel, length, maglic, threads, periodic=(False, False),
               orientation=False, block_info=None):
    (r0, r1), (c0, c1) = block_info[None]["array-location"]
    # Normalised here, halo included, rather than held as a chunked intermediate: each sample
    # is normalised on its own, so the values are the same, and a worker holds less.
    vx, vy, _, _ = _core.normalize(np.ascontiguousarray(u), np.ascontiguousarray(v))
    # The halo stops at the grid's border (boundary "none"), except on a periodic axis, where
    # it wraps round from the opposite edge and the window starts before the grid.
    window_row0 = r0 - (halo if r0 > 0 or periodic[1] else 0)
    window_col0 = c0 - (halo if c0 > 0 or periodic[0] else 0)
    return _core.lic_tile(vx, vy, np.ascontiguousarray(texture),
                          None if mags is None else np.ascontiguousarray(mags), shape[0], shape[1], window_row0,
                          window_col0, [r0, c0, r1 - r0, c1 - c0], kernel, length, maglic, threads,
                          periodic[0], periodic[1], orientation)


def lic(u, v, *, texture="white", seed=0, kernel="box", length=15, maglic=False, threads=1, chunks=None,
        boundary=None, orientation=None):
    """The LIC picture of a chunked field, as a lazy uint8 Dask array of the field's shape.

    u, v: Dask arrays (or NumPy arrays or xarray DataArrays, chunked with `chunks`).
    texture: "white" (hashed white noise of `seed`, see the module's text) or an array of
        the field's shape holding 0..255.
    kernel, length, maglic: as for :func:`flowloom.lic`; threads: per chunk.

    boundary, orientation: as for :func:`flowloom.lic` (None is closed and off here, the
        chunks carrying no coordinates); on a periodic axis the halos wrap round.

    Equals :func:`flowloom.lic` of the whole field with the same texture byte for byte.
    Chunks shorter than the halo are merged with a neighbour first."""
    uu, vv = _dask_field(u, v, chunks)
    kernel_code = _flowloom._choice(kernel, _flowloom.KERNELS, "kernel")
    length = _flowloom._setting(length, "kernel_length")
    maglic = _flowloom._flag(maglic, "maglic")
    threads = _flowloom._setting(threads, "threads")
    shape = uu.shape
    depth = lic_halo(length, maglic, max(shape))
    work = (_at_least(uu.chunks[0], depth), _at_least(uu.chunks[1], depth))
    uu, vv = uu.rechunk(work), vv.rechunk(work)

    if isinstance(texture, str):
        _flowloom._choice(texture, {"white": 0}, "texture")
        seed = _flowloom._integer(seed, "seed", 0, 2**64 - 1)
        tex = da.map_blocks(_hashed_block, chunks=work, dtype=np.uint8, seed=seed)
    else:
        tex = _plain_or_dask(texture, "texture")
        if tex.shape != shape:
            raise ValueError(f"the texture must have the field's shape {shape}, got {tex.shape}")
        if tex.dtype.kind not in "ui":
            raise TypeError(f"a texture array must hold integers 0..255 (uint8), not {tex.dtype}")
        if not isinstance(tex, da.Array):
            tex = da.from_array(tex, chunks=work)
        tex = tex.rechunk(work).astype(np.uint8)

    modes = _flowloom._modes(boundary, orientation, shape)
    periodic = (modes["boundary_x"] == 1, modes["boundary_y"] == 1)
    args = [uu, vv, tex] + ([magnitudes(_normalized(uu, vv)[2])] if maglic else [])
    edges = {0: "periodic" if periodic[1] else "none", 1: "periodic" if periodic[0] else "none"}
    result = da.map_overlap(_lic_block, *args, depth=depth, boundary=edges, trim=False, chunks=work,
                            dtype=np.uint8, shape=shape, halo=depth, kernel=kernel_code, length=length,
                            maglic=maglic, threads=threads, periodic=periodic,
                            orientation=modes["orientation"] == 1)
    return _flowloom._like(result, u, name="lic")


def _compose_block(grey, vx, vy, mags, mask, mode):
    return _core.compose_tile(np.ascontiguousarray(grey), np.ascontiguousarray(vx), np.ascontiguousarray(vy),
                              np.ascontiguousarray(mags), np.ascontiguousarray(mask), mode)


def colorize(lic, u, v, by="magnitude", flip_rows=False, flip_columns=False):
    """The colour picture of a chunked LIC picture, as a lazy uint8 Dask array of shape
    (height, width, 3), red, green, blue: :func:`flowloom.colorize` chunk by chunk, with the
    magnitude data map computed over the whole field first."""
    mode = _flowloom._choice(by, _flowloom.COLOR_MODES, "by")
    flip_rows = _flowloom._flag(flip_rows, "flip_rows")
    flip_columns = _flowloom._flag(flip_columns, "flip_columns")
    grey = _plain_or_dask(lic, "lic")
    if grey.dtype != np.uint8:
        raise TypeError(f"lic must be uint8, not {grey.dtype}")
    uu, vv = _dask_field(u, v, None if isinstance(grey, np.ndarray) else grey.chunks)
    if grey.shape != uu.shape:
        raise ValueError(f"lic must have the field's shape {uu.shape}, got {grey.shape}")
    grey = da.from_array(grey, chunks=uu.chunks) if not isinstance(grey, da.Array) else grey.rechunk(uu.chunks)
    vx, vy, lengths, mask = _normalized(uu, vv)
    mags = magnitudes(lengths) if mode else lengths
    rgb = da.map_blocks(_compose_block, grey, vx, vy, mags, mask, mode, new_axis=2, chunks=grey.chunks + ((3,),),
                        dtype=np.uint8)
    if flip_rows:
        rgb = rgb[::-1]
    if flip_columns:
        rgb = rgb[:, ::-1]
    return rgb


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
