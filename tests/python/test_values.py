"""Values: the module computes what the C++ library computes, bit for bit."""

import math

import numpy as np
import pytest

import vorncalc
from conftest import bits_of

COMMAND_LINES = [
    ("2*sin(30)+5mm", "m", 4),
    ("2*sin(30)+5mm", "mm", 2),
    ("10in + 1ft", "ft", 9),
    ("10IN + 1FT", "FT", 9),
    ("sum(5mm,1in)", "in", 8),
    ("5cm?", "cm", 3),
    ("2^3^2", "km", 5),
    ("(2<5)*3", "uin", 6),
    ("pi*e", "mil", 7),
    ("1mi", "mi", 10),
    ("5mm + 1", 11, 11),
    ("5mm + 1", -3, -3),
    ("1/0", "mm", 2),
    ("-1/0", "mm", 2),
]


@pytest.mark.parametrize("text,units,number", COMMAND_LINES)
def test_evaluate_gives_the_command_lines_value(reference, text, units, number):
    value = vorncalc.evaluate(text, units=units)
    assert isinstance(value, float)
    assert bits_of(value) == reference(str(number), text)
    assert bits_of(vorncalc.evaluate(text, units=number)) == bits_of(value)


def test_evaluate_is_in_millimetres_by_default():
    assert vorncalc.evaluate("1in") == 25.4
    assert vorncalc.evaluate("2*sin(30)+5mm", units="m") == 1.005


def test_a_non_finite_value_is_a_value():
    assert vorncalc.evaluate("1/0") == math.inf
    assert math.isnan(vorncalc.evaluate("sqrt(-1)"))
    f = vorncalc.Formula("1/x", variables=("x",))
    assert f(x=0.0) == math.inf
    assert f(x=-0.0) == -math.inf


FORMULAS = [
    "1 + x^2",
    "sin(x) + cosr(x) * tanh(x / 7)",
    "sqrt(abs(x)) - log10(abs(x) + 1) + ln(2 + x^2) + exp(-x^2)",
    "sum(x, 2, 3) * avg(x, 1) + min(x, 0.5) - max(x, -0.5)",
    "(x > 0) * sign(x) + rint(x * 3.3) + (x <= 1 and x != 0)",
    "x / (x - x)",
    "-x^2 + _pi * _e",
    "asinr(x / 100) + atan(x) + log2(abs(x) + 1)",
    "atan2(x, 2) + hypot(x, 3) - mod(x, 0.75) + where(x > 0, ln(x), round(x)) * cbrt(x)",
]
POINTS = [0.0, -0.0, 1.0, -2.5, 1e-310, 3.75, 1e300, -7.0, math.inf, math.nan]


@pytest.mark.parametrize("text", FORMULAS)
def test_formula_gives_the_parsers_value_at_every_point(reference, text):
    f = vorncalc.Formula(text, variables=("x",))
    for x in POINTS:
        assert bits_of(f(x=x)) == reference("-", text, x), x


@pytest.mark.parametrize("text", FORMULAS)
def test_array_values_are_those_of_single_calls(text):
    f = vorncalc.Formula(text, variables=("x",))
    rng = np.random.default_rng(7)
    xs = np.concatenate([np.array(POINTS), rng.uniform(-20, 20, 3000)])
    # enough calls that the formula runs as machine code before the arrays
    singles = np.array([f(x=x) for x in xs])
    values = f(x=xs)
    assert values.dtype == np.float64
    assert values.tobytes() == singles.tobytes()


def test_units_give_the_calculators_vocabulary():
    f = vorncalc.Formula("(x)in + 5mm", variables=("x",), units="m")
    assert f(x=2.0) == 2 * 0.0254 + 0.005
    assert f.units == 4
    plain = vorncalc.Formula("2 * x", variables=("x",))
    assert plain.units is None
    with pytest.raises(vorncalc.FormulaError):
        vorncalc.Formula("5mm", units=None)
    assert vorncalc.Formula("5mm", units=2)() == 5.0
    assert vorncalc.Formula("pi", units="mm")() == math.pi


def test_constants_and_names_keep_their_case():
    f = vorncalc.Formula("k * X + K", variables=("X",), constants={"k": 2.5, "K": 1})
    assert f(X=2.0) == 6.0
    assert f.variables == ("X",)
    assert f.text == "k * X + K"


def test_constants_and_variables_replace_the_vocabulary():
    assert vorncalc.Formula("_pi", constants={"_pi": 3})() == 3.0
    assert vorncalc.Formula("sin(30)", functions={"sin": lambda v: v + 1})() == 31.0


def test_numbers_of_every_kind():
    f = vorncalc.Formula("x + y", variables=("x", "y"))
    assert f(x=1, y=True) == 2.0
    assert f(x=np.float32(0.5), y=np.int64(2)) == 2.5
    assert f(x=np.array(1.5), y=2**70) == 2.0**70 + 1.5
    assert isinstance(f(x=1, y=2), float)
    with pytest.raises(OverflowError):
        f(x=1, y=10**400)


def test_a_formula_without_variables_is_called_without_arguments():
    assert vorncalc.Formula("2*3")() == 6.0


def test_version_and_help(capsys):
    assert vorncalc.__version__.count(".") == 2
    help(vorncalc)
    text = capsys.readouterr().out
    for words in ("evaluate(text, units", "class Formula", "FormulaError", "GIL", "variables"):
        assert words in text
