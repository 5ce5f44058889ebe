"""Python bindings (ctypes, standard library only) for oscnet, a small fully connected
neural-network library with a Lee-oscillator activation.

Quick start (the library is found through OSCNET_LIBRARY, a copy carried in this package, the
build tree next to a source checkout, or an installed copy; see ``oscnet._library``)::

    import oscnet

    with oscnet.Network() as net:  # released at the end of the block
        net.build(inputs=2, outputs=1, layers=[(8, "tanh")], seed=7)
        for _ in range(100):
            loss = net.train([0.5, -0.5], [0.25], iterations=5, learning_rate=0.05)
        print(f"loss {loss:.2e}, output {net.predict([0.5, -0.5])[0]:.4f}")
        print(net.predict_rows([[0.5, -0.5], [0.0, 0.0]]))
        net.save("net.json")

    net = oscnet.Network.load("net.json")  # the same layers and weights
    print(net.predict([0.5, -0.5]))
    net.release()

Every Network owns a network of its own: any number may be alive at once, and each is freed
by ``release``, the end of its ``with`` block, or when the object is collected. The seed given
to ``build`` (or drawn at random and kept in ``Network.seed``) makes a run repeat bit for bit.
Threads: calls on one Network are serialised by its own lock; different Networks share no
lock and compute in parallel (the library runs without the GIL). Adagrad's state persists
across ``train`` calls until ``reset_optimizer()``. Rows are always full (exactly ``inputs``
inputs, ``outputs`` targets). A NaN loss or output is a value, not an error. Weights files
are the JSON format described in ``oscnet._weights``.

Rows may be any sequence of real numbers. A buffer of doubles (``array.array('d')``, a numpy
float64 array that is C-contiguous) reaches the library without a copy; other
numpy arrays are converted. ``predict`` returns a numpy array when given one, and writes into
``out=`` when asked; ``predict_rows`` takes a 2-D numpy array (rows of ``inputs`` values) and
returns one. numpy is optional: the package never imports it.
"""

from ._library import VERSION, OscnetError, library_path, load_library
from .network import ACTIVATIONS, OPTIMIZERS, Network

__all__ = ["Network", "OscnetError", "ACTIVATIONS", "OPTIMIZERS", "my_add", "library_path"]

# The version of include/oscnet.h (and of the library) this package is written for.
__version__ = ".".join(str(part) for part in VERSION)


def my_add(first, second):
    """The library's diagnostic myAdd: prints "I am here!" on the C library's standard output
    and returns first - second, wrapping like a 32-bit int."""
    return load_library().myAdd(first, second)
