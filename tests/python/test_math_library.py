"""math="deterministic": SLEEF's deterministic functions, the same bits over
arrays (several points at once) as at one point, in every copy."""

import pickle

import numpy as np
import pytest

import vorncalc

FORMULAS = [
    "sinr(x) + cosr(y)",
    "tanr(x / 7) * sin(y)",
    "asinr(x / 11) + acos(y / 11) + atan(x)",
    "sinhr(x / 3) - coshr(y / 3) + tanhr(x)",
    "exp(x / 4) + ln(abs(y)) + log(abs(x) + 1) + log10(abs(y) + 2)",
    "abs(x)^y + 1.5^x + x^2 + y^1",
    "atan2r(x, y) + hypot(x, y) - mod(x, y) + pow(abs(y), x / 5) + where(x - y, x, y)",
    "cbrt(x) + log1p(abs(y)) + expm1(x / 9) + floor(x) - ceil(y) + trunc(x * 3) + round(y * 2)",
]


def points(count=100_003):
    rng = np.random.default_rng(20261208)
    x = rng.uniform(-10, 10, count)
    y = rng.uniform(-10, 10, count)
    # what the lanes must carry as the one point does: zeros, infinities,
    # NaN with payloads, huge arguments
    special = [0.0, -0.0, np.inf, -np.inf, 1e300, -1e300, 5e-324, 2.0**60]
    x[: len(special)] = special
    y[len(special) : 2 * len(special)] = special
    x[100] = np.frombuffer(np.uint64(0x7FF8000000001234).tobytes(), dtype=np.float64)[0]
    y[101] = np.frombuffer(np.uint64(0xFFF80000000ABCDE).tobytes(), dtype=np.float64)[0]
    return x, y


@pytest.mark.parametrize("text", FORMULAS)
def test_arrays_give_the_bits_of_single_calls(text):
    f = vorncalc.Formula(text, variables=("x", "y"), math="deterministic")
    x, y = points()
    values = f(x=x, y=y)
    sample = np.r_[0:300, 1000:100_003:997]
    singles = np.array([f(x=float(x[i]), y=float(y[i])) for i in sample])
    assert values[sample].tobytes() == singles.tobytes()


@pytest.mark.parametrize(
    "text",
    ["sinr(x)", "cosr(x)", "tanr(x / 7)", "asinr(x / 11)", "acosr(x / 11)", "atan(x)", "sinhr(x / 3)",
     "coshr(x / 3)", "tanhr(x)", "exp(x / 4)", "ln(abs(x))", "log10(abs(x))", "abs(x)^y", "1.5^x"],
)
def test_each_function_within_two_units_in_the_last_place_of_the_c_library(text):
    x, y = points()
    ours = vorncalc.Formula(text, variables=("x", "y"), math="deterministic")(x=x, y=y)
    theirs = vorncalc.Formula(text, variables=("x", "y"))(x=x, y=y)
    assert np.array_equal(np.isnan(ours), np.isnan(theirs))
    finite = np.isfinite(theirs) & (theirs != 0)
    assert np.all(np.abs(ours[finite] - theirs[finite]) <= 2 * np.spacing(np.abs(theirs[finite])))


def test_the_two_libraries_differ_somewhere_in_the_last_place():
    x, _ = points()
    ours = vorncalc.Formula("sinr(x)", variables="x", math="deterministic")(x)
    theirs = vorncalc.Formula("sinr(x)", variables="x")(x)
    assert 0 < np.count_nonzero(ours != theirs) < len(x) // 10


def test_the_library_travels_with_the_formula():
    f = vorncalc.Formula("sinr(x)", variables="x", math="deterministic")
    assert f.math == "deterministic" and vorncalc.Formula("x", variables="x").math == "c"
    assert 'math="deterministic"' in repr(f)
    twin = pickle.loads(pickle.dumps(f))
    x, _ = points(1000)
    assert twin.math == "deterministic" and twin(x).tobytes() == f(x).tobytes()
    assert f.__dask_tokenize__() != vorncalc.Formula("sinr(x)", variables="x").__dask_tokenize__()


def test_a_users_own_function_keeps_its_name():
    f = vorncalc.Formula("sinr(x)", variables="x", functions={"sinr": lambda v: 2 * v}, math="deterministic")
    assert f(x=1.5) == 3.0


@pytest.mark.parametrize("math, error", [("sleef", ValueError), ("C", ValueError), (1, TypeError), (None, TypeError)])
def test_unknown_libraries_are_refused(math, error):
    with pytest.raises(error):
        vorncalc.Formula("x", variables="x", math=math)
