import threading

import numpy as np
import pytest

import flowloom
from conftest import masked


# The package gives flowloom-render's bytes for the same settings (the field file that
# flowloom-render wrote is read by both).
@pytest.mark.parametrize(
    "options, compute",
    [
        ((), lambda u, v: flowloom.colorize(flowloom.lic(u, v), u, v)),
        (("--method", "maglic", "--color-by-direction"),
         lambda u, v: flowloom.colorize(flowloom.lic(u, v, maglic=True), u, v, by="direction")),
        (("--noise", "sparse", "--seed", "7", "--kernel", "ramp", "--length", "20", "--flip-rows", "--flip-columns"),
         lambda u, v: flowloom.colorize(flowloom.lic(u, v, texture="sparse", seed=7, kernel="ramp", length=20), u, v,
                                        flip_rows=True, flip_columns=True)),
        (("--method", "enhance", "--enhance-iterations", "3", "--kernel", "hanning", "--equalize", "--grey"),
         lambda u, v: flowloom.colorize(flowloom.enhance(u, v, iterations=3, kernel="hanning", equalize=True), u, v,
                                        by=None)),
    ],
)
def test_pictures_equal_flowloom_render(vortex, render, options, compute, tmp_path):
    # With a masked block: NaN in the file, NaN from Python.
    path = str(tmp_path / "masked.vec")
    flowloom.write_vec(path, *masked(*vortex[:2]))
    u, v = flowloom.read_vec(path)
    assert np.isnan(u).any()
    assert np.array_equal(compute(u, v), render("--field-file", path, *options))


def test_animation_and_image_lic_equal_flowloom_render(vortex, render, tmp_path):
    u, v, path = vortex
    render("--field-file", path, "--method", "animation", "--frames", "8", "--out-dir", str(tmp_path))
    frames = flowloom.animation(u, v, frames=8)
    for k in (0, 5):
        expected = flowloom.read_image(tmp_path / "LICAnimation" / f"frame0{k}.bmp")
        assert np.array_equal(flowloom.colorize(frames[k], u, v), expected)

    photo = np.random.default_rng(1).integers(0, 256, (37, 45, 3), dtype=np.uint8)
    flowloom.write_image(tmp_path / "photo.bmp", photo)
    assert np.array_equal(flowloom.read_image(tmp_path / "photo.bmp"), photo)
    for extra, kwargs in (((), {}), (("--no-force-extraction", "--field", "spiralling", "--high-pass"),
                                     dict(force_extraction=False, field="spiralling", high_pass=True))):
        expected = render("--method", "licing", "--image", str(tmp_path / "photo.bmp"), "--image-iterations", "2",
                          *extra)
        assert np.array_equal(flowloom.image_lic(photo, iterations=2, **kwargs), expected)


def test_vec_files_round_trip_within_a_rounding(tmp_path):
    u, v = flowloom.analytic_field("spiralling", 23, 9)
    u[2, 3] = np.nan
    flowloom.write_vec(tmp_path / "f.vec", u, v)
    u2, v2 = flowloom.read_vec(tmp_path / "f.vec")
    # A sample without data stays one, in both components.
    v[2, 3] = np.nan
    np.testing.assert_allclose(u2, u, rtol=3e-7, atol=1e-7)
    np.testing.assert_allclose(v2, v, rtol=3e-7, atol=1e-7)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda u, v: flowloom.lic(u, v[:, :-1]), ValueError),
        (lambda u, v: flowloom.lic(u[0], v[0]), ValueError),
        (lambda u, v: flowloom.lic(u[:0], v[:0]), ValueError),
        (lambda u, v: flowloom.lic(u.astype(complex), v), TypeError),
        (lambda u, v: flowloom.lic(u.astype(str), v), TypeError),
        (lambda u, v: flowloom.lic(u, v, kernel="gauss"), ValueError),
        (lambda u, v: flowloom.lic(u, v, length=0), ValueError),
        (lambda u, v: flowloom.lic(u, v, length=2.5), TypeError),
        (lambda u, v: flowloom.lic(u, v, texture=np.zeros((3, 3), np.uint8)), ValueError),
        (lambda u, v: flowloom.lic(u, v, texture=np.zeros(u.shape)), TypeError),
        (lambda u, v: flowloom.lic(u, v, maglic="yes"), TypeError),
        (lambda u, v: flowloom.colorize(np.zeros(u.shape), u, v), TypeError),
        (lambda u, v: flowloom.colorize(np.zeros(u.shape, np.uint8), u, v, by="speed"), ValueError),
        (lambda u, v: flowloom.image_lic(np.zeros((4, 4), np.uint8)), ValueError),
        (lambda u, v: flowloom.write_vec("/nonexistent/dir/f.vec", u, v), OSError),
        (lambda u, v: flowloom.write_vec("f.vec", u[:, :3], v[:, :3]), ValueError),
        (lambda u, v: flowloom.read_vec(__file__), ValueError),
        (lambda u, v: flowloom.read_image("missing.bmp"), FileNotFoundError),
    ],
)
def test_bad_arguments_raise(call, error):
    u, v = flowloom.analytic_field("saddle", 12, 10)
    with pytest.raises(error):
        call(u, v)


def test_ranges_come_from_the_settings_table_and_dask_is_reachable_from_the_package():
    u, v = flowloom.analytic_field("saddle", 12, 10)
    table = flowloom.SETTINGS
    assert list(flowloom.KERNELS) == ["box", "ramp", "hanning"]
    high = table["kernel_length"]["max"]
    flowloom.lic(u, v, length=high)
    with pytest.raises(ValueError, match=f"length must be between 1 and {high}"):
        flowloom.lic(u, v, length=high + 1)
    with pytest.raises(ValueError, match="threads must be between 0 and 1024"):
        flowloom.lic(u, v, threads=table["threads"]["max"] + 1)
    # A fresh interpreter: the submodule is not imported by name first.
    import subprocess
    import sys
    run = subprocess.run([sys.executable, "-c", "import flowloom; print(callable(flowloom.dask.lic))"],
                         capture_output=True, text=True)
    assert run.stdout.strip() == "True", run.stderr


# The renderer's thread range, here as there: far more threads end the interpreter in the
# OpenMP runtime, so they must be refused before any is started.
@pytest.mark.parametrize("threads", [-1, 1025, 100000])
def test_thread_counts_beyond_the_renderers_range_raise(threads):
    u, v = flowloom.analytic_field("saddle", 8, 6)
    for call in (lambda: flowloom.lic(u, v, threads=threads), lambda: flowloom.animation(u, v, frames=1, threads=threads),
                 lambda: flowloom.image_lic(np.zeros((6, 8, 3), np.uint8), threads=threads),
                 lambda: flowloom._core.lic(u, v, None, threads, {})):
        with pytest.raises(ValueError, match="threads"):
            call()
    assert flowloom.MAX_THREADS == 1024


# A NUL would cut the path short in the engine: "x.txt\0.png" would write x.txt.
def test_paths_with_a_nul_raise_and_write_nothing(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    u, v = flowloom.analytic_field("saddle", 8, 6)
    picture = np.zeros((6, 8, 3), np.uint8)
    flowloom.write_vec("good.vec", u, v)
    for call in (lambda: flowloom.write_image("x.txt\0.png", picture),
                 lambda: flowloom.write_image(b"x.txt\0.bmp", picture),
                 lambda: flowloom.write_vec("x.txt\0.vec", u, v),
                 lambda: flowloom.read_vec("good.vec\0.txt"),
                 lambda: flowloom.read_image("good.bmp\0.bmp"),
                 lambda: flowloom._core.write_image("y.txt\0.png", picture, True)):
        with pytest.raises(ValueError, match="NUL"):
            call()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["good.vec"]


def test_a_short_text_file_is_no_huge_field(tmp_path):
    path = tmp_path / "two.txt"
    path.write_text("1 2")
    with pytest.raises(ValueError, match="too short"):
        flowloom.read_vec(path, shape=(16384, 16384))
    u, v = flowloom.read_vec(path, shape=(1, 1))
    assert (u[0, 0], v[0, 0]) == (1, 2)


def test_unreadable_images_say_why(tmp_path):
    os2 = tmp_path / "os2.bmp"  # a 12-byte info header
    os2.write_bytes(b"BM" + bytes(8) + (26).to_bytes(4, "little") + (12).to_bytes(4, "little") + bytes(12))
    with pytest.raises(ValueError, match="OS/2 info header is not read"):
        flowloom.read_image(os2)
    deep = tmp_path / "deep.rgb"  # two bytes per channel
    deep.write_bytes(bytes([1, 218, 0, 2, 0, 3, 0, 2, 0, 2, 0, 3]) + bytes(500))
    with pytest.raises(ValueError, match="two bytes per channel"):
        flowloom.read_image(deep)


def test_other_dtypes_and_orders_give_the_same_picture_and_the_gil_is_released():
    u, v = flowloom.analytic_field("repelling", 64, 48)
    base = flowloom.lic(u, v)
    assert np.array_equal(flowloom.lic(np.asfortranarray(u.astype(np.float64)), v[:, :].copy(order="F")), base)

    # While one thread is in the engine, this one keeps running Python.
    big_u, big_v = flowloom.analytic_field("vortex", 700, 700)
    worker = threading.Thread(target=flowloom.lic, args=(big_u, big_v), kwargs=dict(length=60, threads=1))
    worker.start()
    turns = 0
    while worker.is_alive():
        turns += 1
    worker.join()
    assert turns > 10000


def test_xarray_in_gives_xarray_out_with_the_coordinates():
    xarray = pytest.importorskip("xarray")
    u, v = flowloom.analytic_field("saddle", 20, 15)
    coords = {"y": np.linspace(0, 1, 15), "x": np.arange(20) * 2.0}
    xu = xarray.DataArray(u, dims=("y", "x"), coords=coords)
    xv = xarray.DataArray(v, dims=("y", "x"), coords=coords)
    grey = flowloom.lic(xu, xv)
    assert isinstance(grey, xarray.DataArray) and grey.dims == ("y", "x")
    assert np.array_equal(grey.x, xu.x) and np.array_equal(grey.values, flowloom.lic(u, v))
    picture = flowloom.colorize(grey, xu, xv, flip_rows=True)
    assert picture.dims == ("y", "x", "channel") and np.array_equal(picture.y, xu.y[::-1])


def _wind(xarray, rng, lat_north_first=True):
    """A 40 x 24 global wind field on CF longitude/latitude, rows north first or south first."""
    lat = np.linspace(82.5, -82.5, 24) if lat_north_first else np.linspace(-82.5, 82.5, 24)
    lon = np.arange(40) * 9.0
    lat_attrs = dict(units="degrees_north", standard_name="latitude")
    coords = dict(lat=("lat", lat, lat_attrs), lon=("lon", lon, dict(units="degrees_east")))
    east = 20 * np.cos(np.radians(lat))[:, None] + rng.normal(0, 3, (24, 40))
    north = 5 * np.sin(np.radians(lon))[None, :] + rng.normal(0, 3, (24, 40))
    return (xarray.DataArray(east, dims=("lat", "lon"), coords=coords),
            xarray.DataArray(north, dims=("lat", "lon"), coords=coords))


def test_latitude_order_does_not_change_a_picture_drawn_by_coordinates(tmp_path, render):
    xarray = pytest.importorskip("xarray")
    u, v = _wind(xarray, np.random.default_rng(3))
    su, sv = u.sortby("lat"), v.sortby("lat")
    assert su.lat.values[0] < 0
    for mode in ("grid", "geographic", "auto"):
        north_first = flowloom.lic(u, v, coordinates=mode, seed=1)
        south_first = flowloom.lic(su, sv, coordinates=mode, seed=1)
        assert north_first.equals(south_first), mode
        assert north_first.lat.values[0] > 0
    # Without coordinates the arrays are the picture, as always: the order shows.
    assert not np.array_equal(flowloom.lic(u, v).values, flowloom.lic(su, sv).values[::-1])

    # The finer geographic picture and its colours are the renderer's, byte for byte.
    path = tmp_path / "wind.nc"
    xarray.Dataset(dict(u=su, v=sv)).to_netcdf(path)
    grey = flowloom.lic(su, sv, coordinates="auto", scale=3, seed=1)
    assert grey.shape == (72, 120) and np.all(np.diff(grey.lat.values) < 0)
    picture = flowloom.colorize(grey, su, sv, coordinates="auto", scale=3)
    expected = render("--field-file", str(path), "--coordinates", "auto", "--scale", "3")
    assert np.array_equal(np.asarray(picture), expected)


def test_coordinates_and_scales_that_cannot_be_drawn_raise_value_error():
    xarray = pytest.importorskip("xarray")
    u, v = _wind(xarray, np.random.default_rng(4))
    plain_u, plain_v = u.values, v.values
    turned = u.assign_coords(lat=np.r_[u.lat.values[:12], u.lat.values[:12] - 1.0])
    beyond = u.assign_coords(lat=u.lat.values + 10)
    cases = [
        (dict(coordinates="geographic"), plain_u, plain_v, "needs u as a 2-D xarray DataArray"),
        (dict(coordinates="geographic"), turned, v, "is not monotonic"),
        (dict(coordinates="geographic"), beyond, v, r"beyond \+-90"),
        (dict(coordinates="spherical"), u, v, "coordinates must be one of"),
        (dict(scale=17), u, v, "scale must be between 1 and 16"),
        (dict(scale=0), u, v, "scale must be between 1 and 16"),
    ]
    for kwargs, uu, vv, message in cases:
        with pytest.raises(ValueError, match=message):
            flowloom.lic(uu, vv, **kwargs)
    wide = np.ones((2, 1100), np.float32)
    with pytest.raises(ValueError, match="at most 16384"):
        flowloom.lic(wide, wide, scale=16)


def test_orientation_ignores_the_signs_and_periodic_boundaries_wrap():
    rng = np.random.default_rng(1)
    u = rng.normal(size=(40, 50)).astype(np.float32)
    v = rng.normal(size=(40, 50)).astype(np.float32)
    signs = np.where(rng.random(u.shape) < 0.5, -1, 1).astype(np.float32)
    assert (flowloom.lic(u, v, orientation=True) == flowloom.lic(u * signs, v * signs, orientation=True)).all()
    assert not (flowloom.lic(u, v) == flowloom.lic(u * signs, v * signs)).all()
    # A wrap changes only what the edges reach; closed in both axes is today's picture.
    periodic = flowloom.lic(u, v, boundary=("periodic", "closed"))
    plain = flowloom.lic(u, v)
    assert (flowloom.lic(u, v, boundary="closed") == plain).all()
    changed = np.argwhere(periodic != plain)
    assert len(changed) and ((changed[:, 1] < 16) | (changed[:, 1] >= 34)).all()
    with pytest.raises(ValueError, match="at least 2 samples"):
        flowloom.lic(u[:, :1], v[:, :1], boundary="periodic")
    with pytest.raises(ValueError, match="boundary"):
        flowloom.lic(u, v, boundary="wrapped")
