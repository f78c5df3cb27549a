"""Ctrl-C ends a long evaluation between blocks with KeyboardInterrupt."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import vorncalc

# Slow enough per point that the whole array takes seconds.
SLOW = "+".join(f"sinr(x * {k}) * cosr(x / {k})" for k in range(1, 25))


def interrupt_after(seconds, fired=None):
    """Sends SIGINT after the delay, noting when in fired."""

    def send():
        if fired is not None:
            fired.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(seconds, send)
    timer.start()
    return timer


@pytest.mark.parametrize("calls_python", [False, True])
def test_ctrl_c_ends_a_long_call_soon(calls_python):
    functions = {"g": lambda v: v} if calls_python else {}
    f = vorncalc.Formula(SLOW + ("+ g(x)" if calls_python else ""), variables=("x",), functions=functions)
    xs = np.linspace(0, 1, 6_000_000 if calls_python else 8_000_000)
    sample = xs[:20_000]
    begun = time.perf_counter()
    f(x=sample)
    whole = (time.perf_counter() - begun) * len(xs) / len(sample)
    assert whole > 2.0, "too fast to tell"
    fired = []
    timer = interrupt_after(0.3, fired)
    try:
        with pytest.raises(KeyboardInterrupt):
            f(x=xs)
    finally:
        timer.join()
    # within a few hundredths of a second; the bound leaves room for a
    # loaded machine, far below the rest of the call
    assert time.perf_counter() - fired[0] < min(whole / 4, 0.5)


def test_the_formula_works_on_after_an_interrupt():
    f = vorncalc.Formula(SLOW, variables=("x",))
    timer = interrupt_after(0.2)
    try:
        with pytest.raises(KeyboardInterrupt):
            f(x=np.linspace(0, 1, 8_000_000))
    finally:
        timer.join()
    xs = np.linspace(0, 1, 1000)
    assert f(x=xs).tobytes() == np.array([f(x=x) for x in xs]).tobytes()
