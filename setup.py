"""Builds talvo._core with CMake (the project's own build of the module) and
puts it, with the package's data files, into the package. The rest of the
package's description is in pyproject.toml."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = pathlib.Path(__file__).resolve().parent
# Where setuptools and CMake build: build-python/ unless TALVO_PYTHON_BUILD_DIR
# names another folder (the tests give each build tree its own).
BUILD = pathlib.Path(os.environ.get("TALVO_PYTHON_BUILD_DIR") or ROOT / "build-python")
# The data files the package carries (the same list as python/CMakeLists.txt).
DATA = ["at_weights.dat", "it_neutral.foqdat", "neutron_sears92.tsv", "sears.ascii", "sears91.dat",
        "wk_neutral.foqdat", "README.md"]


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(talvo VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    """Configures and builds the target talvo_python for this interpreter."""

    def build_extension(self, ext):
        build = BUILD / "cmake"
        package = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DTALVO_BUILD_TESTS=OFF",
            "-DTALVO_BUILD_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}",
            f"-DTALVO_PYTHON_PACKAGE_DIR={build / 'package'}",
        ]
        # pybind11 from the package index (pip's isolated build) keeps its CMake files inside the Python
        # package; Debian's pybind11-dev puts them where CMake looks by itself.
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "talvo_python", "-j", jobs], check=True)
        built = next((build / "package").glob("_core*.so"))
        package.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, self.get_ext_fullpath(ext.name))


class BuildPy(build_py):
    """Copies the data files into the package's data folder."""

    def run(self):
        super().run()
        data = pathlib.Path(self.build_lib) / "talvo" / "data"
        data.mkdir(parents=True, exist_ok=True)
        for name in DATA:
            shutil.copy2(ROOT / "data" / name, data / name)


setup(
    version=version(),
    ext_modules=[Extension("talvo._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "build_py": BuildPy},
    # Out of the way of CMake's own build/ folder.
    options={"build": {"build_base": str(BUILD)}},
)
