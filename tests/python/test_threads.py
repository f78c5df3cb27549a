"""One Formula called from several Python threads at once."""

import threading
import time

import numpy as np

import vorncalc

THREADS = 4


def run_in_threads(work):
    failures = []
    barrier = threading.Barrier(THREADS)

    def body(index):
        try:
            barrier.wait()
            work(index)
        except BaseException as error:  # noqa: B902 - handed to the main thread
            failures.append(error)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_threads_evaluating_arrays_and_numbers_get_their_own_values():
    f = vorncalc.Formula("sqrt(x^2 + y^2) * k", variables=("x", "y"), constants={"k": 3})
    xs = np.random.default_rng(1).uniform(-100, 100, 200_000)
    expected = {i: np.sqrt(xs**2 + float(i) ** 2) * 3 for i in range(THREADS)}

    def work(index):
        for _ in range(5):
            assert np.allclose(f(x=xs, y=float(index)), expected[index], rtol=1e-15, atol=0)
            for j in range(200):
                assert f(x=3.0 * index, y=4.0 * index) == 5.0 * index * 3

    run_in_threads(work)


def test_threads_calling_python_functions():
    f = vorncalc.Formula("g(x) + x", variables=("x",), functions={"g": lambda v: v * 2})

    def work(index):
        xs = np.full(5000, float(index))
        for _ in range(5):
            assert (f(x=xs) == 3.0 * index).all()

    run_in_threads(work)


def test_arrays_are_evaluated_without_the_gil():
    # While one thread evaluates a long array, another thread runs Python:
    # it notes the time while the call is well under way. Holding the GIL,
    # the call would let it run only around its start (one switch interval).
    f = vorncalc.Formula("sinr(x) * cosr(x) + sqrt(abs(x))", variables=("x",))
    xs = np.linspace(-1e3, 1e3, 4_000_000)
    margin = 0.02
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        begun = time.perf_counter()
        f(x=xs)
        ended = time.perf_counter()
    finally:
        done.set()
        thread.join()
    assert ended - begun > 4 * margin, "the call was too short to tell"
    assert any(begun + margin < tick < ended - margin for tick in ticks)


def test_a_formula_calling_python_keeps_the_gil():
    f = vorncalc.Formula("g(x)", variables=("x",), functions={"g": lambda v: v})
    assert f.calls_python
    assert not vorncalc.Formula("x", variables=("x",)).calls_python
