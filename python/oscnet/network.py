"""The Network class: a fully connected network of the oscnet library, driven through ctypes.

Every Network object owns a network of its own in the library (a handle): any number may be
alive at once, and none disturbs another. Each object serialises the calls made on it with a
lock of its own; different objects share no lock, and the library is called with the GIL
released, so networks used from different threads train and predict in parallel.
"""

import ctypes
import numbers
import operator
import secrets
import sys
import time
import weakref

from . import _weights
from ._library import ERROR_ARGUMENT, INT_MAX, OK, OscnetError, load_library
from ._turn_lock import TurnLock

__all__ = ["Network", "ACTIVATIONS", "OPTIMIZERS"]

# Activation names and the codes the library takes for them.
ACTIVATIONS = {"relu": 0, "sigmoid": 1, "tanh": 2, "lee": 3, "none": -1}
_ACTIVATION_NAMES = {code: name for name, code in ACTIVATIONS.items()}

# Optimizer names and the codes oscnet_train takes for them.
OPTIMIZERS = {"gd": 0, "adagrad": 1}

SEED_MAX = 2**32 - 1


def _count(value, what, minimum=1):
    """An int in minimum..INT_MAX (what the library's int arguments can hold)."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an int, not bool")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
    if not minimum <= value <= INT_MAX:
        raise ValueError(f"{what} must be between {minimum} and {INT_MAX}, got {value}")
    return value


def _seed(seed):
    """The seed for oscnet_create: an unsigned 32-bit int, drawn from the system when None."""
    if seed is None:
        return secrets.randbits(32)
    if isinstance(seed, bool):
        raise TypeError("seed must be an int, not bool")
    try:
        seed = operator.index(seed)
    except TypeError:
        raise TypeError(f"seed must be an int, not {type(seed).__name__}") from None
    if not 0 <= seed <= SEED_MAX:
        raise ValueError(f"seed must be between 0 and {SEED_MAX}, got {seed}")
    return seed


def _activation_code(activation, what):
    if isinstance(activation, str):
        if activation not in ACTIVATIONS:
            names = ", ".join(repr(name) for name in ACTIVATIONS)
            raise ValueError(f"{what} {activation!r} is not one of {names}")
        return ACTIVATIONS[activation]
    if isinstance(activation, bool) or not isinstance(activation, numbers.Integral):
        raise TypeError(f"{what} must be a name or an int code, not {type(activation).__name__}")
    if int(activation) not in _ACTIVATION_NAMES:
        raise ValueError(f"{what} code {activation} is not one of 0, 1, 2, 3 or -1 (none)")
    return int(activation)


def _normalised_layers(layers):
    """Checks `layers` and returns it as a tuple of (units, activation name)."""
    if isinstance(layers, (str, bytes)):
        raise TypeError("layers must be a list of (units, activation) pairs")
    try:
        layers = list(layers)
    except TypeError:
        raise TypeError("layers must be a list of (units, activation) pairs") from None
    if not layers:
        raise ValueError("layers must hold at least one (units, activation) pair")
    if len(layers) > INT_MAX:
        raise ValueError(f"at most {INT_MAX} layers")
    described = []
    for index, layer in enumerate(layers):
        try:
            units, activation = layer
        except (TypeError, ValueError):
            raise TypeError(
                f"layers[{index}] must be a (units, activation) pair, got {layer!r}"
            ) from None
        units = _count(units, f"layers[{index}] units")
        code = _activation_code(activation, f"layers[{index}] activation")
        described.append((units, _ACTIVATION_NAMES[code]))
    return tuple(described)


_DOUBLE_P = ctypes.POINTER(ctypes.c_double)

# Training runs in chunks of about this many seconds: short enough for Ctrl-C and for other
# threads to get in promptly, long enough that the calls between them cost nothing to speak of.
_CHUNK_SECONDS = 0.01
_FIRST_CHUNK = 64
_MAX_CHUNK = 1 << 24


def _next_chunk(steps, elapsed):
    """The size of the next chunk, from how long the last one of `steps` took: at most
    doubling, so that one fast measurement cannot make a chunk that runs for long."""
    if elapsed <= 0:
        return min(2 * steps, _MAX_CHUNK)
    fitting = int(steps * _CHUNK_SECONDS / elapsed)
    return max(1, min(fitting, 2 * steps, _MAX_CHUNK))


def _numpy_array(values):
    """numpy, when `values` is a numpy array (numpy is never imported here: an array means
    the caller has imported it already), else None."""
    numpy = sys.modules.get("numpy")
    if numpy is not None and isinstance(values, numpy.ndarray):
        return numpy
    return None


def _sequence_error(values, what):
    return TypeError(f"{what} must be a sequence of numbers, not {type(values).__name__}")


def _size_error(count, size, what):
    return ValueError(f"{what} has {count} values; the network needs exactly {size}")


def _numpy_doubles(numpy, values, what):
    """`values` as aligned, C-contiguous native float64: the array itself when it is one (no
    copy; the library only reads it), otherwise a converted copy."""
    if values.dtype.kind not in "biuf":
        raise TypeError(f"{what} must hold real numbers, not {values.dtype}")
    return numpy.require(values, dtype=numpy.float64, requirements="CA")


def _numpy_row(numpy, values, size, what):
    if values.ndim != 1:
        raise ValueError(f"{what} must be one row (a 1-D array), got shape {values.shape}")
    if values.shape[0] != size:
        raise _size_error(values.shape[0], size, what)
    row = _numpy_doubles(numpy, values, what)
    return row.ctypes.data_as(_DOUBLE_P)  # the pointer keeps `row` alive


def _double_buffer(values):
    """(length, readonly) of a 1-D contiguous buffer of native doubles, or None for anything
    else (not a buffer, another item type, strided...)."""
    try:
        view = memoryview(values)
    except TypeError:
        return None
    with view:
        if view.ndim != 1 or view.format not in ("d", "@d") or not view.c_contiguous:
            return None
        return len(view), view.readonly


def _buffer_row(values, size, what):
    """The ctypes array over a buffer of native doubles (array.array('d'), a memoryview cast
    to 'd', ...): the caller's own memory when writable, else a copy (ctypes maps only
    writable buffers). None for any other object, which is then read as a sequence."""
    described = _double_buffer(values)
    if described is None:
        return None
    length, readonly = described
    if length != size:
        raise _size_error(length, size, what)
    row_type = ctypes.c_double * size
    return row_type.from_buffer_copy(values) if readonly else row_type.from_buffer(values)


def _copy_into(target, offset, values, size, what):
    """Copies exactly `size` real numbers from the sequence `values` into target[offset:]."""
    if isinstance(values, (str, bytes)):
        raise _sequence_error(values, what)
    try:
        values = list(values)
    except (TypeError, NotImplementedError):  # the latter: a many-dimensional memoryview
        raise _sequence_error(values, what) from None
    if len(values) != size:
        raise _size_error(len(values), size, what)
    for index, value in enumerate(values):
        if not isinstance(value, numbers.Real):
            raise TypeError(f"{what}[{index}] must be a real number, not {type(value).__name__}")
        target[offset + index] = float(value)


def _row(values, size, what):
    """Exactly `size` doubles from a sequence of real numbers, as something ctypes passes for
    a double*. numpy arrays and buffers of doubles are passed without a copy where they
    allow it; anything else is copied into a new ctypes array."""
    if isinstance(values, (str, bytes)):
        raise _sequence_error(values, what)
    numpy = _numpy_array(values)
    if numpy is not None:
        return _numpy_row(numpy, values, size, what)
    row = _buffer_row(values, size, what)
    if row is not None:
        return row
    row = (ctypes.c_double * size)()
    _copy_into(row, 0, values, size, what)
    return row


def _rows(rows, width, what):
    """(count, double*) for a block of rows of `width` values each, stored row after row: a
    2-D numpy array (no copy when it is C-contiguous float64) or a sequence of rows."""
    numpy = _numpy_array(rows)
    if numpy is not None:
        if rows.ndim != 2:
            raise ValueError(f"{what} must be a 2-D array (a row per line), not shape {rows.shape}")
        if rows.shape[1] != width:
            raise ValueError(
                f"{what} has rows of {rows.shape[1]} values; the network needs exactly {width}"
            )
        block = _numpy_doubles(numpy, rows, what)
        return rows.shape[0], block.ctypes.data_as(_DOUBLE_P)
    if isinstance(rows, (str, bytes)):
        raise TypeError(f"{what} must be a sequence of rows, not {type(rows).__name__}")
    try:
        rows = list(rows)
    except TypeError:
        raise TypeError(f"{what} must be a sequence of rows, not {type(rows).__name__}") from None
    if len(rows) > INT_MAX:
        raise ValueError(f"{what} has more than {INT_MAX} rows")
    block = (ctypes.c_double * (len(rows) * width))()
    for index, row in enumerate(rows):
        numpy = _numpy_array(row)
        if numpy is not None and row.ndim != 1:
            raise ValueError(f"{what}[{index}] must be one row, got shape {row.shape}")
        _copy_into(block, index * width, row, width, f"{what}[{index}]")
    return len(rows), block


def _output_row(out, size):
    """The caller's `out` as a double* the library may write, or a ValueError/TypeError."""
    numpy = _numpy_array(out)
    if numpy is not None:
        usable = (
            out.ndim == 1
            and out.dtype == numpy.float64
            and out.flags.c_contiguous
            and out.flags.aligned
            and out.flags.writeable
        )
        if not usable:
            raise TypeError("out must be a writable, contiguous 1-D float64 array")
        if out.shape[0] != size:
            raise _size_error(out.shape[0], size, "out")
        return out.ctypes.data_as(_DOUBLE_P)
    described = _double_buffer(out)
    if described is None:
        raise TypeError(
            f"out must be a writable, contiguous buffer of doubles, not {type(out).__name__}"
        )
    length, readonly = described
    if readonly:
        raise TypeError("out is read-only")
    if length != size:
        raise _size_error(length, size, "out")
    return (ctypes.c_double * size).from_buffer(out)


def _param_total(inputs, outputs, layers):
    """The number of weights and biases of the network a description builds."""
    total, width = 0, inputs
    for units, _ in layers:
        total += (width + 1) * units
        width = units
    return total + (width + 1) * outputs


def _last_error(library):
    """The library's message about the calling thread's last failure."""
    message = library.oscnet_last_error()
    return message.decode("utf-8", "replace") if message else ""


def _failure(library, status, what):
    """The exception for a failed handle function: ValueError for an argument the library
    refused (status ERROR_ARGUMENT), OscnetError otherwise."""
    message = _last_error(library)
    detail = f"{what}: {message}" if message else what
    if status == ERROR_ARGUMENT:
        return ValueError(detail)
    return OscnetError(detail)


class _Handle:
    """A library network and the lock of the Network that owns it. The finalizer of the
    Network holds this, not the Network, so that the Network can be collected."""

    __slots__ = ("library", "pointer", "lock", "__weakref__")

    def __init__(self, library, pointer, lock):
        self.library = library
        self.pointer = pointer
        self.lock = lock

    def destroy(self):
        # Under the owner's lock: at interpreter exit the owner may still be in use by a
        # daemon thread, which must not find its network freed halfway through a call.
        with self.lock:
            pointer, self.pointer = self.pointer, None
            if pointer:
                self.library.oscnet_destroy(pointer)


class Network:
    """A fully connected network of the oscnet library.

    ``build(inputs, outputs, layers, seed=None)`` makes the network (``layers`` is a list of
    ``(units, activation)``; activation ``"relu"``, ``"sigmoid"``, ``"tanh"`` (tanh(6x)),
    ``"lee"`` (Lee oscillator, random draws) or ``"none"``, or the codes 0, 1, 2, 3, -1), then
    ``train``, ``predict``, ``predict_rows``, ``get_params``/``set_params`` and ``save`` use it;
    ``release`` or the end of a ``with`` block frees it; ``Network.load(path)`` makes one from
    a saved file.

    Each object owns its own network: any number may exist at once and none affects another.
    The seed (``seed``, drawn at random when not given) fixes the initial weights and the Lee
    oscillators' draws, so the same seed and the same calls give the same results bit for bit.
    A Network that is garbage-collected frees its network; so does the end of the interpreter.

    Threads: the calls on one object are serialised by the object's lock (safe, not parallel);
    a long ``train`` lets waiting calls in between its chunks. Different objects share no
    lock, and the library runs with the GIL released, so networks used from different threads
    compute in parallel.

    Rows are always full: every input row has exactly ``inputs`` values and every target row
    exactly ``outputs``; anything else raises ValueError before the library is called, so
    nothing changes.

    Argument problems raise TypeError or ValueError; a network that the library refuses or
    that is missing raises OscnetError. Not-a-number and infinities are values, not errors:
    they flow through predict and train, and a diverged or NaN-fed training returns
    ``float('nan')`` as its loss.
    """

    def __init__(self):
        self._lock = TurnLock()
        self._handle = None
        self._finalizer = None
        self._inputs = None
        self._outputs = None
        self._layers = None
        self._seed = None
        self._param_count = None

    # -- description -------------------------------------------------------------------------

    @property
    def inputs(self):
        """Input width of the network this object last built (None before any build)."""
        return self._inputs

    @property
    def outputs(self):
        """Output width of the network this object last built (None before any build)."""
        return self._outputs

    @property
    def layers(self):
        """Hidden layers of the network this object last built, as a tuple of
        ``(units, activation name)`` (None before any build)."""
        return self._layers

    @property
    def seed(self):
        """The seed the network was created with (None before any build): building again
        with it repeats the run bit for bit."""
        return self._seed

    @property
    def built(self):
        """Whether this object holds a network (built or loaded, and not released)."""
        return self._handle is not None

    def __repr__(self):
        if self._inputs is None:
            return "<oscnet.Network (not built)>"
        state = "built" if self.built else "released"
        return (
            f"<oscnet.Network inputs={self._inputs} outputs={self._outputs} "
            f"layers={list(self._layers)} seed={self._seed} ({state})>"
        )

    # -- life cycle --------------------------------------------------------------------------

    def build(self, inputs, outputs, layers, seed=None):
        """Creates the network and returns self; a network this object held before is freed.

        ``seed`` (0 to 2**32 - 1) seeds the network's random streams: the initial weights
        (normal draws, deviation 0.01) and the Lee oscillators' draws. None draws a seed from
        the operating system; the ``seed`` property tells which. Raises TypeError/ValueError
        for bad arguments and OscnetError when the library refuses the network (larger than
        the memory available, or memory running out); either way the network held before, if
        any, is unchanged.
        """
        inputs = _count(inputs, "inputs")
        outputs = _count(outputs, "outputs")
        described = _normalised_layers(layers)
        seed = _seed(seed)
        units = (ctypes.c_int * len(described))(*(units for units, _ in described))
        codes = (ctypes.c_int * len(described))(*(ACTIVATIONS[name] for _, name in described))
        library = load_library()
        with self._lock:
            pointer = library.oscnet_create(inputs, outputs, len(described), units, codes, seed)
            if not pointer:
                message = _last_error(library)
                raise OscnetError(
                    f"the library refused to create a network of {inputs} inputs, {outputs} "
                    f"outputs and layers {list(described)}: {message or 'no reason given'}"
                )
            handle = _Handle(library, pointer, self._lock)
            finalizer = weakref.finalize(self, handle.destroy)
            count = library.oscnet_weights_count(pointer)
            self.release()
            self._handle, self._finalizer = handle, finalizer
            self._inputs, self._outputs, self._layers = inputs, outputs, described
            self._seed, self._param_count = seed, count
        return self

    def release(self):
        """Frees this object's network. Does nothing when the object holds none (never built,
        or released already), so calling it twice is safe. The description (``inputs``,
        ``layers``, ``seed``...) stays readable."""
        with self._lock:
            finalizer, self._finalizer = self._finalizer, None
            self._handle = None
            if finalizer is not None:
                finalizer()  # destroys the network, once

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.release()
        return False

    def _pointer(self):
        """The library and the network's handle; the caller holds the lock."""
        if self._handle is None:
            raise OscnetError(
                "this Network has no network: call build() or Network.load() first"
                if self._inputs is None
                else "this Network was released: call build() or Network.load() again"
            )
        return self._handle.library, self._handle.pointer

    # -- training and prediction -------------------------------------------------------------

    def train(self, x, y, iterations=1, learning_rate=0.01, optimizer="gd"):
        """Trains on one example (``x``: ``inputs`` values, ``y``: ``outputs`` values) for
        ``iterations`` (at least 1) steps and returns the loss sum((output - target)^2)
        measured before the last step, as a float.

        ``optimizer`` is ``"gd"`` (gradient descent) or ``"adagrad"``. Adagrad's sums of
        squared gradients persist from call to call (two calls of k iterations are one call of
        2k) until ``reset_optimizer()``. A loss of ``float('nan')`` is a value, not an error:
        training diverged, or the example or the weights hold NaN (the library also returns
        NaN if memory runs out during the call; the network then is as it was).

        Many iterations are run in chunks of library calls that take about 10 ms each, with
        the same result, bit for bit, as one call (Adagrad's sums carry over from chunk to
        chunk). Between chunks, other threads waiting to use this Network get their turn, and
        Ctrl-C (KeyboardInterrupt) stops the training: the network then keeps the iterations
        done so far.
        """
        if isinstance(optimizer, str) and optimizer in OPTIMIZERS:
            optimizer_code = OPTIMIZERS[optimizer]
        elif isinstance(optimizer, str):
            raise ValueError(f"optimizer {optimizer!r} is not 'gd' or 'adagrad'")
        else:
            raise TypeError(f"optimizer must be 'gd' or 'adagrad', not {type(optimizer).__name__}")
        iterations = _count(iterations, "iterations")
        if isinstance(learning_rate, bool) or not isinstance(learning_rate, numbers.Real):
            raise TypeError(
                f"learning_rate must be a real number, not {type(learning_rate).__name__}"
            )
        with self._lock:
            library, pointer = self._pointer()
            handle = self._handle
            x_row = _row(x, self._inputs, "x")
            y_row = _row(y, self._outputs, "y")
            done, chunk = 0, _FIRST_CHUNK
            while True:
                steps = min(chunk, iterations - done)
                started = time.perf_counter()
                loss = library.oscnet_train(
                    pointer, x_row, y_row, steps, float(learning_rate), optimizer_code
                )
                elapsed = time.perf_counter() - started
                done += steps
                if done == iterations:
                    return float(loss)
                chunk = _next_chunk(steps, elapsed)
                # Here a pending Ctrl-C is raised, and other threads get their turn.
                self._lock.let_others_in()
                # The network may have gone meanwhile: released, rebuilt, or freed at exit.
                if self._handle is not handle or handle.pointer is None:
                    raise OscnetError(
                        f"the network was released or rebuilt by another thread during train, "
                        f"after {done} of {iterations} iterations"
                    )

    def reset_optimizer(self):
        """Starts Adagrad's sums of squared gradients afresh (gradient descent keeps none)."""
        with self._lock:
            library, pointer = self._pointer()
            status = library.oscnet_reset_optimizer(pointer)
            if status != OK:
                raise _failure(library, status, "oscnet_reset_optimizer failed")

    def predict(self, x, out=None):
        """The network's outputs for ``x`` (``inputs`` values): a numpy array when ``x`` is
        one, else a list of ``outputs`` floats. With ``out`` (a writable contiguous buffer of
        ``outputs`` doubles: a float64 numpy array, an ``array.array('d')``...), the library
        writes straight into it and ``out`` is returned. NaN inputs give NaN outputs."""
        with self._lock:
            library, pointer = self._pointer()
            x_row = _row(x, self._inputs, "x")
            numpy = _numpy_array(x)
            if out is not None:
                result, out_row = out, _output_row(out, self._outputs)
            elif numpy is not None:
                result = numpy.empty(self._outputs, dtype=numpy.float64)
                out_row = result.ctypes.data_as(_DOUBLE_P)
            else:
                result = out_row = (ctypes.c_double * self._outputs)()
            status = library.oscnet_predict(pointer, x_row, out_row)
            if status != OK:
                raise _failure(library, status, "oscnet_predict failed")
            return list(result) if out is None and numpy is None else result

    def predict_rows(self, rows):
        """The outputs for many input rows at once, computed as a block: the same values as
        ``predict`` row by row, in order (Lee oscillators take the same draws).

        ``rows`` is a 2-D numpy array of shape (n, inputs), passed without a copy when it is
        C-contiguous float64, and then the result is a numpy array of shape (n, outputs); or a
        sequence of rows (each any row ``predict`` takes), and then the result is a list of
        n lists."""
        with self._lock:
            library, pointer = self._pointer()
            count, block = _rows(rows, self._inputs, "rows")
            numpy = _numpy_array(rows)
            if numpy is not None:
                result = numpy.empty((count, self._outputs), dtype=numpy.float64)
                out_block = result.ctypes.data_as(_DOUBLE_P)
            else:
                result = out_block = (ctypes.c_double * (count * self._outputs))()
            status = library.oscnet_predict_rows(pointer, block, count, out_block)
            if status != OK:
                raise _failure(library, status, "oscnet_predict_rows failed")
            if numpy is not None:
                return result
            width = self._outputs
            return [result[index * width : (index + 1) * width] for index in range(count)]

    # -- weights -----------------------------------------------------------------------------

    @property
    def param_count(self):
        """Number of weights and biases: layer by layer from the input, the weight matrix
        (``width x units``, column by column), then the bias row."""
        with self._lock:
            self._pointer()
            return self._param_count

    def _transfer_count(self):
        if self._param_count < 0:
            raise OscnetError("the network has more than INT_MAX weights; they cannot be copied")
        return self._param_count

    def get_params(self):
        """All weights and biases as a list of floats, in the order of ``param_count``."""
        with self._lock:
            library, pointer = self._pointer()
            count = self._transfer_count()
            values = (ctypes.c_double * count)()
            if library.oscnet_get_weights(pointer, values, count) != count:
                raise _failure(library, None, "oscnet_get_weights refused to copy")
            return list(values)

    def set_params(self, values):
        """Overwrites all weights and biases with ``values`` (exactly ``param_count`` real
        numbers, in the order ``get_params`` returns them). NaN and infinities are taken as
        they are; Adagrad's sums are kept. Raises ValueError for a wrong count, TypeError for
        non-numbers; then nothing changes."""
        with self._lock:
            library, pointer = self._pointer()
            count = self._transfer_count()
            row = _row(values, count, "values")
            if library.oscnet_set_weights(pointer, row, count) != count:
                raise _failure(library, None, "oscnet_set_weights refused the weights")

    def save(self, path):
        """Writes the description and the weights to ``path`` as an oscnet-weights JSON file.

        The file is replaced atomically: the text goes to a temporary file beside it, which is
        flushed to disk and renamed over ``path``. If writing fails (a full disk, a file-size
        limit...), OSError is raised, the old file is left exactly as it was and no temporary
        file stays behind. The new file keeps the old one's permissions (a new file gets
        0666 less the umask). Raises ValueError, writing nothing, when a weight is NaN or
        infinite: strict JSON cannot hold those. The seed is not saved."""
        with self._lock:
            params = self.get_params()
            inputs, outputs, layers = self._inputs, self._outputs, self._layers
        _weights.write(path, inputs, outputs, layers, params)

    @classmethod
    def load(cls, path, seed=None):
        """Makes a Network from an oscnet-weights JSON file: creates the network it describes
        (``seed`` as for ``build``: it seeds the Lee oscillators' draws) and sets its weights.

        The file is checked before anything is created; a malformed file, or one whose params
        do not match its layers, raises ValueError naming the file. Errors reading the file
        raise OSError.
        """
        inputs, outputs, layers, params = _weights.read(path)
        described = _normalised_layers(layers)
        expected = _param_total(inputs, outputs, described)
        if len(params) != expected:
            raise ValueError(
                f"{path}: has {len(params)} params, but the network it describes has "
                f"{expected} weights and biases"
            )
        network = cls().build(inputs, outputs, described, seed=seed)
        try:
            if network._param_count != len(params):
                raise ValueError(
                    f"{path}: has {len(params)} params, but the built network has "
                    f"{network._param_count}"
                )
            network.set_params(params)
        except BaseException:
            network.release()
            raise
        return network
