"""Builds the extension vorncalc._vorncalc with the project's CMake files, for
the Python that runs this (its NumPy and pybind11), and puts it into the
package; pyproject.toml holds everything else."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(vorncalc VERSION ([0-9.]+)", text).group(1)


def pybind11_arguments():
    try:
        import pybind11
    except ImportError:  # CMake looks where pybind11-dev installs it
        return []
    return [f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"]


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(
            ["cmake", "-S", str(SOURCE), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
             f"-DPython_EXECUTABLE={sys.executable}", *pybind11_arguments(), "-DVORNCALC_BUILD_PYTHON=ON",
             "-DVORNCALC_BUILD_TESTS=OFF", "-DVORNCALC_BUILD_TOOLS=OFF", "-DVORNCALC_INSTALL=OFF"],
            check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "vorncalc_python", "-j", jobs], check=True)
        built = next((build / "python" / "vorncalc").glob("_vorncalc.*"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    ext_modules=[Extension("vorncalc._vorncalc", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
