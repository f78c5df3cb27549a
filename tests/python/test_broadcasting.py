"""Arrays as NumPy users expect: broadcasting, any strides and memory order
read without a whole copy, the result in the arrays' order, out=, and
numbers held rather than copied to every point."""

import os
import subprocess
import sys
import textwrap
import tracemalloc

import numpy as np
import pytest

import vorncalc

F = vorncalc.Formula("x * y - sqrt(abs(x)) / (y + 0.5)", variables=("x", "y"))


def expected(x, y):
    """Each value as a call with the numbers at that point computes it."""
    x, y = np.broadcast_arrays(np.asarray(x, dtype=np.float64), np.asarray(y, dtype=np.float64))
    return np.array([F(x=float(a), y=float(b)) for a, b in zip(x.ravel(), y.ravel())]).reshape(x.shape)


SHAPES = [
    ((3, 1), (4,)),
    ((1,), (3,)),
    ((3,), (1,)),
    ((2, 1, 3), (4, 1)),
    ((5,), ()),
    ((0,), (1,)),
    ((2, 0), (2, 1)),
    ((1, 1), (1, 1)),
]


@pytest.mark.parametrize("x_shape,y_shape", SHAPES)
def test_arrays_broadcast_as_numpys_do(x_shape, y_shape):
    rng = np.random.default_rng(len(x_shape) * 10 + len(y_shape))
    x, y = rng.normal(size=x_shape) * 5, rng.uniform(0, 3, size=y_shape)
    values = F(x=x, y=y)
    assert values.shape == np.broadcast_shapes(x_shape, y_shape)
    assert values.tobytes() == expected(x, y).tobytes()


def views():
    base = np.random.default_rng(3).normal(size=(40, 30)) * 4
    return {
        "fortran": np.asfortranarray(base),
        "transposed": base.T,
        "every third": base[::3, ::2],
        "reversed": base[::-1, ::-1],
        "column": base[:, 7],
        "byte-swapped": base.astype(base.dtype.newbyteorder()),
        "float32 strided": base.astype(np.float32)[::2],
        "broadcast view": np.broadcast_to(base[0], (5, 30)),
    }


@pytest.mark.parametrize("name", views())
def test_any_strides_and_order(name):
    x = views()[name]
    values = F(x=x, y=1.5)
    assert values.tobytes() == expected(x, 1.5).astype(values.dtype).tobytes()


@pytest.mark.parametrize("order", ["C", "F"])
def test_the_result_keeps_the_arrays_memory_order(order):
    x = np.ones((6, 4), order=order)
    values = F(x=x, y=np.ones((6, 4), order=order))
    assert values.flags[order + "_CONTIGUOUS"] and not values.flags[{"C": "F", "F": "C"}[order] + "_CONTIGUOUS"]
    assert F(x=x.T, y=2.0).flags["C_CONTIGUOUS" if order == "F" else "F_CONTIGUOUS"]


LARGE = {
    "fortran": lambda: np.asfortranarray(np.ones((2000, 1000))),
    "strided": lambda: np.lib.stride_tricks.as_strided(np.ones(3_000_000), shape=(1000, 1000), strides=(24_000, 24)),
    "reversed": lambda: np.ones((1000, 2000))[::-1, ::-1],
}


@pytest.mark.parametrize("name", LARGE)
def test_a_strided_or_fortran_array_is_not_copied_whole(name):
    x = LARGE[name]()
    tracemalloc.start()
    try:
        values = F(x=x, y=2.0)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < values.nbytes + 1_000_000


def test_out_takes_the_results():
    x = np.arange(12.0).reshape(3, 4)
    out = np.empty((3, 4))
    assert F(x, np.ones(4), out=out) is out
    assert out.tobytes() == expected(x, np.ones(4)).tobytes()
    out32 = np.empty((3, 4), dtype=np.float32)
    F(x, 2.0, out=out32)
    assert out32.tobytes() == expected(x, 2.0).astype(np.float32).tobytes()
    fortran = np.empty((3, 4), order="F")
    F(x, 2.0, out=fortran)
    assert fortran.tobytes("C") == expected(x, 2.0).tobytes()
    assert F(1.0, 2.0, out=np.zeros(3)).tolist() == [F(1.0, 2.0)] * 3


def test_out_may_be_an_input():
    x = np.linspace(-2, 2, 1001)
    want = expected(x, 0.25)
    assert F(x, 0.25, out=x) is x
    assert x.tobytes() == want.tobytes()
    y = np.arange(10.0)
    want = expected(y[:-1], y[1:])
    F(y[:-1], y[1:], out=y[1:])  # overlapping, not the same: read before written
    assert y[1:].tobytes() == want.tobytes()


@pytest.mark.parametrize("out,error", [
    (np.empty(3), ValueError),                 # not the broadcast shape
    (np.empty((1, 4)), ValueError),            # out is not broadcast
    (np.empty((3, 4), dtype=np.int64), TypeError),
    ([0.0] * 12, TypeError),
])
def test_out_is_refused_where_numpy_refuses_it(out, error):
    x = np.ones((3, 4))
    with pytest.raises(error):
        F(x, 1.0, out=out)
    readonly = np.empty((3, 4))
    readonly.flags.writeable = False
    with pytest.raises(ValueError):
        F(x, 1.0, out=readonly)


def test_a_variable_named_out_is_a_variable():
    f = vorncalc.Formula("out * 2", variables="out")
    assert f(out=3.0) == 6.0
    assert f(out=np.ones(2)).tolist() == [2.0, 2.0]


@pytest.mark.skipif("VORNCALC_SANITIZED" in os.environ, reason="the sanitizer's quarantine holds freed memory")
def test_numbers_are_held_not_copied_to_every_point():
    # The peak memory of a call with one array and four numbers: the array
    # and the result, nothing per point for the numbers.
    script = textwrap.dedent("""
        import resource, numpy as np, vorncalc
        f = vorncalc.Formula("x*a + b*c - d", variables=("x", "a", "b", "c", "d"))
        x = np.ones(1 << 24)
        f(x=x[:1000], a=2.0, b=3.0, c=4.0, d=5.0)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = f(x=x, a=2.0, b=3.0, c=4.0, d=5.0)
        assert result[0] == 9.0 and result[-1] == 9.0
        print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024 / result.nbytes)
    """)
    growth = float(subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                                  check=True).stdout)
    assert growth < 1.2  # the result itself; each number copied would add 1.0
