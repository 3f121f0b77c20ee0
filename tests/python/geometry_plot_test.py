"""Coordinates by default, the finer grid for every command, colour keywords and the
matplotlib helper."""

import numpy as np
import pytest

import flowloom

xr = pytest.importorskip("xarray")


def _globe(south_first):
    """A 16 x 32 wind on a CF latitude/longitude grid, stored south or north first."""
    lat = np.linspace(-75.0, 75.0, 16)
    lon = np.arange(32) * 11.25
    y, x = np.meshgrid(lat, lon, indexing="ij")
    u = (12 + 6 * np.cos(np.radians(2 * x)) * np.cos(np.radians(y))).astype(np.float32)
    v = (4 * np.sin(np.radians(3 * y)) * np.sin(np.radians(x))).astype(np.float32)
    order = slice(None) if south_first else slice(None, None, -1)
    coords = {"lat": ("lat", lat[order], {"units": "degrees_north"}),
              "lon": ("lon", lon, {"units": "degrees_east"})}
    return (xr.DataArray(u[order], dims=("lat", "lon"), coords=coords),
            xr.DataArray(v[order], dims=("lat", "lon"), coords=coords))


def test_cf_fields_are_geographic_by_default_whatever_their_row_order():
    south = _globe(True)
    north = _globe(False)
    picture = flowloom.lic(*south, seed=3)
    assert np.array_equal(picture.values, flowloom.lic(*north, seed=3).values)
    assert np.array_equal(picture.values, flowloom.lic(*south, seed=3, coordinates="geographic").values)
    # Drawn north at the top, so the result's latitudes fall down the rows.
    assert picture.lat.values[0] > picture.lat.values[-1]
    assert not np.array_equal(picture.values, flowloom.lic(*south, seed=3, coordinates="index").values)
    # Plain arrays have no coordinates: auto is index, today's picture.
    u, v = flowloom.analytic_field("vortex", 40, 30)
    assert np.array_equal(flowloom.lic(u, v), flowloom.lic(u, v, coordinates="index"))
    with pytest.raises(ValueError, match="coordinates must be one of"):
        flowloom.lic(u, v, coordinates=3)


def test_every_command_draws_on_the_finer_grid():
    u, v = flowloom.analytic_field("spiralling", 20, 14)
    assert np.array_equal(flowloom.enhance(u, v, seed=2), flowloom.enhance(u, v, seed=2, scale=1))
    assert flowloom.enhance(u, v, scale=3).shape == (42, 60)
    frames = flowloom.animation(u, v, frames=8, scale=2)
    assert frames.shape == (8, 28, 40)
    assert np.array_equal(flowloom.animation(u, v, frames=8), flowloom.animation(u, v, frames=8, scale=1))
    # A colour scalar follows the field onto the finer grid: a constant one colours evenly.
    grey = np.full((28, 40), 255, np.uint8)
    flat = flowloom.colorize(grey, u, v, scalar=np.full(u.shape, 7.0), cmap="viridis", vmin=0, vmax=14, scale=2)
    assert flat.shape == (28, 40, 3) and (flat == flat[0, 0]).all()


def test_orientation_pictures_ignore_the_signs_on_the_finer_grid_too():
    rng = np.random.default_rng(4)
    u, v = flowloom.analytic_field("vortex", 24, 18)
    flip = np.where(rng.random(u.shape) < 0.5, -1.0, 1.0).astype(np.float32)
    for command in (flowloom.lic, flowloom.animation):
        a = command(u, v, orientation=True, scale=2)
        b = command(u * flip, v * flip, orientation=True, scale=2)
        assert np.array_equal(a, b), command.__name__


def test_contrast_keywords_colour_the_contrasted_grey():
    u, v = flowloom.analytic_field("saddle", 48, 32)
    grey = flowloom.lic(u, v, seed=1)
    assert np.array_equal(flowloom.colorize(grey, u, v, stretch=(2, 98)),
                          flowloom.colorize(flowloom.stretch(grey, 2, 98), u, v))
    assert np.array_equal(flowloom.colorize(grey, u, v, clahe=(4, 0.02)),
                          flowloom.colorize(flowloom.clahe(grey, 4, 0.02), u, v))
    for wrong in (dict(stretch=(50, 10)), dict(clahe=(0, 0.01)), dict(stretch=(1, 99), clahe=(8, 0.01))):
        with pytest.raises(ValueError):
            flowloom.colorize(grey, u, v, **wrong)


def test_plot_places_the_picture_and_its_true_values():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    u, v = _globe(True)
    scalar = xr.DataArray(np.add.outer(np.arange(16.0), np.arange(32.0) / 4), dims=u.dims, coords=u.coords)
    for norm in ("linear", "log", "decades"):
        fig, ax = plt.subplots()
        mappable = flowloom.plot(ax, u, v, scalar=scalar + 1, cmap="viridis", norm=norm, blend="overlay", alpha=0.0)
        fig.colorbar(mappable, ax=ax)
        fig.canvas.draw()
        image = ax.get_images()[0]
        left, right, bottom, top = image.get_extent()
        # Longitudes 0..348.75 every 11.25: edges half a cell out; north is on top.
        assert (left, right) == (-5.625, 354.375) and top == 80.0 and bottom == -80.0
        picture = np.asarray(image.get_array())
        # The picture's rows run north to south; the scalar was stored south first.
        values = (scalar.values + 1)[::-1]
        for row, col in ((0, 0), (5, 17), (15, 31), (9, 2)):
            expected = np.array(mappable.to_rgba(values[row, col], bytes=True)[:3], int)
            assert np.abs(picture[row, col].astype(int) - expected).max() <= 4, (norm, row, col)
        plt.close(fig)
    fig, ax = plt.subplots()
    assert flowloom.plot(ax, u, v, by="direction") is None
    plt.close(fig)
