"""Everything else is in pyproject.toml. This only marks the wheel as platform-specific when it
carries a copy of the library, so that it is never taken for a pure-Python wheel."""

import os

from setuptools import setup
from setuptools.dist import Distribution

CARRIED_LIBRARIES = ("liboscnet.so", "liboscnet.dylib", "oscnet.dll", "liboscnet.dll")
PACKAGE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "oscnet")


class CarriedLibraryDistribution(Distribution):
    def has_ext_modules(self):
        return any(os.path.isfile(os.path.join(PACKAGE_DIR, name)) for name in CARRIED_LIBRARIES)


setup(distclass=CarriedLibraryDistribution)
