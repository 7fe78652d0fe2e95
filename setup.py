"""The build step behind `pip install .`: the extension module comes from the project's own
CMake build (Release, no tests), configured for the interpreter that runs pip, and is
copied to where setuptools packs it. The version is the CMake project's."""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake_lists:
        found = re.search(r"project\(\s*velmar_codec\s+VERSION\s+([0-9.]+)", cmake_lists.read())
    if not found:
        raise RuntimeError("no VERSION in the project() call of CMakeLists.txt")
    return found.group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                     "-DVELMAR_PYTHON=" + sys.executable, "-DBUILD_TESTING=OFF"]
        subprocess.run(configure, check=True)
        # VELMAR_JOBS is the project scripts' one setting of parallelism (scripts/lib.sh).
        jobs = os.environ.get("VELMAR_JOBS") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", build_dir, "--target", ext.name, "-j", jobs],
                       check=True)
        built = os.path.join(build_dir, "src", "module", os.path.basename(
            self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


# The module's types travel as PEP 561's stub-only package: a single extension module has no
# package folder for a py.typed marker, and type checkers read <name>-stubs in its place.
STUBS = "velmar_codec-stubs"

setup(version=project_version(), ext_modules=[CMakeExtension("velmar_codec")],
      packages=[STUBS], package_data={STUBS: ["__init__.pyi"]},
      cmdclass={"build_ext": CMakeBuild})
