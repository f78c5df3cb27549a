"""The Python module against numexpr and NumPy over arrays, and against
simpleeval for one value (run by scripts/run-bench --python).

The 16 expressions of the C++ benchmark over 2^20 random points in its
ranges (x in -10..10 without 0, y = +-2..10), the same float64 arrays for
every implementation: vorncalc.Formula and numexpr on one thread, both on
their default threads (vorncalc every core, with math="deterministic";
numexpr its own default), and plain NumPy.
Each figure is the median of several timed calls, in ns per point. Before
timing, every value of ours is checked bit for bit against single calls of
the same Formula and against NumPy's within 1e-12 (relative and absolute:
NumPy's sine may differ from the C library's in the last bit).
Then vorncalc.evaluate against numexpr.evaluate as a numexpr user calls
them, each taking the caller's local arrays by name, on one thread each:
the values checked against NumPy's bit for bit.
"""

import argparse
import math
import statistics
import sys
import time
import timeit

import numexpr
import numpy as np

import vorncalc

POINTS = 1 << 20

# ours, numexpr's, NumPy's. clamp, the C++ benchmark's own callback, is
# max(lo, min(v, hi)) here: a Python function would measure Python.
EXPRESSIONS = [
    ("(y + x)", "(y + x)", lambda x, y: y + x),
    ("2 * (y + x)", "2 * (y + x)", lambda x, y: 2 * (y + x)),
    ("(2 * y + 2 * x)", "(2 * y + 2 * x)", lambda x, y: 2 * y + 2 * x),
    ("((1.23 * x^2) / y) - 123.123", "((1.23 * x**2) / y) - 123.123", lambda x, y: ((1.23 * x**2) / y) - 123.123),
    ("(y + x / y) * (x - y / x)", "(y + x / y) * (x - y / x)", lambda x, y: (y + x / y) * (x - y / x)),
    ("x / ((x + y) + (x - y)) / y", "x / ((x + y) + (x - y)) / y", lambda x, y: x / ((x + y) + (x - y)) / y),
    ("1 - ((x * y) + (y / x)) - 3", "1 - ((x * y) + (y / x)) - 3", lambda x, y: 1 - ((x * y) + (y / x)) - 3),
    (
        "(5.5 + x) + (2 * x - 2 / 3 * y) * (x / 3 + y / 4) + (y + 7.7)",
        "(5.5 + x) + (2 * x - 2. / 3 * y) * (x / 3 + y / 4) + (y + 7.7)",
        lambda x, y: (5.5 + x) + (2 * x - 2 / 3 * y) * (x / 3 + y / 4) + (y + 7.7),
    ),
    (
        "1.1*x^1 + 2.2*y^2 - 3.3*x^3 + 4.4*y^15 - 5.5*x^23 + 6.6*y^55",
        "1.1*x**1 + 2.2*y**2 - 3.3*x**3 + 4.4*y**15 - 5.5*x**23 + 6.6*y**55",
        lambda x, y: 1.1 * x**1 + 2.2 * y**2 - 3.3 * x**3 + 4.4 * y**15 - 5.5 * x**23 + 6.6 * y**55,
    ),
    ("sinr(2 * x) + cosr(_pi / y)", "sin(2 * x) + cos(pi / y)", lambda x, y: np.sin(2 * x) + np.cos(np.pi / y)),
    (
        "1 - sinr(2 * x) + cosr(_pi / y)",
        "1 - sin(2 * x) + cos(pi / y)",
        lambda x, y: 1 - np.sin(2 * x) + np.cos(np.pi / y),
    ),
    (
        "sqrt(111.111 - sinr(2 * x) + cosr(_pi / y) / 333.333)",
        "sqrt(111.111 - sin(2 * x) + cos(pi / y) / 333.333)",
        lambda x, y: np.sqrt(111.111 - np.sin(2 * x) + np.cos(np.pi / y) / 333.333),
    ),
    (
        "(x^2 / sinr(2 * _pi / y)) - x / 2",
        "(x**2 / sin(2 * pi / y)) - x / 2",
        lambda x, y: (x**2 / np.sin(2 * np.pi / y)) - x / 2,
    ),
    (
        "x + (cosr(y - sinr(2 / x * _pi)) - sinr(x - cosr(2 * y / _pi))) - y",
        "x + (cos(y - sin(2 / x * pi)) - sin(x - cos(2 * y / pi))) - y",
        lambda x, y: x + (np.cos(y - np.sin(2 / x * np.pi)) - np.sin(x - np.cos(2 * y / np.pi))) - y,
    ),
    (
        "max(-1.0, min(sinr(2 * _pi * x) + cosr(y / 2 * _pi), 1.0))",
        "where(sin(2 * pi * x) + cos(y / 2 * pi) < -1.0, -1.0,"
        " where(sin(2 * pi * x) + cos(y / 2 * pi) > 1.0, 1.0, sin(2 * pi * x) + cos(y / 2 * pi)))",
        lambda x, y: np.clip(np.sin(2 * np.pi * x) + np.cos(y / 2 * np.pi), -1.0, 1.0),
    ),
    (
        "max(3.33, min(sqrt(1 - sinr(2 * x) + cosr(_pi / y) / 3), 1.11))",
        "where(where(sqrt(1 - sin(2 * x) + cos(pi / y) / 3) < 1.11, sqrt(1 - sin(2 * x) + cos(pi / y) / 3), 1.11)"
        " > 3.33, where(sqrt(1 - sin(2 * x) + cos(pi / y) / 3) < 1.11, sqrt(1 - sin(2 * x) + cos(pi / y) / 3),"
        " 1.11), 3.33)",
        lambda x, y: np.maximum(3.33, np.minimum(np.sqrt(1 - np.sin(2 * x) + np.cos(np.pi / y) / 3), 1.11)),
    ),
]

SCALAR_FORMULA = ("sqrt(x^2 + y^2)", "sqrt(x**2 + y**2)")


def random_points():
    rng = np.random.default_rng(20261207)
    x = rng.uniform(-10, 10, POINTS)
    x[x == 0] = 0.5
    y = rng.uniform(2, 10, POINTS) * np.where(rng.integers(0, 2, POINTS) == 1, 1.0, -1.0)
    return x, y


def ns_per_point(call, repetitions):
    call()  # warm up: machine code, caches, numexpr's compiled program
    times = []
    for _ in range(repetitions):
        begun = time.perf_counter()
        call()
        times.append(time.perf_counter() - begun)
    return statistics.median(times) / POINTS * 1e9


def check(index, formula, x, y, reference):
    values = formula(x=x, y=y)
    sample = np.arange(0, POINTS, 997)
    singles = np.array([formula(x=float(x[i]), y=float(y[i])) for i in sample])
    if values[sample].tobytes() != singles.tobytes():
        sys.exit(f"expression {index}: values over the array differ from single calls")
    finite = np.isfinite(reference)
    if not np.allclose(values[finite], reference[finite], rtol=1e-12, atol=1e-12):
        sys.exit(f"expression {index}: values differ from NumPy's")


def numexpr_on(threads, call):
    previous = numexpr.set_num_threads(threads)
    try:
        return call()
    finally:
        numexpr.set_num_threads(previous)


def bulk_table(repetitions, numexpr_default):
    x, y = random_points()
    rows = []
    for index, (ours, theirs, numpy_form) in enumerate(EXPRESSIONS, 1):
        one = vorncalc.Formula(ours, variables=("x", "y"), threads=1)
        check(index, one, x, y, numpy_form(x, y))
        # the fastest configuration: vector math on every core
        spread = vorncalc.Formula(ours, variables=("x", "y"), math="deterministic")
        vector = vorncalc.Formula(ours, variables=("x", "y"), math="deterministic", threads=1)
        check(index, vector, x, y, numpy_form(x, y))
        if spread(x=x, y=y).tobytes() != vector(x=x, y=y).tobytes():
            sys.exit(f"expression {index}: values on the default threads differ from one thread's")
        # numexpr knows no pi: the double itself
        program = numexpr.NumExpr(theirs.replace("pi", repr(math.pi)),
                                  signature=[("x", np.float64), ("y", np.float64)])
        rows.append(
            (
                index,
                ours,
                ns_per_point(lambda: one(x=x, y=y), repetitions),
                numexpr_on(1, lambda: ns_per_point(lambda: program(x, y), repetitions)),
                ns_per_point(lambda: numpy_form(x, y), repetitions),
                ns_per_point(lambda: spread(x=x, y=y), repetitions),
                numexpr_on(numexpr_default, lambda: ns_per_point(lambda: program(x, y), repetitions)),
            )
        )
    return rows


BY_NAME = "2*a+3*b"


# Each takes the arrays from its caller's frame, as a numexpr user writes it.
def vorncalc_by_name(a, b):
    return vorncalc.evaluate(BY_NAME)


def numexpr_by_name(a, b):
    return numexpr.evaluate(BY_NAME)


def by_name_times(repetitions):
    a, b = random_points()
    if vorncalc_by_name(a, b).tobytes() != (2 * a + 3 * b).tobytes():
        sys.exit(f"vorncalc.evaluate(\"{BY_NAME}\") differs from NumPy's bits")
    previous = vorncalc.set_num_threads(1)
    try:
        ours = ns_per_point(lambda: vorncalc_by_name(a, b), repetitions)
    finally:
        vorncalc.set_num_threads(previous)

    def numexpr_alone():
        if numexpr.get_num_threads() != 1:
            sys.exit("numexpr is not on one thread")
        return ns_per_point(lambda: numexpr_by_name(a, b), repetitions)

    return ours, numexpr_on(1, numexpr_alone)


def scalar_times():
    import simpleeval

    formula = vorncalc.Formula(SCALAR_FORMULA[0], variables=("x", "y"))
    evaluator = simpleeval.SimpleEval(functions={"sqrt": math.sqrt}, names={"x": 3.0, "y": 4.0})
    assert formula(x=3.0, y=4.0) == evaluator.eval(SCALAR_FORMULA[1]) == 5.0

    def per_call(statement, namespace):
        timer = timeit.Timer(statement, globals=namespace)
        count, _ = timer.autorange()
        return min(timer.repeat(repeat=5, number=count)) / count * 1e6

    ours = per_call("f(x=3.0, y=4.0)", {"f": formula})
    theirs = per_call("e.eval(text)", {"e": evaluator, "text": SCALAR_FORMULA[1]})
    return ours, theirs


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=9, help="timed calls per figure (median)")
    arguments = parser.parse_args()

    numexpr_default = numexpr.get_num_threads()
    rows = bulk_table(arguments.repetitions, numexpr_default)
    print(f"Formulas over {POINTS} random points from Python, ns per point (median of "
          f"{arguments.repetitions} calls); numexpr {numexpr.__version__}, NumPy {np.__version__}; one thread, "
          f"then the defaults: vorncalc {vorncalc.get_num_threads()} threads with math=\"deterministic\", "
          f"numexpr {numexpr_default}:\n")
    print("| # | expression | vorncalc | numexpr | NumPy | vorncalc/numexpr | vorncalc/NumPy "
          "| vorncalc default | numexpr default | default/default | default/NumPy |")
    print("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for index, text, ours, theirs, plain, spread, theirs_spread in rows:
        print(f"| {index} | `{text}` | {ours:.2f} | {theirs:.2f} | {plain:.2f} | {ours / theirs:.2f}x "
              f"| {ours / plain:.2f}x | {spread:.2f} | {theirs_spread:.2f} | {spread / theirs_spread:.2f}x "
              f"| {spread / plain:.2f}x |")
    geomean = math.exp(statistics.fmean(math.log(row[2] / row[3]) for row in rows))
    numpy_geomean = math.exp(statistics.fmean(math.log(row[2] / row[4]) for row in rows))
    default_geomean = math.exp(statistics.fmean(math.log(row[5] / row[6]) for row in rows))
    worst_to_numpy = max(row[5] / row[4] for row in rows)
    ours_by_name, theirs_by_name = by_name_times(arguments.repetitions)
    by_name_ratio = ours_by_name / theirs_by_name
    ours_us, theirs_us = scalar_times()
    print(f"\nOne value, f(x=3.0, y=4.0) of `{SCALAR_FORMULA[0]}`: vorncalc {ours_us:.3f} us, "
          f"simpleeval {theirs_us:.3f} us ({theirs_us / ours_us:.0f}x as long)")
    print(f"\nevaluate(\"{BY_NAME}\") with the caller's arrays, one thread each: vorncalc "
          f"{ours_by_name:.2f} ns per point, numexpr {theirs_by_name:.2f} ({by_name_ratio:.2f}x)")
    print(f"\n- evaluate by name <= 1.2x numexpr's: {by_name_ratio:.2f}x, {'MET' if by_name_ratio <= 1.2 else 'MISSED'}")
    print(f"- over arrays <= 0.50x numexpr (geomean): {geomean:.2f}x, {'MET' if geomean <= 0.5 else 'MISSED'}; "
          f"against NumPy {numpy_geomean:.2f}x")
    print(f"- over arrays on the default threads <= 0.40x numexpr on its own (geomean): {default_geomean:.2f}x, "
          f"{'MET' if default_geomean <= 0.4 else 'MISSED'}")
    print(f"- over arrays on the default threads, each expression faster than NumPy: worst {worst_to_numpy:.2f}x, "
          f"{'MET' if worst_to_numpy <= 1.0 else 'MISSED'}")
    print(f"\npython bulk ratio to numexpr (geomean): {geomean:.2f}")
    print(f"python bulk ratio to numexpr, default threads (geomean): {default_geomean:.2f}")
    print(f"python worst ratio to NumPy: {worst_to_numpy:.2f}")
    print(f"python evaluate by name ratio to numexpr: {by_name_ratio:.2f}")


if __name__ == "__main__":
    main()
