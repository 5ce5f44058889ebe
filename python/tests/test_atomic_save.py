"""Saving replaces the file as a whole: whatever goes wrong, the old file stays as it was and
no temporary file is left beside it."""

import errno
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

from oscnet import _atomic_file

from .support import LibraryTestCase, build_hand_worked, child_environment, oscnet

# A child that saves a network of about 170 KB over `path` with whatever limits it was given,
# and says how that went.
SAVE_BIG_NETWORK = """
import json, resource, signal, sys
import oscnet
path, file_limit = sys.argv[1], int(sys.argv[2])
net = oscnet.Network().build(40, 3, [(200, "tanh")], seed=3)
if file_limit:
    # Without this a write past the limit kills the process instead of failing.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, resource.RLIM_INFINITY))
try:
    net.save(path)
    print(json.dumps({"saved": True}))
except OSError as error:
    print(json.dumps({"saved": False, "errno": error.errno, "filename": error.filename}))
"""

# The same on a 32 KiB tmpfs mounted over `directory` in a mount namespace of its own: the
# good file is written there first, and everything is checked inside, where the mount is seen.
SAVE_ON_FULL_DISK = """
import hashlib, json, os, subprocess, sys
directory = sys.argv[1]
import oscnet
good = oscnet.Network().build(2, 1, [(2, "relu")], seed=1)
path = os.path.join(directory, "net.json")
good.save(path)
before = open(path, "rb").read()
try:
    oscnet.Network().build(40, 3, [(200, "tanh")], seed=3).save(path)
    error = None
except OSError as failure:
    error = failure.errno
print(json.dumps({"errno": error, "same": open(path, "rb").read() == before,
                  "files": sorted(os.listdir(directory)),
                  "loads": oscnet.Network.load(path).get_params() == good.get_params()}))
"""


class AtomicSaveTest(LibraryTestCase):
    def setUp(self):
        super().setUp()
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.dir = directory.name
        self.path = os.path.join(self.dir, "net.json")

    def save_good_file(self):
        with build_hand_worked(oscnet.Network()) as net:
            net.save(self.path)
        with open(self.path, "rb") as stream:
            return stream.read()

    def assert_untouched(self, contents):
        with open(self.path, "rb") as stream:
            self.assertEqual(stream.read(), contents)
        self.assertEqual(os.listdir(self.dir), ["net.json"], "a temporary file was left")

    def test_a_file_size_limit_leaves_the_old_file_intact(self):
        contents = self.save_good_file()
        self.assertLess(len(contents), 4096)
        child = subprocess.run(
            [sys.executable, "-c", SAVE_BIG_NETWORK, self.path, "4096"],
            env=child_environment(),
            capture_output=True,
            text=True,
            timeout=120,
            check=False,
        )
        self.assertEqual(child.returncode, 0, child.stderr)
        outcome = json.loads(child.stdout)
        self.assertEqual(outcome, {"saved": False, "errno": errno.EFBIG, "filename": self.path})
        self.assert_untouched(contents)
        # Without the limit the same save goes through: the limit was what stopped it.
        child = subprocess.run(
            [sys.executable, "-c", SAVE_BIG_NETWORK, self.path, "0"],
            env=child_environment(),
            capture_output=True,
            text=True,
            timeout=120,
            check=False,
        )
        self.assertEqual(json.loads(child.stdout), {"saved": True}, child.stderr)
        self.assertEqual(oscnet.Network.load(self.path).inputs, 40)

    def test_a_full_disk_leaves_the_old_file_intact(self):
        reason = None
        if not hasattr(os, "geteuid") or os.geteuid() != 0:
            reason = "mounting a small tmpfs needs root"
        elif shutil.which("unshare") is None:
            reason = "no unshare command"
        elif subprocess.run(["unshare", "-m", "true"], capture_output=True, check=False).returncode:
            reason = "no mount namespaces here (unshare -m failed)"
        if reason is not None:
            print(f"\nfull-disk save test skipped: {reason}", file=sys.stderr)
            self.skipTest(reason)
        script = (
            'mount -t tmpfs -o size=32k oscnet-full-disk "$1" || exit 77; '
            'exec "$2" -c "$3" "$1"'
        )
        child = subprocess.run(
            ["unshare", "-m", "sh", "-c", script, "sh", self.dir, sys.executable]
            + [SAVE_ON_FULL_DISK],
            env=child_environment(),
            capture_output=True,
            text=True,
            timeout=120,
            check=False,
        )
        if child.returncode == 77:
            print("\nfull-disk save test skipped: cannot mount a tmpfs", file=sys.stderr)
            self.skipTest("cannot mount a tmpfs")
        self.assertEqual(child.returncode, 0, child.stderr)
        outcome = json.loads(child.stdout)
        self.assertEqual(
            outcome, {"errno": errno.ENOSPC, "same": True, "files": ["net.json"], "loads": True}
        )

    def test_a_failure_while_writing_leaves_the_old_file_intact(self):
        contents = self.save_good_file()
        net = oscnet.Network().build(3, 2, [(8, "tanh")], seed=2)
        self.addCleanup(net.release)
        failures = (
            (OSError(errno.EIO, "I/O error"), OSError),
            (KeyboardInterrupt, KeyboardInterrupt),
        )
        for failure, caught in failures:
            with self.subTest(failure=failure):
                with mock.patch.object(_atomic_file.os, "fsync", side_effect=failure):
                    with self.assertRaises(caught):
                        net.save(self.path)
                self.assert_untouched(contents)
        with mock.patch.object(_atomic_file.os, "replace", side_effect=OSError(errno.EXDEV, "x")):
            with self.assertRaises(OSError) as raised:
                net.save(self.path)
        error = raised.exception
        self.assertEqual((error.errno, error.filename), (errno.EXDEV, self.path))
        self.assert_untouched(contents)
        net.save(self.path)  # and then one that works replaces it
        self.assertEqual(oscnet.Network.load(self.path).inputs, 3)
        self.assertEqual(os.listdir(self.dir), ["net.json"])

    @unittest.skipUnless(hasattr(os, "fchmod"), "permission bits are POSIX")
    def test_permissions_are_kept_or_follow_the_umask(self):
        self.save_good_file()
        os.chmod(self.path, 0o640)
        with build_hand_worked(oscnet.Network()) as net:
            net.save(self.path)
            self.assertEqual(stat.S_IMODE(os.stat(self.path).st_mode), 0o640)
            for umask, mode in ((0o027, 0o640), (0o002, 0o664)):
                fresh = os.path.join(self.dir, f"fresh-{umask:o}.json")
                old_umask = os.umask(umask)
                try:
                    net.save(fresh)
                finally:
                    os.umask(old_umask)
                self.assertEqual(stat.S_IMODE(os.stat(fresh).st_mode), mode)

    @unittest.skipUnless(hasattr(os, "symlink"), "no symbolic links")
    def test_a_symbolic_link_is_kept_and_its_target_replaced(self):
        self.save_good_file()
        link = os.path.join(self.dir, "link.json")
        os.symlink("net.json", link)
        with oscnet.Network().build(3, 2, [(4, "relu")], seed=1) as net:
            net.save(link)
        self.assertTrue(os.path.islink(link))
        self.assertEqual(oscnet.Network.load(self.path).inputs, 3)
        self.assertEqual(sorted(os.listdir(self.dir)), ["link.json", "net.json"])


if __name__ == "__main__":
    unittest.main()
