"""A seed makes rnd's draws reproducible: the same seed, the same values, in
every call, copy and process."""

import pickle

import numpy as np
import pytest

import vorncalc


def test_evaluate_with_a_seed_draws_the_same_each_time():
    values = {seed: [vorncalc.evaluate("rnd(32768) + 32768*rnd(32768)", seed=seed) for _ in range(3)]
              for seed in (0, 1, 2**32 - 1)}
    for drawn in values.values():
        assert drawn[0] == drawn[1] == drawn[2]
    assert len({drawn[0] for drawn in values.values()}) == 3


def test_a_seeded_formula_gives_the_same_array_in_every_call_and_copy():
    f = vorncalc.Formula("rnd(x)", variables=("x",), units="mm", seed=42)
    xs = np.full(1000, 32768.0)
    first = f(x=xs)
    assert np.array_equal(first, f(x=xs))
    assert np.array_equal(first, pickle.loads(pickle.dumps(f))(x=xs))
    assert len(set(first.tolist())) > 900  # draws, not one value
    assert np.all(first == np.floor(first)) and first.min() >= 0 and first.max() < 32768
    other = vorncalc.Formula("rnd(x)", variables=("x",), units="mm", seed=43)(x=xs)
    assert not np.array_equal(first, other)
    assert f(x=32768.0) == first[0]


def test_without_a_seed_the_draws_differ():
    f = vorncalc.Formula("rnd(x)", variables=("x",), units="mm")
    xs = np.full(100, 32768.0)
    assert not np.array_equal(f(x=xs), f(x=xs))


@pytest.mark.parametrize("seed,error", [(-1, ValueError), (2**32, ValueError), (1.5, TypeError), ("1", TypeError),
                                        (True, TypeError)])
def test_a_seed_is_an_int_of_32_bits(seed, error):
    with pytest.raises(error):
        vorncalc.evaluate("rnd(1)", seed=seed)
    with pytest.raises(error):
        vorncalc.Formula("rnd(1)", units="mm", seed=seed)
