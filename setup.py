"""Builds the extension module `flowloom._core` with the project's CMake.

The metadata is in pyproject.toml; this file only drives CMake, building the one target of
the Python package in its own build directory and placing the module into the wheel.
"""

import os
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                     "-DFLOWLOOM_TESTS=OFF", "-DFLOWLOOM_BENCH=OFF",
                     "-DFLOWLOOM_APP=OFF", "-DFLOWLOOM_TOOLS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"]
        if not (build_dir / "CMakeCache.txt").exists() and subprocess.run(["which", "ninja"],
                                                                          capture_output=True).returncode == 0:
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "flowloom_python_core", "-j", jobs],
                       check=True)
        built = next((build_dir / "python" / "flowloom").glob("_core*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(ext_modules=[Extension("flowloom._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
