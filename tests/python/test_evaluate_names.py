"""vorncalc.evaluate takes the arrays and numbers of a formula by name from
the caller, as numexpr.evaluate does, and compiles each text once."""

import numpy as np
import pytest

import vorncalc
from vorncalc import _evaluate
from conftest import bits_of

A = np.array([0.1, -2.5, 3e300, np.nan])
B = np.array([0.7, 1e-310, -3e300, 1.0])


def test_the_callers_local_arrays_give_numpys_bits():
    a, b = A, B
    result = vorncalc.evaluate("2*a+3*b")
    assert [bits_of(v) for v in result] == [bits_of(v) for v in 2 * a + 3 * b]
    assert result.dtype == np.float64


def test_numbers_only_give_a_float_and_globals_are_found():
    scale = 4
    assert vorncalc.evaluate("scale * A", global_dict={"A": 0.5}) == 2.0
    assert vorncalc.evaluate("2*np_free") == 6.0


np_free = 3


# text, local_dict, global_dict, the value
BY_NAME = [
    ("x + y", {"x": 1.0}, {"x": 10.0, "y": 2.0}, 3.0),  # locals first, as numexpr
    ("2*SIN(a)", {"a": 30.0}, {}, 1.0),  # the vocabulary without case, as on the command line
    ("A - a", {"A": 5.0, "a": 1.0}, {}, 4.0),  # the caller's names keep theirs
    ("x + pi", {"x": 1.0, "pi": 7.0}, {}, 1.0 + np.pi),  # the vocabulary's names are never the caller's
    ("sqrt(e) * 1mm?", {"e": 9.0, "mm": 2.0}, {}, np.sqrt(np.e) * 1.0),
    ("5mm + x", {"x": 1.0}, {}, 6.0),  # a unit suffix run into its number is no name
    ("1.5e3 + e3", {"e3": 1.0}, {}, 1501.0),
]


@pytest.mark.parametrize("text,local_dict,global_dict,value", BY_NAME)
def test_names_are_looked_up_locals_first_and_the_vocabulary_is_the_languages(text, local_dict, global_dict,
                                                                                 value):
    assert vorncalc.evaluate(text, local_dict, global_dict) == pytest.approx(value, rel=1e-15)


def test_without_the_callers_names_it_is_the_command_line():
    assert vorncalc.evaluate("2*sin(30)+5mm", units="m") == 1.005
    assert vorncalc.evaluate("5mm", {}, {}, units="in") == pytest.approx(5 / 25.4)


def test_out_receives_the_results():
    x = np.arange(4.0)
    out = np.empty(4)
    assert vorncalc.evaluate("x^2", out=out) is out
    assert out.tolist() == [0.0, 1.0, 4.0, 9.0]


def test_a_name_found_nowhere_is_refused_about_the_text_as_written():
    x = 1.0
    with pytest.raises(vorncalc.FormulaError, match=r"^Unknown token found: X \+ q <- here$") as raised:
        vorncalc.evaluate("X + Q", {"X": x})
    assert raised.value.position == 5 and raised.value.formula == "X + Q"


def test_each_text_is_compiled_once_and_the_cache_is_bounded():
    x = np.arange(3.0)
    _evaluate._compiled.cache_clear()
    for _ in range(3):
        vorncalc.evaluate("x*7 + 1")
    assert _evaluate._compiled.cache_info().misses == 1
    vorncalc.evaluate("x*7 + 1", math="deterministic")  # options are part of the key
    vorncalc.evaluate("x*7 + 1", {"x": 2.0})  # as are the names, not their values
    assert _evaluate._compiled.cache_info().misses == 2
    for i in range(300):
        vorncalc.evaluate(f"x + {i}")
    assert _evaluate._compiled.cache_info().currsize <= 256


def test_numexpr_gives_the_same_values():
    ne = pytest.importorskip("numexpr")
    a, b = A[:3], B[:3]
    for text in ["2*a+3*b", "a*b - a/b", "(a < b) * 1.0"]:
        ours, theirs = vorncalc.evaluate(text), ne.evaluate(text)
        assert [bits_of(v) for v in ours] == [bits_of(v) for v in theirs], text
