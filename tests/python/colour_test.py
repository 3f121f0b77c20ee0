import numpy as np
import pytest

import flowloom


@pytest.fixture
def small():
    """A 24 x 32 vortex, its LIC, and a scalar with two masked samples."""
    u, v = flowloom.analytic_field("vortex", 32, 24)
    grey = flowloom.lic(u, v, seed=5)
    scalar = np.add.outer(np.arange(24.0), np.arange(32.0)).astype(np.float32)
    scalar[3, 4] = np.nan
    scalar[10, 20] = np.inf
    return u, v, grey, scalar


def _table_colours(scalar, name):
    """The table entry of each sample under a linear norm over the finite range, as 0..1."""
    table = flowloom._core.color_table(name).astype(np.float64) / 255.0
    finite = np.isfinite(scalar)
    lo, hi = scalar[finite].min(), scalar[finite].max()
    t = np.where(finite, (scalar - lo) / (hi - lo), 0.0)
    return table[np.clip(np.floor(t * 256), 0, 255).astype(int)], finite


def test_blends_against_a_direct_computation(small):
    u, v, grey, scalar = small
    c, finite = _table_colours(scalar, "viridis")
    g = grey.astype(np.float64)[..., None]
    mask = np.array([10, 20, 30], np.uint8)

    multiply = flowloom.colorize(grey, u, v, scalar=scalar, cmap="viridis", mask_color=tuple(mask))
    expected = np.trunc(g * c).astype(np.uint8)
    expected[~finite] = mask
    assert np.abs(multiply.astype(int) - expected).max() <= 1

    a = 0.3
    overlay = flowloom.colorize(grey, u, v, scalar=scalar, cmap="viridis", blend="overlay", alpha=a)
    expected = np.trunc((1 - a) * 255 * c + a * g).astype(np.uint8)
    expected[~finite] = 0
    assert np.abs(overlay.astype(int) - expected).max() <= 1


def test_bounds_and_percentiles_move_the_colours(small):
    u, v, grey, scalar = small
    plain = flowloom.colorize(grey, u, v, scalar=scalar, cmap="grey")
    bounded = flowloom.colorize(grey, u, v, scalar=scalar, cmap="grey", vmin=10, vmax=20)
    clipped = flowloom.colorize(grey, u, v, scalar=scalar, cmap="grey", percentiles=(0, 100))
    assert np.array_equal(plain, clipped)
    # Everything at or above vmax takes the top of the map: the grey itself under multiply.
    top = np.isfinite(scalar) & (scalar >= 20)
    assert np.array_equal(bounded[top][:, 0], grey[top])
    assert not np.array_equal(plain, bounded)


def test_without_options_the_picture_is_the_default(small):
    u, v, grey, _ = small
    default = flowloom.colorize(grey, u, v)
    assert np.array_equal(default, flowloom.colorize(grey, u, v, cmap="rainbow", blend="multiply", alpha=0.5))
    assert np.array_equal(default, flowloom.colorize(grey, u, v, norm="decades"))
    u = u.copy()
    u[0, 0] = np.nan
    masked = flowloom.colorize(grey, u, v, mask_color=(255, 0, 128))
    assert list(masked[0, 0]) == [255, 0, 128]
    assert np.array_equal(masked[1:], flowloom.colorize(grey, u, v)[1:])


@pytest.mark.parametrize(
    "options, error",
    [
        (dict(cmap="jet"), ValueError),
        (dict(norm="log", vmax=0.0), ValueError),
        (dict(norm="log", vmin=-1.0, vmax=5.0), ValueError),
        (dict(vmin=3.0, vmax=3.0), ValueError),
        (dict(percentiles=(-1, 50)), ValueError),
        (dict(percentiles=(90, 10)), ValueError),
        (dict(alpha=1.5, blend="overlay"), ValueError),
        (dict(blend="screen"), ValueError),
        (dict(mask_color=(0, 0, 256)), ValueError),
        (dict(scalar=np.zeros((3, 3))), ValueError),
        (dict(scalar=np.zeros((24, 32)), by="direction"), ValueError),
        (dict(norm="decades", vmin=1.0), ValueError),
        (dict(vmin="low"), TypeError),
    ],
)
def test_refusals(small, options, error):
    u, v, grey, _ = small
    with pytest.raises(error):
        flowloom.colorize(grey, u, v, **options)


def test_log_of_a_scalar_with_no_positive_value_is_masked_not_wrong(small):
    u, v, grey, _ = small
    negative = -np.ones(u.shape, np.float32)
    picture = flowloom.colorize(grey, u, v, scalar=negative, norm="log", vmin=1.0, vmax=10.0, mask_color=(1, 2, 3))
    assert (picture == np.array([1, 2, 3], np.uint8)).all()


def test_colormaps_equal_matplotlib():
    matplotlib = pytest.importorskip("matplotlib")
    for name in flowloom.SETTINGS["cmap"]["choices"]:
        ours = flowloom.colormap(name)
        assert ours.N == 256
        if name in ("rainbow", "grey"):
            continue
        theirs = matplotlib.colormaps[name].resampled(256)(np.arange(256))[:, :3]
        assert np.abs(ours(np.arange(256))[:, :3] - theirs).max() <= 1.0 / 255 + 1e-9, name
    grey = flowloom.colormap("grey")(np.arange(256))[:, :3]
    assert np.allclose(grey, np.repeat(np.arange(256)[:, None] / 255.0, 3, axis=1), atol=1.0 / 255)
    with pytest.raises(ValueError):
        flowloom.colormap("jet")


def test_stretch_and_clahe():
    rng = np.random.default_rng(1)
    grey = rng.integers(100, 156, size=(64, 48), dtype=np.uint8)
    stretched = flowloom.stretch(grey, 0, 100)
    assert stretched.min() == 0 and stretched.max() == 255
    assert (np.diff(stretched.ravel()[np.argsort(grey.ravel(), kind="stable")].astype(int)) >= 0).all()
    assert np.array_equal(flowloom.stretch(np.full((4, 4), 7, np.uint8), 1, 99), np.full((4, 4), 7, np.uint8))

    before = grey.copy()
    equalised = flowloom.clahe(grey, tiles=4, clip=0.02)
    assert equalised.shape == grey.shape and equalised.dtype == np.uint8
    assert equalised.std() > grey.std()
    assert np.array_equal(grey, before)
    for bad in (lambda: flowloom.clahe(grey, tiles=0), lambda: flowloom.stretch(grey, 50, 10),
                lambda: flowloom.stretch(grey, -5, 90)):
        with pytest.raises(ValueError):
            bad()
    with pytest.raises(TypeError):
        flowloom.clahe(grey.astype(np.float32))
