"""Large arrays from Python against numexpr on one thread (run by
scripts/run-bench --python after bench_formulas.py).

Two cases, each implementation in a process of its own so that its peak
memory is its own: `x*a + b*c - d` with an array and four numbers at 10^8
points (time, and peak memory against the inputs plus the output), and
`x*2+1` on a 10^4 x 10^4 Fortran-order array (time; the result keeps the
order). Each time is the median of a few calls; every call makes its result
array anew, as a user's call does.
"""

import argparse
import json
import statistics
import subprocess
import sys
import time

import numexpr
import numpy as np

import vorncalc

NUMBERS = dict(a=2.0, b=3.0, c=4.0, d=5.0)


def status_bytes(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


def reset_high_water():
    """The peak resident set size starts again from the current one (Linux)."""
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")


def numbers_case(implementation):
    x = np.linspace(0.0, 1.0, 10**8)
    if implementation == "vorncalc":
        formula = vorncalc.Formula("x*a + b*c - d", variables=("x", "a", "b", "c", "d"))
        return x, lambda: formula(x, **NUMBERS)
    return x, lambda: numexpr.evaluate("x*a + b*c - d", local_dict=dict(NUMBERS, x=x))


def fortran_case(implementation):
    x = np.asfortranarray(np.linspace(0.0, 1.0, 10**8).reshape(10**4, 10**4))
    if implementation == "vorncalc":
        formula = vorncalc.Formula("x*2+1", variables="x")
        return x, lambda: formula(x)
    return x, lambda: numexpr.evaluate("x*2+1", local_dict=dict(x=x))


CASES = {"numbers": numbers_case, "fortran": fortran_case}


def measure(case, implementation, repetitions):
    """In this process: the median time of a call and the peak memory."""
    numexpr.set_num_threads(1)
    vorncalc.set_num_threads(1)  # both on one thread
    x, call = CASES[case](implementation)
    reset_high_water()
    before = status_bytes("VmRSS")
    result = call()
    peak = status_bytes("VmHWM") - before + x.nbytes  # the inputs: the 800 MB array
    fortran = bool(result.flags["F_CONTIGUOUS"] and not result.flags["C_CONTIGUOUS"])
    expected = x * (2.0 if case == "fortran" else NUMBERS["a"]) + (
        1.0 if case == "fortran" else NUMBERS["b"] * NUMBERS["c"] - NUMBERS["d"])
    if not np.allclose(result, expected, rtol=1e-15, atol=0):
        sys.exit(f"{implementation} computes other values for {case}")
    del result, expected
    times = []
    for _ in range(repetitions):
        begun = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - begun)
        del result
    return {"seconds": statistics.median(times), "peak": peak, "inputs_and_output": 2 * x.nbytes,
            "fortran": fortran}


def in_own_process(case, implementation, repetitions):
    output = subprocess.run([sys.executable, __file__, "--measure", case, implementation,
                             "--repetitions", str(repetitions)], check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def verdict(met):
    return "MET" if met else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=3, help="timed calls per figure (median)")
    parser.add_argument("--measure", nargs=2, metavar=("CASE", "IMPLEMENTATION"), help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.measure:
        print(json.dumps(measure(*arguments.measure, arguments.repetitions)))
        return

    figures = {(case, implementation): in_own_process(case, implementation, arguments.repetitions)
               for case in CASES for implementation in ("vorncalc", "numexpr")}
    print(f"\nLarge arrays, median of {arguments.repetitions} calls, numexpr on one thread:\n")
    print("| case | vorncalc s | numexpr s | vorncalc/numexpr | vorncalc peak / (inputs + output) "
          "| numexpr's | result Fortran-order (vorncalc, numexpr) |")
    print("|---|---:|---:|---:|---:|---:|---|")
    names = {"numbers": "`x*a + b*c - d`, four numbers, 10^8 points",
             "fortran": "`x*2+1`, 10^4 x 10^4 Fortran-order"}
    for case in CASES:
        ours, theirs = figures[(case, "vorncalc")], figures[(case, "numexpr")]
        print(f"| {names[case]} | {ours['seconds']:.3f} | {theirs['seconds']:.3f} "
              f"| {ours['seconds'] / theirs['seconds']:.2f}x | {ours['peak'] / ours['inputs_and_output']:.2f} "
              f"| {theirs['peak'] / theirs['inputs_and_output']:.2f} | {ours['fortran']}, {theirs['fortran']} |")
    numbers, fortran = figures[("numbers", "vorncalc")], figures[("fortran", "vorncalc")]
    numbers_ratio = numbers["seconds"] / figures[("numbers", "numexpr")]["seconds"]
    memory_ratio = numbers["peak"] / numbers["inputs_and_output"]
    fortran_ratio = fortran["seconds"] / figures[("fortran", "numexpr")]["seconds"]
    print(f"\n- four numbers at 10^8 points <= 1.2x numexpr: {numbers_ratio:.2f}x, {verdict(numbers_ratio <= 1.2)}; "
          f"peak memory <= 1.1x inputs plus output: {memory_ratio:.2f}x, {verdict(memory_ratio <= 1.1)}")
    print(f"- Fortran-order x*2+1 <= 1.2x numexpr: {fortran_ratio:.2f}x, {verdict(fortran_ratio <= 1.2)}; "
          f"result Fortran-order: {fortran['fortran']}")


if __name__ == "__main__":
    main()
