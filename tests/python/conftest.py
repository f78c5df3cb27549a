"""Fixtures of the Python module's tests: the C++ library's own values."""

import os
import struct
import subprocess

import pytest


@pytest.fixture(scope="session")
def reference():
    """reference(units, formula, x=0.0): the bits of the C++ library's value as
    bits_of gives them, or "error: ..." (units "-": the parser's default
    vocabulary with x)."""
    program = os.environ["VORNCALC_REFERENCE"]

    def run(units, formula, x=0.0):
        line = f"{units}\t{formula}\t{float(x).hex()}\n"
        result = subprocess.run([program], input=line, capture_output=True, text=True, check=True)
        return result.stdout.rstrip("\n")

    return run


def bits_of(value):
    """The bits of a double as 16 hexadecimal digits: NaN payloads and the
    sign of zero count."""
    return struct.pack(">d", value).hex()
