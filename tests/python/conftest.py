import os
import shutil
import subprocess

import numpy as np
import pytest

import flowloom

RENDER = os.environ.get("FLOWLOOM_RENDER") or shutil.which("flowloom-render")


@pytest.fixture
def render(tmp_path):
    """Runs flowloom-render with the given options and returns its picture as RGB."""
    if not RENDER:
        pytest.skip("flowloom-render not found (set FLOWLOOM_RENDER)")

    def run(*options, out="render.bmp"):
        path = tmp_path / out
        subprocess.run([RENDER, *options, "-o", str(path)], check=True, capture_output=True)
        return flowloom.read_image(path) if out.endswith(".bmp") else path

    return run


@pytest.fixture
def vortex(tmp_path, render):
    """A 160 x 120 vortex field as the engine writes it, and the path of its .vec file."""
    path = tmp_path / "vortex.vec"
    render("--field", "vortex", "--size", "160x120", "--save-field", str(path))
    u, v = flowloom.read_vec(path)
    return u, v, str(path)


def masked(u, v):
    """The field with a block of NaN across the middle (crossing any chunk border)."""
    u = u.copy()
    u[40:75, 30:130] = np.nan
    return u, v
