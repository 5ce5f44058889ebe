"""The lock of a Network: re-entrant, and able to let waiting threads in between the pieces of
a long call.

A plain lock released and at once taken again is seldom handed over: the releasing thread is
running and gets it back before a waiting one wakes. ``let_others_in`` therefore waits until
every thread that was waiting has had its turn, which keeps a long ``train`` from shutting out
a ``predict`` on another thread.
"""

import threading

__all__ = ["TurnLock"]


class TurnLock:
    """A re-entrant lock with turns (use ``with lock:``)."""

    def __init__(self):
        self._lock = threading.RLock()
        self._changed = threading.Condition(threading.Lock())
        self._waiting = 0  # threads blocked in acquire
        self._waits_ended = 0  # waits that ended, with the lock or interrupted

    @property
    def waiting(self):
        """How many threads are waiting for the lock now."""
        with self._changed:
            return self._waiting

    def acquire(self):
        if self._lock.acquire(blocking=False):
            return True  # free: nobody's turn to count
        with self._changed:
            self._waiting += 1
        taken = False  # stays so when a KeyboardInterrupt ends the wait
        try:
            taken = self._lock.acquire()
        finally:
            with self._changed:
                self._waiting -= 1
                self._waits_ended += 1
                self._changed.notify_all()
        return taken

    def release(self):
        self._lock.release()

    def __enter__(self):
        if not self._lock.acquire(blocking=False):
            self.acquire()
        return self

    def __exit__(self, *exc_info):
        self.release()
        return False

    def let_others_in(self):
        """Called by the holder, holding the lock once (not re-entered): when threads are
        waiting, releases the lock until each of them has taken it, then takes it back.
        Returns at once when none is waiting."""
        with self._changed:
            if self._waiting == 0:
                return
            turns_done = self._waits_ended + self._waiting
        self._lock.release()
        try:
            with self._changed:
                self._changed.wait_for(lambda: self._waits_ended >= turns_done)
        finally:
            self.acquire()
