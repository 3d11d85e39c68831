"""Sequence arguments read through the buffer protocol (C-contiguous float64 buffers) must give
exactly what element-by-element iteration gives: the same values bit for bit, the same errors."""
import array
import math

import numpy as np
import pytest

import velmora

from _support import FUNCTIONS


class Plain:
    """The same elements as a plain Python sequence without a buffer: forces iteration."""

    def __init__(self, values):
        self._values = list(values)

    def __len__(self):
        return len(self._values)

    def __getitem__(self, index):
        return self._values[index]


L = np.array([0.0, 0.3, 0.999999, 1.0, 1.0000001, 2.5, 40.0, -1.0, math.nan, math.inf, 5e-324])
BL = np.array([0.0, 0.4, 0.8, 1.0])
BF = np.array([1.0, 0.9, 0.6, 0.4])

# Every other function in registration order: the uniform disk, an integrated law and an integrated
# map (one of each route) and the discrete map; the others convert their sequences the same way.
SEQUENCE_FUNCTIONS = FUNCTIONS[::2]

# Objects that take the buffer path (contiguous native float64) and objects that offer a buffer
# the path must decline (another type, byte order or layout), which iterate as before.
LAYOUTS = {
    "numpy float64": lambda a: np.ascontiguousarray(a, dtype=np.float64),
    "array('d')": lambda a: array.array("d", a),
    "memoryview": lambda a: memoryview(array.array("d", a)),
    "numpy big-endian": lambda a: a.astype(">f8"),
    "numpy strided": lambda a: np.repeat(a, 2)[::2],
    "numpy float32": lambda a: a.astype(np.float32),
    "numpy read-only": lambda a: np.frombuffer(a.tobytes(), dtype=np.float64),
}


def outcome(function, l, bl, bf):
    try:
        return ("ok", [np.float64(v).tobytes() for v in function.fn(*(l, 1.0, 0.1, bl, bf)[:len(function.params)])])
    except BaseException as exc:  # noqa: BLE001 - PanicException derives from BaseException
        return (type(exc).__name__, str(exc))


@pytest.mark.parametrize("layout", list(LAYOUTS))
@pytest.mark.parametrize("function", SEQUENCE_FUNCTIONS, ids=str)
def test_buffer_and_iteration_agree(function, layout):
    make = LAYOUTS[layout]
    l = L[:6] if function.name.startswith("integrated") else L  # keep the integrated calls short
    fast = outcome(function, make(l), make(BL), make(BF))
    # The iteration path sees the same element values as Python floats.
    slow = outcome(function, Plain(np.asarray(make(l), dtype=np.float64).tolist()),
                   Plain(np.asarray(make(BL), dtype=np.float64).tolist()),
                   Plain(np.asarray(make(BF), dtype=np.float64).tolist()))
    assert fast == slow, f"{function} with {layout}: {fast} != {slow}"


def numpy_error(action):
    try:
        action()
    except TypeError as exc:
        return f"argument 'l': {exc}"
    raise AssertionError("no TypeError")


@pytest.mark.parametrize("value, message", [
    (np.zeros((2, 2)), numpy_error(lambda: float(np.zeros(2)))),
    (np.float64(1.0), "argument 'l': 'float64' object cannot be converted to 'Sequence'"),
    (np.array(1.0), numpy_error(lambda: iter(np.array(1.0)))),
], ids=["2-d", "numpy scalar", "0-d"])
def test_buffers_that_are_not_float_vectors_keep_the_sequence_rules(value, message):
    # A 2-D or 0-d float64 array is not read as raw doubles: it is iterated (or refused) exactly
    # as any other sequence, with numpy's own message for the element that fails.
    with pytest.raises(TypeError) as info:
        velmora.witt_mao_magnification(value, 1.0, 0.1)
    assert str(info.value) == message


def test_byte_buffers_are_iterated():
    assert velmora.witt_mao_magnification(bytearray(b"\x00\x02"), 1.0, 0.1) == \
        velmora.witt_mao_magnification([0.0, 2.0], 1.0, 0.1)


def test_buffer_is_copied_not_kept():
    # The result depends on the values at call time only; the caller's array may change after.
    l = np.linspace(0.0, 3.0, 50)
    first = velmora.witt_mao_magnification(l, 1.0, 0.2)
    l[:] = 0.5
    assert velmora.witt_mao_magnification(np.linspace(0.0, 3.0, 50), 1.0, 0.2) == first
