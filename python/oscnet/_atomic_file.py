"""Replacing a file as a whole: a reader sees the old file or the new one, never a part.

The text goes to a temporary file in the target's directory (a rename is atomic only within
one file system), which is flushed to disk and then renamed over the target. When anything
fails on the way (a full disk, a file-size limit, an exception), the temporary file is removed
and the target is left exactly as it was.
"""

import os
import stat
import tempfile

__all__ = ["replace_file"]


def _umask():
    """The process's umask, read without changing it where the system tells (Linux); else
    set and restored at once, which another thread creating a file in between could notice."""
    try:
        with open("/proc/self/status", encoding="ascii", errors="replace") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError, IndexError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _mode_for(target):
    """The permission bits the new file gets: the old file's, or what open() would give a new
    one (mkstemp's own are 0600)."""
    try:
        return stat.S_IMODE(os.stat(target).st_mode)
    except FileNotFoundError:
        return 0o666 & ~_umask()


def _sync_directory(directory):
    """Flushes the directory entry of the rename; not every system or file system can."""
    if not hasattr(os, "O_DIRECTORY"):
        return
    try:
        descriptor = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


def replace_file(path, data):
    """Makes the file at ``path`` hold exactly ``data`` (bytes), atomically. A symbolic link
    at ``path`` is kept and the file it points to is replaced. Raises OSError (the target
    untouched, no temporary file left) when the file cannot be written."""
    target = os.path.realpath(os.fspath(path))
    directory, name = os.path.split(target)
    mode = _mode_for(target)
    descriptor, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(descriptor, "wb") as stream:
            stream.write(data)
            stream.flush()
            if hasattr(os, "fchmod"):
                os.fchmod(stream.fileno(), mode)
            os.fsync(stream.fileno())
        os.replace(temporary, target)
    except BaseException as error:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        if isinstance(error, OSError) and error.errno is not None:
            # Named after the target: the temporary file's name would only confuse.
            raise OSError(error.errno, error.strerror, os.fspath(path)) from error
        raise
    _sync_directory(directory)
