"""The README's Python code blocks run as written, from the top of a fresh source tree."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

import flowloom

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)


def python_blocks():
    return BLOCK.findall((SOURCE / "README.md").read_text(encoding="utf-8"))


def test_the_readme_has_python_blocks():
    assert python_blocks(), "README.md has no ```python block"


@pytest.mark.parametrize("index", range(len(python_blocks())))
def test_a_readme_block_runs(index, tmp_path):
    # A copy of what a fresh clone holds at its top, so that what the block writes stays
    # out of the source tree and what it reads is only what is shipped.
    (tmp_path / "samples").symlink_to(SOURCE / "samples")
    script = tmp_path / f"block{index}.py"
    script.write_text(python_blocks()[index], encoding="utf-8")
    # The package this suite tests, wherever a relative PYTHONPATH pointed from here.
    env = dict(os.environ)
    paths = [str(pathlib.Path(flowloom.__file__).resolve().parents[1])]
    paths += [os.path.abspath(p) for p in env.get("PYTHONPATH", "").split(os.pathsep) if p]
    env["PYTHONPATH"] = os.pathsep.join(paths)
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 0, run.stderr
