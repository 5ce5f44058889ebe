"""The Network class: one fully connected network held by the library, driven through ctypes.

The library holds ONE network per process. Every Network object drives that same network: when
a second object builds (or loads), the first object's network is gone, and the first object
raises OscnetError instead of driving the other one's network. Calls from several threads are
serialized by a lock so that they never overlap inside the library, but the objects are not
thread-safe: threads sharing the library replace each other's networks.
"""

import ctypes
import mmap
import numbers
import operator
import sys
import threading
import weakref

from . import _weights
from ._library import INT_MAX, OscnetError, load_library

__all__ = ["Network", "ACTIVATIONS", "OPTIMIZERS"]

# Activation names and the codes build_net takes for them.
ACTIVATIONS = {"relu": 0, "sigmoid": 1, "tanh": 2, "lee": 3, "none": -1}
_ACTIVATION_NAMES = {code: name for name, code in ACTIVATIONS.items()}

# Optimizer names and the codes train takes for them.
OPTIMIZERS = {"gd": 0, "adagrad": 1}

# Example rows of at least this many doubles are zeros from an anonymous memory map, which
# costs nothing until it is read: the library refuses a network too large for memory before it
# reads the rows, and a zero-filled ctypes array of 2**31 - 1 doubles would take a minute and
# 16 GiB to make.
_MAPPED_ROW_DOUBLES = 1 << 17

# Process-wide ownership: the token of the Network whose network the library holds, if any.
# Every call into the library happens under _calls.
_calls = threading.RLock()
_owner = None


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


def _numpy_row(numpy, values, size, what):
    """A pointer to the doubles of a 1-D numpy array: its own buffer when it is already
    writable, C-contiguous, aligned native float64 (no copy), otherwise a converted copy."""
    if values.ndim != 1:
        raise ValueError(f"{what} must be one row (a 1-D array), got shape {values.shape}")
    if values.shape[0] != size:
        raise _size_error(values.shape[0], size, what)
    if values.dtype.kind not in "biuf":
        raise TypeError(f"{what} must hold real numbers, not {values.dtype}")
    # Writable too: the C functions take double*, even where they only read.
    row = numpy.require(values, dtype=numpy.float64, requirements="CAW")
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
    to 'd', ...): the caller's own memory when writable, else a copy. None for any other
    object, which is then read as a sequence."""
    described = _double_buffer(values)
    if described is None:
        return None
    length, readonly = described
    if length != size:
        raise _size_error(length, size, what)
    row_type = ctypes.c_double * size
    return row_type.from_buffer_copy(values) if readonly else row_type.from_buffer(values)


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
    try:
        values = list(values)
    except (TypeError, NotImplementedError):  # the latter: a many-dimensional memoryview
        raise _sequence_error(values, what) from None
    if len(values) != size:
        raise _size_error(len(values), size, what)
    row = (ctypes.c_double * size)()
    for index, value in enumerate(values):
        if not isinstance(value, numbers.Real):
            raise TypeError(f"{what}[{index}] must be a real number, not {type(value).__name__}")
        row[index] = float(value)
    return row


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


def _zeros(size):
    """A ctypes array of `size` zeros; large ones come from an anonymous memory map."""
    if size < _MAPPED_ROW_DOUBLES:
        return (ctypes.c_double * size)()
    try:
        mapped = mmap.mmap(-1, size * ctypes.sizeof(ctypes.c_double))
    except (OSError, OverflowError, MemoryError) as error:
        raise OscnetError(f"cannot allocate an example row of {size} zeros: {error}") from error
    return (ctypes.c_double * size).from_buffer(mapped)  # keeps the map alive


def _param_total(inputs, outputs, layers):
    """The number of weights and biases of the network a description builds."""
    total, width = 0, inputs
    for units, _ in layers:
        total += (width + 1) * units
        width = units
    return total + (width + 1) * outputs


def _release_orphan(token):
    """Releases the library's network when it belongs to a Network that no longer exists."""
    global _owner
    with _calls:
        if _owner is token:
            load_library().release_net()
            _owner = None


class Network:
    """A fully connected network held by the oscnet library.

    ``build(inputs, outputs, layers)`` makes the network (``layers`` is a list of
    ``(units, activation)``; activation ``"relu"``, ``"sigmoid"``, ``"tanh"`` (tanh(6x)),
    ``"lee"`` (Lee oscillator, random draws) or ``"none"``, or the codes 0, 1, 2, 3, -1), then
    ``train``, ``predict``, ``get_params``/``set_params`` and ``save`` use it; ``release`` or the
    end of a ``with`` block frees it; ``Network.load(path)`` makes one from a saved file.

    One network per process: the library holds a single network, so when another Network
    builds or loads, this object's network is gone and its methods raise OscnetError ("...
    replaced by another build ..."). Building this object again takes the library back. A
    Network that is garbage-collected while it holds the library's network releases it.
    Not thread-safe (calls into the library are serialized, but threads replace each other's
    networks).

    Rows are always full: every input row has exactly ``inputs`` values and every target row
    exactly ``outputs``; anything else raises ValueError before the library is called, so
    nothing changes. (The C API also takes shorter rows and keeps the other columns as they
    were; this package does not offer that.)

    Argument problems raise TypeError or ValueError; a network that the library refuses or
    that is missing raises OscnetError. Not-a-number and infinities are values, not errors:
    they flow through predict and train, and a diverged or NaN-fed training returns
    ``float('nan')`` as its loss.
    """

    def __init__(self):
        self._token = None  # identifies the network this object built, while it may hold it
        self._finalizer = None
        self._inputs = None
        self._outputs = None
        self._layers = None
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
    def built(self):
        """Whether the library currently holds this object's network."""
        return self._token is not None and self._token is _owner

    def __repr__(self):
        if self._inputs is None:
            return "<oscnet.Network (not built)>"
        state = "built" if self.built else "not built"
        return (
            f"<oscnet.Network inputs={self._inputs} outputs={self._outputs} "
            f"layers={list(self._layers)} ({state})>"
        )

    # -- life cycle --------------------------------------------------------------------------

    def build(self, inputs, outputs, layers, example_input=None, example_target=None):
        """Builds the network and makes it the library's one network; returns self.

        ``example_input`` (``inputs`` values) and ``example_target`` (``outputs`` values)
        default to zeros. Weights start as small random draws. Raises TypeError/ValueError for
        bad arguments (nothing changes), and OscnetError when the library refuses the network
        (too large for the machine's memory or the process's address-space limit, or memory
        running out); the library then keeps the network it had, and so does every object.
        """
        global _owner
        inputs = _count(inputs, "inputs")
        outputs = _count(outputs, "outputs")
        described = _normalised_layers(layers)
        x = (
            _zeros(inputs)
            if example_input is None
            else _row(example_input, inputs, "example_input")
        )
        y = (
            _zeros(outputs)
            if example_target is None
            else _row(example_target, outputs, "example_target")
        )
        units = (ctypes.c_int * len(described))(*(units for units, _ in described))
        codes = (ctypes.c_int * len(described))(*(ACTIVATIONS[name] for _, name in described))
        library = load_library()
        with _calls:
            built = library.build_net(
                ctypes.byref(ctypes.c_int(len(described))),
                ctypes.byref(ctypes.c_int(inputs)),
                ctypes.byref(ctypes.c_int(outputs)),
                x,
                y,
                units,
                codes,
            )
            if not built:
                raise OscnetError(
                    f"the library refused to build a network of {inputs} inputs, {outputs} "
                    f"outputs and layers {list(described)}: it is larger than the machine's "
                    "physical memory or the process's address-space limit, or memory ran out "
                    "while building. The network held before, if any, is unchanged."
                )
            if self._finalizer is not None:
                self._finalizer.detach()
            token = object()
            _owner = token
            self._token = token
            self._finalizer = weakref.finalize(self, _release_orphan, token)
            self._inputs, self._outputs, self._layers = inputs, outputs, described
            self._param_count = library.oscnet_param_count()
        return self

    def release(self):
        """Frees this object's network. Does nothing when the object holds none (never built,
        released already, or replaced by another build), so calling it twice is safe."""
        global _owner
        with _calls:
            if self._token is not None and self._token is _owner:
                load_library().release_net()
                _owner = None
            self._token = None
            if self._finalizer is not None:
                self._finalizer.detach()
                self._finalizer = None

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.release()
        return False

    def _require(self):
        """The library, after checking that it holds this object's network."""
        global _owner
        if self._token is None:
            raise OscnetError("this Network has no network: call build() or Network.load() first")
        if self._token is not _owner:
            raise OscnetError(
                "this Network's network was replaced by another build (the library holds one "
                "network per process, and another Network built or loaded since); build this "
                "object again to use it"
            )
        library = load_library()
        if library.oscnet_param_count() != self._param_count:
            _owner = None
            raise OscnetError(
                "the library's network is no longer the one this Network built: it was "
                "released or rebuilt by direct calls to the library"
            )
        return library

    # -- training and prediction -------------------------------------------------------------

    def train(self, x, y, iterations=1, learning_rate=0.01, optimizer="gd"):
        """Trains on one example (``x``: ``inputs`` values, ``y``: ``outputs`` values) for
        ``iterations`` steps and returns the loss sum((output - target)^2) measured before the
        last step, as a float.

        ``optimizer`` is ``"gd"`` (gradient descent) or ``"adagrad"`` (its state restarts on
        every call). ``iterations=0`` only writes the example and returns the loss of the last
        evaluation (nan before any training). A loss of ``float('nan')`` is a value, not an
        error: training diverged, or the example or the weights hold NaN (the library also
        returns NaN if memory runs out during the call; the network stays usable).
        """
        if isinstance(optimizer, str) and optimizer in OPTIMIZERS:
            optimizer_code = OPTIMIZERS[optimizer]
        elif isinstance(optimizer, str):
            raise ValueError(f"optimizer {optimizer!r} is not 'gd' or 'adagrad'")
        else:
            raise TypeError(f"optimizer must be 'gd' or 'adagrad', not {type(optimizer).__name__}")
        iterations = _count(iterations, "iterations", minimum=0)
        if isinstance(learning_rate, bool) or not isinstance(learning_rate, numbers.Real):
            raise TypeError(
                f"learning_rate must be a real number, not {type(learning_rate).__name__}"
            )
        with _calls:
            library = self._require()
            x_row = _row(x, self._inputs, "x")
            y_row = _row(y, self._outputs, "y")
            return float(
                library.train(
                    self._inputs,
                    self._outputs,
                    x_row,
                    y_row,
                    iterations,
                    ctypes.byref(ctypes.c_double(float(learning_rate))),
                    ctypes.byref(ctypes.c_int(optimizer_code)),
                )
            )

    def predict(self, x, out=None):
        """The network's outputs for ``x`` (``inputs`` values): a numpy array when ``x`` is
        one, else a list of ``outputs`` floats. With ``out`` (a writable contiguous buffer of
        ``outputs`` doubles: a float64 numpy array, an ``array.array('d')``...), the library
        writes straight into it and ``out`` is returned. Leaves the training loss alone. NaN
        inputs give NaN outputs."""
        with _calls:
            library = self._require()
            x_row = _row(x, self._inputs, "x")
            if out is not None:
                out_row = _output_row(out, self._outputs)
                library.Predict(self._inputs, self._outputs, x_row, out_row)
                return out
            numpy = _numpy_array(x)
            if numpy is not None:
                result = numpy.empty(self._outputs, dtype=numpy.float64)
                out_row = result.ctypes.data_as(_DOUBLE_P)
                library.Predict(self._inputs, self._outputs, x_row, out_row)
                return result
            result = (ctypes.c_double * self._outputs)()
            library.Predict(self._inputs, self._outputs, x_row, result)
            return list(result)

    # -- weights -----------------------------------------------------------------------------

    @property
    def param_count(self):
        """Number of weights and biases: layer by layer from the input, the weight matrix
        (``width x units``, column by column), then the bias row."""
        with _calls:
            self._require()
            return self._param_count

    def _transfer_count(self):
        if self._param_count < 0:
            raise OscnetError("the network has more than INT_MAX weights; they cannot be copied")
        return self._param_count

    def get_params(self):
        """All weights and biases as a list of floats, in the order of ``param_count``."""
        with _calls:
            library = self._require()
            count = self._transfer_count()
            values = (ctypes.c_double * count)()
            if library.oscnet_get_params(values, count) != count:
                raise OscnetError("oscnet_get_params refused to copy the weights")
            return list(values)

    def set_params(self, values):
        """Overwrites all weights and biases with ``values`` (exactly ``param_count`` real
        numbers, in the order ``get_params`` returns them). NaN and infinities are taken as
        they are. Raises ValueError for a wrong count, TypeError for non-numbers; then nothing
        changes."""
        with _calls:
            library = self._require()
            count = self._transfer_count()
            row = _row(values, count, "values")
            if library.oscnet_set_params(row, count) != count:
                raise OscnetError("oscnet_set_params refused the weights")

    def save(self, path):
        """Writes the description and the weights to ``path`` as an oscnet-weights JSON file
        (replacing it as a whole). Raises ValueError, writing nothing, when a weight is NaN
        or infinite: strict JSON cannot hold those."""
        with _calls:
            params = self.get_params()
            _weights.write(path, self._inputs, self._outputs, self._layers, params)

    @classmethod
    def load(cls, path):
        """Makes a Network from an oscnet-weights JSON file: builds the network it describes
        (replacing the library's network, like ``build``) and sets its weights.

        The file is checked before anything is built; a malformed file, or one whose params do
        not match its layers, raises ValueError naming the file and leaves the library's
        network as it was. Errors reading the file raise OSError.
        """
        inputs, outputs, layers, params = _weights.read(path)
        described = _normalised_layers(layers)
        expected = _param_total(inputs, outputs, described)
        if len(params) != expected:
            raise ValueError(
                f"{path}: has {len(params)} params, but the network it describes has "
                f"{expected} weights and biases"
            )
        network = cls()
        with _calls:
            network.build(inputs, outputs, described)
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
