"""Finding and loading the library, the package version, and the diagnostic export."""

import ctypes.util
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import unittest

import _ctypes

import oscnet
from oscnet import _library

from .support import LibraryTestCase

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEADER = os.path.join(PYTHON_DIR, os.pardir, "include", "oscnet.h")
PYPROJECT = os.path.join(PYTHON_DIR, "pyproject.toml")


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

    @unittest.skipUnless(shutil.which("cc") and sys.platform.startswith("linux"), "needs cc")
    def test_a_library_without_the_network_handles_is_refused(self):
        # What a library of an earlier version exports: the eight functions, no handles.
        source = os.path.join(self.dir, "older.c")
        with open(source, "w") as stream:
            for name in ("build_net", "train", "Predict", "release_net", "oscnet_param_count",
                         "oscnet_get_params", "oscnet_set_params", "myAdd"):
                stream.write(f"void {name}(void) {{}}\n")
        older = os.path.join(self.dir, "liboscnet.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", older, source], check=True, timeout=60)
        with self.assertRaises(oscnet.OscnetError) as caught:
            _library.find_library({"OSCNET_LIBRARY": older})
        message = str(caught.exception)
        self.assertIn("oscnet_create", message)
        self.assertIn("oscnet_last_error", message)
        self.assertNotIn("build_net", message)

    def test_the_configured_file_is_used(self):
        path, library = _library.find_library({"OSCNET_LIBRARY": self.real})
        self.assertEqual(path, os.path.abspath(self.real))
        self.assertIs(library.build_net.restype, ctypes.c_bool)
        self.assertIs(library.oscnet_create.restype, _library.NETWORK_P)

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
            "    _library.find_library({}, build_dir=sys.argv[1], package_dir=sys.argv[1],\n"
            "                          prefixes=[sys.argv[1]])\n"
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
        name = _library._file_names()[0]
        self.assertIn(os.path.join(self.dir, "Debug", name), result.stdout)
        self.assertIn(os.path.join(self.dir, name), result.stdout)  # the carried copy
        self.assertIn(os.path.join(self.dir, "lib64", name), result.stdout)  # an installed one
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


def _link(target, *parts):
    """A symbolic link at os.path.join(*parts) (its folders made) to `target`."""
    path = os.path.join(*parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(os.path.abspath(target), path)
    return path


def _junk(*parts):
    path = os.path.join(*parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as stream:
        stream.write("not a shared library\n")
    return path


@unittest.skipUnless(hasattr(os, "symlink") and sys.platform.startswith("linux"), "Linux")
class SearchOrderTest(unittest.TestCase):
    """The places after OSCNET_LIBRARY, each one made up in a temporary folder."""

    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.dir = directory.name
        self.real = _library.library_path()
        self.package = os.path.join(self.dir, "package")
        self.build = os.path.join(self.dir, "build")
        os.makedirs(self.package)

    def find(self, prefixes=()):
        return _library.find_library(
            {}, build_dir=self.build, package_dir=self.package, prefixes=list(prefixes)
        )

    def test_the_carried_copy_comes_before_the_build_tree(self):
        _link(self.real, self.build, "liboscnet.so")
        carried = _link(self.real, self.package, "liboscnet.so")
        self.assertEqual(self.find()[0], carried)

    def test_a_carried_copy_that_does_not_load_is_an_error(self):
        broken = _junk(self.package, "liboscnet.so")
        _link(self.real, self.build, "liboscnet.so")
        with self.assertRaisesRegex(oscnet.OscnetError, re.escape(broken)):
            self.find()

    def test_an_installed_copy_is_found_under_each_library_folder(self):
        multiarch = sysconfig.get_config_var("MULTIARCH")
        library_dirs = ["lib", "lib64"] + ([os.path.join("lib", multiarch)] if multiarch else [])
        for library_dir in library_dirs:
            with self.subTest(library_dir), tempfile.TemporaryDirectory() as prefix:
                installed = _link(self.real, prefix, library_dir, "liboscnet.so")
                self.assertEqual(self.find([os.path.join(self.dir, "empty"), prefix])[0], installed)

    def test_the_build_tree_comes_before_an_installed_copy(self):
        built = _link(self.real, self.build, "Debug", "liboscnet.so")
        _link(self.real, self.dir, "prefix", "lib", "liboscnet.so")
        self.assertEqual(self.find([os.path.join(self.dir, "prefix")])[0], built)

    def test_an_installed_copy_that_does_not_load_is_passed_over(self):
        first = os.path.join(self.dir, "first")
        _junk(first, "lib", "liboscnet.so")
        installed = _link(self.real, self.dir, "second", "lib", "liboscnet.so")
        self.assertEqual(self.find([first, os.path.join(self.dir, "second")])[0], installed)

    def test_the_interpreters_prefix_is_searched_first(self):
        prefixes = _library._default_prefixes()
        self.assertEqual(prefixes[0], os.path.normpath(sys.prefix))
        self.assertIn("/usr/local", prefixes)
        self.assertIn("/usr", prefixes)
        self.assertEqual(len(prefixes), len(set(prefixes)))

    def test_an_installed_package_has_no_build_tree(self):
        # A copy of the package away from the source tree, imported in a process of its own.
        package_dir = os.path.dirname(os.path.abspath(oscnet.__file__))
        shutil.copytree(
            package_dir,
            os.path.join(self.package, "oscnet"),
            ignore=shutil.ignore_patterns("__pycache__", "*.so", "*.dylib", "*.dll"),
        )
        script = "from oscnet import _library; print(_library._BUILD_DIR)"
        environment = dict(os.environ, PYTHONPATH=self.package)
        result = subprocess.run(
            [sys.executable, "-c", script],
            cwd=self.dir,  # not the source tree, which "-c" would put first on the path
            env=environment,
            capture_output=True,
            text=True,
            timeout=60,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "None")
        if os.path.dirname(package_dir) == PYTHON_DIR:
            # In the source tree it is the build folder at the top.
            top = os.path.dirname(PYTHON_DIR)
            self.assertEqual(_library._BUILD_DIR, os.path.join(top, "build"))


def _header_version():
    with open(HEADER, encoding="utf-8") as stream:
        return re.search(r'#define OSCNET_VERSION_STRING "([^"]+)"', stream.read()).group(1)


class VersionTest(unittest.TestCase):
    @unittest.skipUnless(os.path.isfile(HEADER), "no include/oscnet.h next to the package")
    def test_the_package_version_is_the_headers(self):
        self.assertEqual(oscnet.__version__, _header_version())

    @unittest.skipUnless(os.path.isfile(HEADER), "no include/oscnet.h next to the package")
    @unittest.skipUnless(os.path.isfile(PYPROJECT), "no pyproject.toml next to the tests")
    @unittest.skipUnless(importlib.util.find_spec("setuptools"), "setuptools is not installed")
    def test_the_distribution_version_is_the_headers(self):
        # Asked of setuptools itself, as pip building the package would, in a copy of the
        # project so that nothing is written beside the sources.
        with tempfile.TemporaryDirectory() as project:
            for name in ("pyproject.toml", "setup.py", "README.md"):
                shutil.copy(os.path.join(PYTHON_DIR, name), project)
            shutil.copytree(
                os.path.join(PYTHON_DIR, "oscnet"),
                os.path.join(project, "oscnet"),
                ignore=shutil.ignore_patterns("__pycache__", "*.so", "*.dylib", "*.dll"),
            )
            result = subprocess.run(
                [sys.executable, "setup.py", "--version"],
                cwd=project,
                capture_output=True,
                text=True,
                timeout=120,
            )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.split()[-1], _header_version())


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
