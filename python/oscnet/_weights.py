"""The oscnet-weights JSON file: a network's description and its weights.

    {"format": "oscnet-weights", "version": 1, "inputs": 3, "outputs": 2,
     "layers": [{"units": 8, "activation": "relu"}, {"units": 4, "activation": "tanh"}],
     "params": [0.1, -0.02, ...]}

``params`` is what ``oscnet_get_params`` returns: layer by layer from the input, the weight
matrix (width x units) column by column, then the bias row; the output layer last. Numbers are
written with ``repr`` precision, so they read back bit for bit. Activation names are ``relu``,
``sigmoid``, ``tanh``, ``lee`` and ``none``. Strict JSON: no NaN or infinities, and no keys
other than these and the optional lists of column names oscnet-train records: ``input_names``
(one string per input), ``target_names`` and ``class_names`` (one per output), which this
package checks and does not use.
"""

import json
import math
import os

from ._atomic_file import replace_file
from ._library import INT_MAX

FORMAT = "oscnet-weights"
VERSION = 1
ACTIVATION_NAMES = ("relu", "sigmoid", "tanh", "lee", "none")
_KEYS = ("format", "version", "inputs", "outputs", "layers", "params")
_NAME_KEYS = ("input_names", "target_names", "class_names")
_LAYER_KEYS = ("units", "activation")


def write(path, inputs, outputs, layers, params):
    """Writes the file (strict JSON, one line), replacing the old one as a whole: when writing
    fails (OSError), the old file is left as it was and no temporary file stays behind."""
    for index, value in enumerate(params):
        if not math.isfinite(value):
            raise ValueError(
                f"cannot save to {os.fspath(path)}: weight {index} is {value!r}, and the "
                "weights file (strict JSON) holds finite numbers only"
            )
    document = {
        "format": FORMAT,
        "version": VERSION,
        "inputs": inputs,
        "outputs": outputs,
        "layers": [{"units": units, "activation": name} for units, name in layers],
        "params": [float(value) for value in params],
    }
    text = json.dumps(document, allow_nan=False) + "\n"
    replace_file(path, text.encode("utf-8"))


def _reject_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def read(path):
    """Reads and checks the file; returns (inputs, outputs, [(units, name)], [floats]).
    Raises ValueError naming the file for anything malformed, OSError if it cannot be read."""
    path = os.fspath(path)

    def bad(message):
        return ValueError(f"{path}: not a valid oscnet weights file: {message}")

    with open(path, "rb") as stream:
        raw = stream.read()
    try:
        document = json.loads(raw.decode("utf-8"), parse_constant=_reject_constant)
    except (UnicodeDecodeError, ValueError) as error:
        raise bad(f"not JSON ({error})") from None

    if not isinstance(document, dict):
        raise bad("the top level is not a JSON object")
    if document.get("format") != FORMAT:
        raise bad(f'"format" is {document.get("format")!r}, not {FORMAT!r}')
    version = document.get("version")
    if not _is_int(version) or version != VERSION:
        raise bad(f'"version" is {version!r}; this package reads version {VERSION}')
    missing = [key for key in _KEYS if key not in document]
    if missing:
        raise bad("missing " + ", ".join(f'"{key}"' for key in missing))
    unknown = [key for key in document if key not in _KEYS and key not in _NAME_KEYS]
    if unknown:
        raise bad("unknown " + ", ".join(f'"{key}"' for key in unknown))

    for key in ("inputs", "outputs"):
        if not _is_int(document[key]) or not 1 <= document[key] <= INT_MAX:
            raise bad(f'"{key}" must be a whole number from 1 to {INT_MAX}, got {document[key]!r}')

    for key in _NAME_KEYS:
        if key not in document:
            continue
        width = document["inputs"] if key == "input_names" else document["outputs"]
        names = document[key]
        if (not isinstance(names, list) or len(names) != width
                or not all(isinstance(name, str) for name in names)):
            raise bad(f'"{key}" must be a list of {width} strings')

    layers = document["layers"]
    if not isinstance(layers, list) or not layers:
        raise bad('"layers" must be a non-empty list')
    described = []
    for index, layer in enumerate(layers):
        if not isinstance(layer, dict) or sorted(layer) != sorted(_LAYER_KEYS):
            raise bad(f'layers[{index}] must be {{"units": ..., "activation": ...}}, got {layer!r}')
        units, activation = layer["units"], layer["activation"]
        if not _is_int(units) or not 1 <= units <= INT_MAX:
            raise bad(
                f"layers[{index}] units must be a whole number from 1 to {INT_MAX}, got {units!r}"
            )
        if activation not in ACTIVATION_NAMES:
            raise bad(
                f"layers[{index}] activation {activation!r} is not one of "
                + ", ".join(ACTIVATION_NAMES)
            )
        described.append((units, activation))

    params = document["params"]
    if not isinstance(params, list):
        raise bad('"params" must be a list of numbers')
    values = []
    for index, value in enumerate(params):
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise bad(f"params[{index}] is {value!r}, not a number")
        try:
            value = float(value)
        except OverflowError:
            raise bad(f"params[{index}] is too large for a double") from None
        if not math.isfinite(value):
            raise bad(f"params[{index}] is not finite")
        values.append(value)
    return document["inputs"], document["outputs"], described, values
