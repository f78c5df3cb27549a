"""A Formula travels as what it was made from: pickle, copy, deepcopy and
other processes."""

import concurrent.futures
import copy
import multiprocessing
import pickle

import numpy as np
import pytest

import vorncalc


def scale(v):
    return 10 * v


MADE_WITH = [
    dict(text="sqrt(x^2 + y^2)", variables=("x", "y")),
    dict(text="x * k + K", variables=("x",), constants={"k": 0.1, "K": -2}),
    dict(text="g(x) + 5mm", variables=["x"], functions={"g": scale}, units="m"),
    dict(text="rnd(x)", variables=("x",), units=2, seed=7),
    dict(text="x / 3", variables=("x",), threads=3),
]


def same(a, b):
    return (a.text, a.variables, a.units, a.seed, a.threads, a.calls_python) == (
        b.text, b.variables, b.units, b.seed, b.threads, b.calls_python)


@pytest.mark.parametrize("made_with", MADE_WITH)
@pytest.mark.parametrize("duplicate", [lambda f: pickle.loads(pickle.dumps(f)), copy.copy, copy.deepcopy])
def test_a_copy_computes_what_the_original_computes(made_with, duplicate):
    original = vorncalc.Formula(**made_with)
    twin = duplicate(original)
    assert twin is not original and same(twin, original)
    points = np.linspace(0.5, 4, 7)
    arguments = [points] * len(original.variables)
    assert twin(*arguments).tobytes() == original(*arguments).tobytes()


def test_functions_travel_by_pickles_rules():
    f = vorncalc.Formula("g(x)", variables=("x",), functions={"g": lambda v: v})
    assert copy.deepcopy(f)(2.0) == 2.0  # copies keep the callable itself
    with pytest.raises((pickle.PicklingError, AttributeError)):
        pickle.dumps(f)


def evaluate_in_child(formula, value):
    return formula(value)


def test_a_formula_goes_to_other_processes():
    f = vorncalc.Formula("g(x) * k", variables=("x",), functions={"g": scale}, constants={"k": 3})
    context = multiprocessing.get_context("spawn")
    with context.Pool(2) as pool:
        assert pool.starmap(evaluate_in_child, [(f, 1.0), (f, 2.0)]) == [30.0, 60.0]
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as executor:
        assert list(executor.map(evaluate_in_child, [f], [np.arange(3.0)]))[0].tolist() == [0.0, 30.0, 60.0]
