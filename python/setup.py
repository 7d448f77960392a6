"""Builds the compiled part of init_bicluster from the library's own sources.

The sources are the repository's src/, reached through the link csrc (a
source distribution holds them as files). The version is the library's, read
from the top CMakeLists.txt in a checkout, or from the version header made
for a source distribution.
"""
import os
import re

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = os.path.join("csrc")
# Every source of the library: all but the tool's main.
LIBRARY = sorted(name[:-3] for name in os.listdir(os.path.join(HERE, SOURCES))
                 if name.endswith(".cc") and name != "main.cc")
GENERATED = os.path.join("build", "generated")


def version():
    cmake = os.path.join(HERE, "..", "CMakeLists.txt")
    if os.path.exists(cmake):
        with open(cmake, encoding="utf-8") as file:
            return re.search(r"project\(init_bicluster VERSION (\S+)", file.read()).group(1)
    with open(os.path.join(HERE, "PKG-INFO"), encoding="utf-8") as file:
        return re.search(r"^Version: (\S+)", file.read(), re.M).group(1)


def make_version_header(number):
    """The library's version header, made from its template."""
    major, minor, patch = number.split(".")
    with open(os.path.join(HERE, SOURCES, "init_bicluster_version.h.in"), encoding="utf-8") as file:
        text = file.read()
    for key, value in (("@PROJECT_VERSION@", number), ("@PROJECT_VERSION_MAJOR@", major),
                       ("@PROJECT_VERSION_MINOR@", minor), ("@PROJECT_VERSION_PATCH@", patch)):
        text = text.replace(key, value)
    os.makedirs(os.path.join(HERE, GENERATED), exist_ok=True)
    with open(os.path.join(HERE, GENERATED, "init_bicluster_version.h"), "w",
              encoding="utf-8") as file:
        file.write(text)


VERSION = version()
make_version_header(VERSION)

setup(
    version=VERSION,
    ext_modules=[Pybind11Extension(
        "init_bicluster._core",
        ["src/core.cpp"] + [os.path.join(SOURCES, name + ".cc") for name in LIBRARY],
        include_dirs=[SOURCES, GENERATED],
        cxx_std=20,
        extra_compile_args=["-Wno-maybe-uninitialized"],
    )],
    cmdclass={"build_ext": build_ext},
)
