"""Calls over arrays spread over threads: the process-wide default and a
Formula's own threads=, the same bits as one thread, Python functions and
rnd's draws kept on the calling thread in order, and fork."""

import os
import pickle
import subprocess
import sys
import threading

import numpy as np
import pytest

import vorncalc

POINTS = 300_001  # several parts of the library's floor, and odd


@pytest.fixture(autouse=True)
def default_restored():
    saved = vorncalc.get_num_threads()
    yield
    vorncalc.set_num_threads(saved)


def test_the_default_is_the_cpus_the_process_may_run_on_and_setting_it_returns_the_old_one():
    default = vorncalc.get_num_threads()
    assert 1 <= default <= len(os.sched_getaffinity(0))
    assert vorncalc.set_num_threads(3) == default
    assert vorncalc.get_num_threads() == 3
    assert vorncalc.set_num_threads(1) == 3


@pytest.mark.parametrize(
    "environment, one_cpu",
    [({"OMP_NUM_THREADS": "1"}, False), ({"VORNCALC_NUM_THREADS": "1", "OMP_NUM_THREADS": "4"}, False),
     ({}, True)],
)
def test_a_worker_process_held_to_one_thread_gets_one(environment, one_cpu):
    held = "os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})\n" if one_cpu else ""
    code = "import os\n" + held + "import vorncalc\nprint(vorncalc.get_num_threads())"
    env = {k: v for k, v in os.environ.items() if k not in ("OMP_NUM_THREADS", "VORNCALC_NUM_THREADS")}
    run = subprocess.run([sys.executable, "-c", code], env=env | environment, capture_output=True, text=True,
                         check=True, timeout=60)
    assert int(run.stdout) == 1


@pytest.mark.parametrize(
    "given, error",
    [(0, ValueError), (-2, ValueError), (-(2**70), ValueError), (1.5, TypeError), ("2", TypeError),
     (True, TypeError), (None, TypeError)],
)
def test_counts_refused_by_the_default_and_by_a_formula(given, error):
    default = vorncalc.get_num_threads()
    with pytest.raises(error):
        vorncalc.set_num_threads(given)
    assert vorncalc.get_num_threads() == default, "a refused count changes nothing"
    if given is not None:
        with pytest.raises(error):
            vorncalc.Formula("x", variables="x", threads=given)


def test_a_formulas_own_count_is_shown_and_travels():
    f = vorncalc.Formula("x / 3", variables="x", threads=2)
    assert f.threads == 2 and vorncalc.Formula("x", variables="x").threads is None
    assert repr(f) == "vorncalc.Formula('x / 3', variables=('x',), threads=2)"
    assert pickle.loads(pickle.dumps(f)).threads == 2


def values(count, seed):
    rng = np.random.default_rng(seed)
    v = rng.uniform(-20, 20, count)
    v[::997] = -0.0
    v[1::1009] = np.nan
    return v


@pytest.mark.parametrize(
    "text", ["x * y + 3 / (x - y)", "sinr(x) - ln(y) + sqrt(abs(x))", "min(x, y, 2) + (x < y) - x^y"]
)
def test_every_count_gives_the_bits_of_one_thread(text):
    x, y = values(POINTS, 1), values(POINTS, 2)
    one = vorncalc.Formula(text, variables=("x", "y"), threads=1)
    expected = one(x, y)
    for threads in (2, 3, None):
        f = vorncalc.Formula(text, variables=("x", "y"), threads=threads)
        for _ in range(2):  # interpreted blocks at first, then the machine code
            assert f(x, y).tobytes() == expected.tobytes(), threads
        # strided, cast, broadcast and written into out=: NumPy's buffers
        out = np.empty(POINTS // 2 + 1, dtype=np.float32)
        f(x[::2], np.float32(1.5), out=out)
        assert out.tobytes() == one(x[::2], np.float32(1.5)).astype(np.float32).tobytes()


def test_python_functions_run_on_the_calling_thread_in_order():
    seen = []

    def record(v):
        seen.append((threading.get_ident(), v))
        return v + 1

    f = vorncalc.Formula("record(x) * 2", variables="x", functions={"record": record}, threads=4)
    x = np.arange(float(POINTS))
    assert np.array_equal(f(x), (x + 1) * 2)
    assert [ident for ident, _ in seen] == [threading.get_ident()] * POINTS
    assert [v for _, v in seen] == x.tolist()


def test_rnd_draws_the_same_values_on_any_count():
    x = np.zeros(POINTS)
    one = vorncalc.Formula("rnd(x + 1)", variables="x", units="mm", seed=11, threads=1)(x)
    assert vorncalc.Formula("rnd(x + 1)", variables="x", units="mm", seed=11, threads=4)(x).tobytes() == one.tobytes()


@pytest.mark.skipif(not hasattr(os, "fork"), reason="fork")
def test_a_child_forked_after_a_threaded_call_spreads_its_own():
    f = vorncalc.Formula("x * 2 + 1", variables="x", threads=2)
    x = values(POINTS, 3)
    expected = f(x).tobytes()
    child = os.fork()
    if child == 0:
        os._exit(0 if f(x).tobytes() == expected else 1)
    _, status = os.waitpid(child, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
