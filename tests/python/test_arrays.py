"""Arrays: every length, shape and dtype, each value that of a single call."""

import numpy as np
import pytest

import vorncalc

FORMULA = "x * y - sqrt(abs(x)) / (y + 0.5) + (x > y)"


@pytest.fixture(scope="module")
def formula():
    return vorncalc.Formula(FORMULA, variables=("x", "y"))


def singles(f, xs, ys):
    return np.array([f(x=float(x), y=float(y)) for x, y in zip(xs, ys)], dtype=np.float64)


# lengths around the lane widths of the processor (2, 4, 8) and longer odd ones
@pytest.mark.parametrize("length", [0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 1023, 4097])
def test_every_length(formula, length):
    rng = np.random.default_rng(length)
    xs, ys = rng.normal(size=length) * 10, rng.normal(size=length)
    values = formula(x=xs, y=ys)
    assert values.shape == (length,)
    assert values.tobytes() == singles(formula, xs, ys).tobytes()


def test_numbers_are_held_at_every_point(formula):
    xs = np.linspace(-3, 3, 101)
    assert formula(x=xs, y=2.0).tobytes() == singles(formula, xs, [2.0] * 101).tobytes()
    assert formula(x=-1, y=xs).tobytes() == singles(formula, [-1.0] * 101, xs).tobytes()


# the result's type: float16 and float32 where NumPy's result type of the
# arrays is one of them, else float64
DTYPES = [
    ((np.float64,), np.float64),
    ((np.float32,), np.float32),
    ((np.float16,), np.float16),
    ((np.float16, np.float32), np.float32),
    ((np.float32, np.int8), np.float32),
    ((np.float32, np.int32), np.float64),
    ((np.float32, np.float64), np.float64),
    ((np.int8,), np.float64),
    ((np.int32, np.uint64), np.float64),
    ((np.bool_,), np.float64),
    ((np.longdouble,), np.float64),
]


@pytest.mark.parametrize("dtypes,result", DTYPES)
def test_the_result_type_and_each_value_rounded_once(formula, dtypes, result):
    xs = np.arange(-5, 6).astype(dtypes[0])
    ys = (np.arange(11) % 3).astype(dtypes[-1]) if len(dtypes) > 1 else 1.5
    values = formula(x=xs, y=ys)
    assert values.dtype == result
    expected = formula(x=xs.astype(np.float64), y=np.asarray(ys, dtype=np.float64)).astype(result)
    assert values.tobytes() == expected.tobytes()


def test_a_result_rounded_to_float32_is_the_double_rounded_once():
    f = vorncalc.Formula("x / 3", variables=("x",))
    xs = np.arange(1, 1000, dtype=np.float32)
    assert f(xs).tobytes() == (xs.astype(np.float64) / 3).astype(np.float32).tobytes()


def test_sequences_views_and_shapes(formula):
    base = np.arange(24, dtype=np.float64) - 7
    strided = base[::3]
    assert formula(x=strided, y=2).tobytes() == formula(x=strided.copy(), y=2).tobytes()
    assert formula(x=[1, 2, 3], y=(4, 5, 6)).tolist() == formula(x=np.array([1.0, 2, 3]),
                                                                   y=np.array([4.0, 5, 6])).tolist()
    grid = base.reshape(4, 6)
    values = formula(x=grid, y=grid.T.copy().reshape(4, 6))
    assert values.shape == (4, 6)
    assert values.ravel().tobytes() == formula(x=base, y=grid.T.copy().ravel()).tobytes()
    fortran = np.asfortranarray(grid)
    assert formula(x=fortran, y=1).tobytes() == formula(x=grid, y=1).tobytes()


def test_a_zero_dimensional_array_is_a_number(formula):
    value = formula(x=np.array(2.0), y=np.array(3.0))
    assert isinstance(value, float)


def test_the_inputs_are_left_unchanged(formula):
    xs = np.arange(10, dtype=np.float64)
    before = xs.copy()
    formula(x=xs, y=xs)
    assert np.array_equal(xs, before)


def test_special_values_pass_bit_for_bit():
    f = vorncalc.Formula("x * 1", variables=("x",))
    special = np.array([np.nan, -np.nan, np.inf, -np.inf, 5e-324, -0.0, 2.2250738585072014e-308])
    payload = np.array([0x7FF8000000000123], dtype=np.uint64).view(np.float64)
    xs = np.concatenate([special, payload])
    expected = np.array([f(x=float(x)) for x in xs])
    assert f(x=xs).tobytes() == expected.tobytes()


# NaN in min, max and sign: the formula language's rule, kept over arrays
# (stated in help(vorncalc)), not NumPy's NaN everywhere
NAN_RULE = [("max(x, 0)", 0.0), ("max(0, x)", np.nan), ("min(x, 0)", 0.0), ("min(0, x)", np.nan),
            ("sign(x)", -1.0), ("x != x", 1.0)]


@pytest.mark.parametrize("text,value", NAN_RULE)
def test_nan_in_min_max_and_sign_follows_the_formula_languages_rule(text, value):
    f = vorncalc.Formula(text, variables="x")
    assert np.array_equal(f(np.array([np.nan, np.nan])), [value, value], equal_nan=True)
    assert np.array_equal([f(np.nan)], [value], equal_nan=True)


def test_a_formula_that_folded_to_a_number_fills_the_array():
    f = vorncalc.Formula("2 * _pi", variables=("x",))
    assert f(x=np.zeros(5)).tolist() == [2 * np.pi] * 5
