"""Hostile cases, as a user could make them: files written whole or not at all, inputs that are
endless, huge or malformed refused early with a short message, training that can be stopped,
and memory that runs out reported as such."""

import os
import resource
import shutil
import signal
import subprocess
import time
import unittest

from cli_support import TIMEOUT, Workspace, command, python_loads_library, sin_rows

OLD_TEXT = "the earlier file, which must survive\n"
EXCERPT = 40


def run_limited(*arguments, limits=(), stdin_text=None, timeout=TIMEOUT):
    """Runs the program under resource `limits` [(resource, bytes)], feeding `stdin_text`."""

    def apply_limits():
        for which, size in limits:
            resource.setrlimit(which, (size, size))

    completed = subprocess.run(
        command(*arguments), input=stdin_text, stdin=None if stdin_text else subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=apply_limits,
        timeout=timeout, text=True, errors="replace")
    from cli_support import Result
    return Result(completed)


def plain_build():
    """Not sanitized and not emulated: resource limits on memory mean what they say."""
    return python_loads_library() and not os.environ.get("OSCNET_TRAIN_EMULATOR")


class AtomicWrites(Workspace):
    def setUp(self):
        super().setUp()
        self.data = self.write_csv("sin.csv", sin_rows(50), header=["x1", "x2", "y"])

    def assert_old_file_alone(self, target):
        with open(target, encoding="utf-8") as stream:
            self.assertEqual(stream.read(), OLD_TEXT)
        directory, name = os.path.split(target)
        left = [entry for entry in os.listdir(directory) if entry.startswith(name + ".")]
        self.assertEqual(left, [], "temporary files left behind")

    def test_a_file_size_limit_fails_the_write_and_keeps_the_old_file(self):
        # Both outputs are far larger than the limit: 1601 weights, and a loss curve of 400
        # epochs.
        for option in ("--save", "--plot"):
            with self.subTest(option):
                target = self.write_text("out." + option[2:], OLD_TEXT)
                result = run_limited("--data", self.data, "--layers", "400:tanh", "--epochs",
                                     "400", "--quiet", option, target,
                                     limits=[(resource.RLIMIT_FSIZE, 4096)])
                self.assertEqual(result.status, 1, result)
                self.assertIn(f"cannot write {target}: File too large", result.err)
                self.assert_old_file_alone(target)

    def test_a_full_disk_fails_the_write_and_keeps_the_old_file(self):
        unshare = shutil.which("unshare")
        if os.geteuid() != 0 or unshare is None:
            self.skipTest("needs root and unshare to mount a small disk of its own")
        disk = self.path("disk")
        os.mkdir(disk)
        old = self.write_text("old.json", OLD_TEXT)
        # A private mount: the 64 KiB disk is gone with the shell, and so checked inside it.
        script = ('mount -t tmpfs -o size=64k oscnet-test "$0" || exit 90\n'
                  'cp "$1" "$0/model.json"\n'
                  'shift 1\n'
                  '"$@"\n'
                  'echo "status $?" >&2\n'
                  'cmp -s "$OLD" "$DISK/model.json" && echo "intact" >&2\n'
                  'ls -A "$DISK" >&2\n')
        # 6001 weights take some 130 KB as text.
        train = command("--data", self.data, "--layers", "1500:tanh", "--epochs", "1",
                        "--quiet", "--save", os.path.join(disk, "model.json"))
        completed = subprocess.run([unshare, "-m", "sh", "-c", script, disk, old, *train],
                                   env={**os.environ, "OLD": old, "DISK": disk},
                                   stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                   timeout=TIMEOUT)
        if completed.returncode == 90 or "Operation not permitted" in completed.stderr:
            self.skipTest(f"cannot mount a small disk here: {completed.stderr.strip()}")
        err = completed.stderr
        self.assertIn("No space left on device", err)
        self.assertIn(f"cannot write {os.path.join(disk, 'model.json')}", err)
        self.assertIn("status 1", err)
        self.assertIn("intact", err)
        self.assertEqual(err.split("intact\n", 1)[1].split(), ["model.json"], err)

    def test_an_interrupt_while_training_several_runs_ends_the_program_and_writes_nothing(self):
        target = self.write_text("model.json", OLD_TEXT)
        process = subprocess.Popen(
            command("--data", self.data, "--layers", "8:tanh", "--epochs", "1000000", "--runs",
                    "4", "--jobs", "2", "--save", target, "--plot", self.path("plot.svg")),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            time.sleep(1.0)
            self.assertIsNone(process.poll(), "the runs ended before the interrupt")
            process.send_signal(signal.SIGINT)
            out, err = process.communicate(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
                process.communicate()
        self.assertEqual(process.returncode, -signal.SIGINT, out + err)
        self.assertNotIn("RMSE", out)
        self.assert_old_file_alone(target)
        self.assertFalse(os.path.exists(self.path("plot.svg")))


class InputBounds(Workspace):
    def weights_text(self, params):
        return ('{"format": "oscnet-weights", "version": 1, "inputs": 2, "outputs": 1, '
                '"layers": [{"units": 1, "activation": "tanh"}], "params": [' + params + ']}\n')

    def test_devices_and_pipes_are_refused_without_waiting(self):
        data = self.write_csv("sin.csv", sin_rows(20))
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        cases = [(("--data", "/dev/zero"), "/dev/zero: it is a character device"),
                 (("--data", fifo), f"{fifo}: it is a pipe, not a regular file"),
                 (("--data", data, "--load", fifo), f"{fifo}: it is a pipe, not a regular file"),
                 (("--data", data, "--load", "/dev/urandom"), "/dev/urandom: it is a character")]
        for arguments, message in cases:
            with self.subTest(arguments):
                # A reader that waited on the pipe would meet the timeout.
                self.assert_bad_input(run_limited(*arguments, timeout=60),
                                      "cannot read " + message)

    def test_standard_input_is_read_within_the_same_limit(self):
        text = "x1,x2,y\n" + "".join(f"{a},{b},{c}\n" for a, b, c in sin_rows(30))
        result = run_limited("--data", "-", "--epochs", "2", "--quiet", stdin_text=text)
        self.assertEqual(result.status, 0, result)
        self.assertIn("data      standard input (30 rows, 3 columns, with a header)", result.out)
        self.assert_bad_input(
            run_limited("--data", "-", "--max-file-size", "1K", stdin_text=text * 3),
            "standard input is larger than the limit of 1 KiB; --max-file-size raises it")

    def test_files_beyond_the_size_limits_are_refused_before_reading(self):
        # Sparse files: as large as they say, without the disk.
        data = self.path("huge.csv")
        with open(data, "wb") as stream:
            stream.truncate(1024 ** 3 + 1)
        self.assert_bad_input(run_limited("--data", data),
                              f"{data} is larger than the limit of 1 GiB; --max-file-size "
                              "raises it")
        weights = self.path("huge.json")
        with open(weights, "wb") as stream:
            stream.truncate(256 * 1024 ** 2 + 1)
        small = self.write_csv("sin.csv", sin_rows(20))
        self.assert_bad_input(run_limited("--data", small, "--load", weights),
                              f"{weights} is larger than the limit of 256 MiB; --max-file-size "
                              "raises it")
        self.assert_bad_input(run_limited("--data", small, "--max-file-size", "300"),
                              f"{small} is larger than the limit of 300 bytes")
        self.assert_bad_input(run_limited("--max-file-size", "1T"), "--max-file-size must be")

    def test_a_long_line_is_refused_before_it_is_held(self):
        # 1.5 GB without a line end, read with its size allowed: the line limit stops it at
        # 1 MiB, within a memory limit far below the line.
        data = self.path("one-line.csv")
        with open(data, "wb") as stream:
            stream.truncate(3 * 512 * 1024 ** 2)
        limits = [(resource.RLIMIT_AS, 512 * 1024 ** 2)] if plain_build() else []
        self.assert_bad_input(
            run_limited("--data", data, "--max-file-size", "2G", limits=limits),
            f"{data}, line 1: longer than the limit of 1 MiB for a line; --max-line-length "
            "raises it")
        wide = self.write_text("wide.csv", "x,y\n" + "1," * 600000 + "1\n")
        self.assert_bad_input(run_limited("--data", wide), f"{wide}, line 2: longer than")
        self.assert_bad_input(run_limited("--data", wide, "--max-line-length", "2M"),
                              f"{wide}, line 2: 600001 columns, but line 1 has 2")

    def test_bad_cells_are_quoted_short_with_control_bytes_escaped(self):
        long_cell = "\0\x1b[2J" + "7" * 100000
        data = self.write_text("long.csv", "x,y\n1," + long_cell + "\n")
        result = run_limited("--data", data)
        self.assert_bad_input(result, f"{data}, line 2, column 2: a cell longer than the limit "
                              "of 64 KiB: '\\0\\x1b[2J" + "7" * (EXCERPT - 5) + "...'")
        self.assertLess(len(result.err), 300, result)
        data = self.write_text("nul.csv", "x,y\n1,12\0abc\n")
        self.assert_bad_input(run_limited("--data", data),
                              f"{data}, line 2, column 2 (y): '12\\0abc' is not a number")

    def test_a_weights_file_of_many_keys_is_checked_in_linear_time(self):
        data = self.write_csv("sin.csv", sin_rows(20))
        keys = "".join(f'"k{i}": 0, ' for i in range(200000))
        weights = self.write_text("keys.json", "{" + keys + '"k0": 1}')
        self.assert_bad_input(run_limited("--data", data, "--load", weights),
                              'the key "k0" appears twice')
        long_key = self.write_text("key.json", self.weights_text("0, 0, 0, 0, 0")[:-2] +
                                   ', "' + "q" * 100000 + '": 1}')
        result = run_limited("--data", data, "--load", long_key)
        self.assert_bad_input(result, 'unknown key "' + "q" * EXCERPT + '..."')
        self.assertLess(len(result.err), 300, result)

    def test_a_weights_file_of_many_numbers_is_read_in_little_memory(self):
        # 20 MB of zeros once took 88 times its size; now the text and 8 bytes a number.
        data = self.write_csv("sin.csv", sin_rows(20))
        weights = self.write_text("zeros.json", self.weights_text("0," * 9999999 + "0"))
        limits = [(resource.RLIMIT_AS, 600 * 1024 ** 2)] if plain_build() else []
        self.assert_bad_input(run_limited("--data", data, "--load", weights, limits=limits),
                              "it holds 10000000 params, and its inputs, layers and outputs "
                              "need 5")

    def test_long_column_names_are_shortened(self):
        names = ["\u00e9" * 30000, "x", "t" * 60000, "u"]
        data = self.write_csv("wide.csv", [(a, b, a + b, a - b) for a, b, _ in sin_rows(30)],
                              header=names)
        result = run_limited("--data", data, "--targets", "2", "--epochs", "2", "--quiet",
                             "--plot", self.path("plot.svg"))
        self.assertEqual(result.status, 0, result)
        self.assertIn("  " + "t" * 25 + "... ", result.out)
        with open(self.path("plot.svg"), encoding="utf-8") as stream:
            self.assertIn("t" * 37 + "...", stream.read())


@unittest.skipUnless(plain_build(), "memory limits need a build neither sanitized nor emulated")
class Memory(Workspace):
    def test_running_out_of_memory_is_not_called_divergence(self):
        for limit in (resource.RLIMIT_AS, resource.RLIMIT_DATA):
            with self.subTest(limit):
                result = run_limited("--layers", "6000:tanh,6000:tanh", "--epochs", "1",
                                     "--quiet", limits=[(limit, 700 * 1024 ** 2)])
                self.assertEqual(result.status, 1, result)
                self.assertIn("oscnet-train: out of memory creating a network of "
                              "4 -> 6000 -> 6000 -> 1 units (36042001 weights)", result.err)
                self.assertNotIn("diverged", result.err)


if __name__ == "__main__":
    unittest.main()
