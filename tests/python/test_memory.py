"""No reference or memory is lost across many calls: the resident set size
stays put over 10^5 calls of a formula of every kind, and over 10^4 of the
slower operations (errors, new formulas)."""

import gc
import os

import numpy as np
import pytest

import vorncalc

CALLS = 100_000


pytestmark = pytest.mark.skipif(
    "VORNCALC_SANITIZED" in os.environ, reason="the address sanitizer holds freed memory back"
)


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    pytest.skip("no /proc/self/status")


def growth_kib(call, calls):
    for _ in range(calls // 10):  # warm up: caches, the machine code, allocator pools
        call()
    gc.collect()
    before = resident_kib()
    for _ in range(calls):
        call()
    gc.collect()
    return resident_kib() - before


def raises(call, error):
    def run():
        try:
            call()
        except error:
            pass
        else:
            raise AssertionError("no error")

    return run


F = vorncalc.Formula("x * y + f(x)", variables=("x", "y"), functions={"f": lambda v: v + 1})
G = vorncalc.Formula("x * y + 1", variables=("x", "y"))
XS = np.arange(16.0)


def refuse(v):
    raise KeyError(v)


CALLED = vorncalc.Formula("r(x)", variables=("x",), functions={"r": refuse})

# kind: the call, how many times
CALLS_OF_EVERY_KIND = {
    "numbers": (lambda: F(x=3.0, y=4.0), CALLS),
    "numbers without python": (lambda: G(x=3.0, y=4.0), CALLS),
    "array": (lambda: G(x=XS, y=2.0), CALLS),
    "converted list": (lambda: G(x=[1, 2, 3], y=XS[:3]), CALLS),
    "evaluate": (lambda: vorncalc.evaluate("2*sin(30)+5mm", units="m"), CALLS),
    "function error": (raises(lambda: CALLED(x=1.0), KeyError), CALLS),
    "type error": (raises(lambda: G(x=1.0), TypeError), CALLS),
    "formula error": (raises(lambda: vorncalc.evaluate("1 + * 2"), vorncalc.FormulaError), CALLS // 10),
    "new formula": (lambda: vorncalc.Formula("g(x)", variables=("x",), functions={"g": abs}), CALLS // 10),
}


@pytest.mark.parametrize("kind", CALLS_OF_EVERY_KIND)
def test_no_growth_across_many_calls(kind):
    # A leak of one object of a few dozen bytes a call would show as
    # several MiB; pools and fragmentation stay well below the limit. A
    # new formula that lost its parser would lose kilobytes each.
    call, calls = CALLS_OF_EVERY_KIND[kind]
    assert growth_kib(call, calls) < 1024
