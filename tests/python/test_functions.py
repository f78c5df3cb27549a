"""Python functions in formulas: arity, exceptions, results, references."""

import gc
import math
import sys

import numpy as np
import pytest

import vorncalc


def test_one_positional_argument_makes_a_function_of_one_argument():
    f = vorncalc.Formula("twice(x) + twice(3)", variables=("x",), functions={"twice": lambda v: 2 * v})
    assert f(x=1.5) == 9.0
    with pytest.raises(vorncalc.FormulaError, match="Too many function parameter"):
        vorncalc.Formula("twice(1, 2)", functions={"twice": lambda v: 2 * v})


def variadic(*values):
    return sum(values)


def keyword_only(*values, scale):
    return scale


@pytest.mark.parametrize(
    "callable_,text,value",
    [
        (lambda v, lo, hi: min(max(v, lo), hi), "f(7, 0, 1)", 1.0),
        (variadic, "f(1, 2, 3, 4)", 10.0),
        (variadic, "f(5)", 5.0),
        (lambda a, b=10: a + b, "f(1)", 11.0),
        (lambda a, b=10: a + b, "f(1, 2)", 3.0),
        (math.hypot, "f(3, 4)", 5.0),
        (abs, "f(-2)", 2.0),
        (np.sqrt, "f(16)", 4.0),
    ],
)
def test_any_other_callable_takes_the_calls_arguments(callable_, text, value):
    assert vorncalc.Formula(text, functions={"f": callable_})() == value


def test_a_wrong_number_of_arguments_raises_the_callables_type_error():
    f = vorncalc.Formula("clamp(x, 1)", variables=("x",), functions={"clamp": lambda v, lo, hi: v})
    with pytest.raises(TypeError, match="missing 1 required positional argument"):
        f(x=1.0)
    g = vorncalc.Formula("f(1)", functions={"f": keyword_only})
    with pytest.raises(TypeError, match="scale"):
        g()


class Refused(Exception):
    pass


def refuse(value):
    if value > 2:
        raise Refused(f"too large: {value}")
    return value


def test_an_exception_propagates_unchanged_from_calls_and_arrays():
    f = vorncalc.Formula("1 + refuse(x)", variables=("x",), functions={"refuse": refuse})
    assert f(x=2.0) == 3.0
    with pytest.raises(Refused, match="too large: 3.0") as raised:
        f(x=3.0)
    assert raised.value.__traceback__ is not None
    with pytest.raises(Refused, match="too large: 4.0"):
        f(x=np.array([1.0, 2.0, 4.0, 5.0]))
    assert f(x=np.array([0.0, 1.0])).tolist() == [1.0, 2.0]  # the formula works on


@pytest.mark.parametrize("result,error", [(None, TypeError), ("1", TypeError), (1j, TypeError)])
def test_a_result_that_is_no_number_raises_type_error(result, error):
    f = vorncalc.Formula("f(1)", functions={"f": lambda v: result})
    with pytest.raises(error):
        f()


@pytest.mark.parametrize("result", [3, True, np.float32(0.5), np.int64(-4), math.inf])
def test_results_that_are_numbers_are_taken(result):
    assert vorncalc.Formula("f(0)", functions={"f": lambda v: result})() == float(result)


def test_functions_run_at_every_point_and_never_while_compiling():
    seen = []

    def record(v):
        seen.append(v)
        return v * 10

    f = vorncalc.Formula("record(x) + record(2)", variables=("x",), functions={"record": record})
    assert seen == []
    assert f.calls_python
    assert f(x=np.array([1.0, 3.0])).tolist() == [30.0, 50.0]
    assert seen == [1.0, 2.0, 3.0, 2.0]


def test_a_function_the_formula_does_not_call_leaves_the_gil_free():
    f = vorncalc.Formula("x + 1", variables=("x",), functions={"unused": abs})
    assert not f.calls_python
    assert vorncalc.Formula("unused(x)", variables=("x",), functions={"unused": abs}).calls_python


def test_a_function_may_evaluate_formulas_itself():
    inner = vorncalc.Formula("v * 2", variables=("v",))
    outer = vorncalc.Formula("g(x) + 1", variables=("x",), functions={"g": lambda v: inner(v=v)})
    assert outer(x=np.arange(3.0)).tolist() == [1.0, 3.0, 5.0]
    nested = vorncalc.Formula("h(x)", variables=("x",), functions={"h": lambda v: outer(x=v)})
    assert nested(x=4.0) == 9.0


def test_the_formula_holds_its_functions_and_releases_them():
    class Tracked:
        def __call__(self, v):
            return v

    function = Tracked()
    before = sys.getrefcount(function)
    f = vorncalc.Formula("t(x)", variables=("x",), functions={"t": function})
    held = sys.getrefcount(function)
    assert held > before
    for _ in range(1000):
        f(x=1.0)
    assert sys.getrefcount(function) == held
    del f
    gc.collect()
    assert sys.getrefcount(function) == before


def test_a_lambda_stays_alive_with_its_formula():
    f = vorncalc.Formula("g(2)", functions={"g": lambda v: v + 0.5})
    gc.collect()
    assert f() == 2.5


def test_any_number_of_formulas_with_functions_live_at_once():
    formulas = [
        vorncalc.Formula("add(x)", variables=("x",), functions={"add": lambda v, k=k: v + k}) for k in range(300)
    ]
    assert [f(x=0.5) for f in formulas] == [k + 0.5 for k in range(300)]


def test_a_function_may_call_its_own_formula():
    def count_down(v):
        return 0.0 if v <= 0 else 1.0 + f(x=v - 1)

    f = vorncalc.Formula("g(x) * 1", variables=("x",), functions={"g": count_down})
    assert f(x=5.0) == 5.0
    assert f(x=np.array([0.0, 3.0, 7.0])).tolist() == [0.0, 3.0, 7.0]
