"""Finding and loading the library, the package version, and the diagnostic export."""

import ctypes.util
import os
import re
import subprocess
import sys
import tempfile
import unittest

import _ctypes

import oscnet
from oscnet import _library

from .support import LibraryTestCase

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEADER = os.path.join(PYTHON_DIR, os.pardir, "include", "oscnet.h")


class FindLibraryTest(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.dir = directory.name
        self.real = _library.library_path()

    def test_a_missing_configured_file_is_an_error_naming_it(self):
        missing = os.path.join(self.dir, "no-such-liboscnet.so")
        with self.assertRaises(oscnet.OscnetError) as caught:
            # A build tree holding a usable library must not be used instead.
            _library.find_library({"OSCNET_LIBRARY": missing}, build_dir=os.path.dirname(self.real))
        self.assertIn(missing, str(caught.exception))
        self.assertIn("OSCNET_LIBRARY", str(caught.exception))

    def test_an_unloadable_configured_file_is_an_error_naming_it(self):
        not_a_library = os.path.join(self.dir, "liboscnet.so")
        with open(not_a_library, "w") as stream:
            stream.write("not a shared library\n")
        with self.assertRaisesRegex(oscnet.OscnetError, re.escape(not_a_library)):
            _library.find_library({"OSCNET_LIBRARY": not_a_library})

    def test_a_library_without_the_exports_is_refused(self):
        # Python's own _ctypes extension is a shared library that exports none of them.
        with self.assertRaisesRegex(oscnet.OscnetError, "does not export build_net"):
            _library.find_library({"OSCNET_LIBRARY": _ctypes.__file__})

    def test_the_configured_file_is_used(self):
        path, library = _library.find_library({"OSCNET_LIBRARY": self.real})
        self.assertEqual(path, os.path.abspath(self.real))
        self.assertIs(library.build_net.restype, ctypes.c_bool)

    @unittest.skipUnless(hasattr(os, "symlink") and sys.platform.startswith("linux"), "Linux")
    def test_the_build_tree_is_searched_with_its_configuration_folders(self):
        os.mkdir(os.path.join(self.dir, "Release"))
        link = os.path.join(self.dir, "Release", "liboscnet.so")
        os.symlink(os.path.abspath(self.real), link)
        path, _ = _library.find_library({}, build_dir=self.dir)
        self.assertEqual(path, link)
        # An empty OSCNET_LIBRARY counts as unset.
        path, _ = _library.find_library({"OSCNET_LIBRARY": ""}, build_dir=self.dir)
        self.assertEqual(path, link)

    @unittest.skipIf(ctypes.util.find_library("oscnet"), "an oscnet library is installed")
    def test_nothing_found_says_where_it_looked_and_how_to_fix_it(self):
        # In a process of its own: where the library is loaded already, the loader hands it
        # out for its plain name.
        script = (
            "import sys\n"
            "from oscnet import _library\n"
            "try:\n"
            "    _library.find_library({}, build_dir=sys.argv[1])\n"
            "except _library.OscnetError as error:\n"
            "    print(error)\n"
            "else:\n"
            "    print('found')\n"
        )
        environment = dict(os.environ, PYTHONPATH=PYTHON_DIR)
        environment.pop("LD_LIBRARY_PATH", None)
        result = subprocess.run(
            [sys.executable, "-c", script, self.dir],
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(os.path.join(self.dir, "Debug", _library._file_names()[0]), result.stdout)
        self.assertIn("set OSCNET_LIBRARY", result.stdout)

    def test_a_process_with_a_wrong_setting_fails_clearly(self):
        missing = os.path.join(self.dir, "gone", "liboscnet.so")
        environment = dict(os.environ, OSCNET_LIBRARY=missing, PYTHONPATH=PYTHON_DIR)
        result = subprocess.run(
            [sys.executable, "-c", "import oscnet; oscnet.Network().build(1, 1, [(1, 'relu')])"],
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
        )
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("oscnet.OscnetError", result.stderr)
        self.assertIn(missing, result.stderr)

    def test_the_platform_file_names(self):
        self.assertEqual(_library._file_names("linux"), ("liboscnet.so",))
        self.assertEqual(_library._file_names("darwin"), ("liboscnet.dylib",))
        self.assertEqual(_library._file_names("win32"), ("oscnet.dll", "liboscnet.dll"))


class VersionTest(unittest.TestCase):
    @unittest.skipUnless(os.path.isfile(HEADER), "no include/oscnet.h next to the package")
    def test_the_package_version_is_the_headers(self):
        with open(HEADER, encoding="utf-8") as stream:
            found = re.search(r'#define OSCNET_VERSION_STRING "([^"]+)"', stream.read())
        self.assertEqual(oscnet.__version__, found.group(1))


class MyAddTest(LibraryTestCase):
    def test_prints_and_subtracts_with_wrapping(self):
        with tempfile.TemporaryFile() as captured:
            sys.stdout.flush()
            saved = os.dup(1)
            try:
                os.dup2(captured.fileno(), 1)
                results = (oscnet.my_add(2, 5), oscnet.my_add(-(2**31), 1))
            finally:
                os.dup2(saved, 1)
                os.close(saved)
            captured.seek(0)
            printed = captured.read().decode()
        self.assertEqual(results, (-3, 2**31 - 1))
        self.assertEqual(printed.splitlines(), ["I am here!", "I am here!"])
