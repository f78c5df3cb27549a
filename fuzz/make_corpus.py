#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the formulas in the tests.

Usage: fuzz/make_corpus.py   (rewrites fuzz/corpus/<target>/)

The formulas are the first strings of the table rows in tests/parser and
tests/calculator. The command-line seeds put a unit-system selector byte in
front of each formula (the first byte picks the unit system). The
definitions seeds are scripted sequences of definitions and formulas,
encoded the way FuzzedDataProvider reads them: choices from the end of the
input, one byte each, strings from the front, ended by a backslash and one
other byte.
"""
import ast
import hashlib
import pathlib
import re
import shutil

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
ROW_START = re.compile(r'\{\s*(\d+\s*,\s*)?"((?:[^"\\]|\\.)*)"')
CALCULATOR_WORDS = ("mm", "cm", "in", "ft", "pi", "mi", "mc", "n?", "m?", "e", "rnd")


def unescape(literal):
    # C escapes as Python reads them; \x followed by more hex digits than
    # two does not occur in the tests.
    return ast.literal_eval('b"' + literal + '"')


def formulas_in(paths):
    found = []
    for path in paths:
        for match in ROW_START.finditer(path.read_text()):
            formula = unescape(match.group(2))
            if formula and len(formula) <= 200 and formula not in found:
                found.append(formula)
    return found


def spread(items, count):
    """At most count items, taken evenly across the list."""
    if len(items) <= count:
        return items
    return [items[i * len(items) // count] for i in range(count)]


def write(target, seeds):
    folder = CORPUS / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for seed in seeds:
        (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
    print(f"{target}: {len(seeds)} seeds")


# Unit-system selectors: index into the fuzzer's table -1, 0, 1 ... 12, INT_MIN, INT_MAX.
def selector(unit_system):
    return bytes([unit_system + 1])


class Script:
    """Builds one input for fuzz_definitions, step by step."""

    OPS = {"unary": 0, "list": 1, "postfix": 2, "prefix": 3, "constant": 4,
           "variable": 5, "formula": 6, "probe": 7, "optimizer": 8}

    def __init__(self):
        self.front = bytearray()
        self.back = []  # in the order they are consumed

    def choice(self, value):
        self.back.append(value)

    def string(self, text):
        self.front += text.replace(b"\\", b"\\\\") + b"\\\x01"

    def name(self, text):
        self.choice(0)  # not from the pool: a string of its own
        self.string(text)

    def define(self, kind, name, callback=1, flag=1):
        self.choice(self.OPS[kind])
        self.name(name)
        if kind in ("unary", "list"):
            self.choice(callback)
            self.choice(flag)
        elif kind in ("postfix", "prefix", "constant", "variable"):
            self.choice(callback)
        return self

    def formula(self, text):
        self.choice(self.OPS["formula"])
        self.string(text)
        return self

    def probe(self):
        self.choice(self.OPS["probe"])
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def definition_scripts():
    s = Script
    return [
        s().define("postfix", b"m?", 1).define("postfix", b"ft", 2).formula(b"3m?+2ft").probe(),
        s().define("postfix", b"m2", 1).define("prefix", b"m1", 1).formula(b"5m2"),
        s().define("constant", b"1a").define("constant", b"a.b").define("constant", b""),
        s().define("unary", b"f", 0).define("unary", b"1f", 0).define("list", b"g", 0),
        s().define("postfix", b"op", 0).define("prefix", b"~", 0).define("variable", b"v", 0),
        s().define("unary", b"sin", 2, 0).formula(b"sin(30)").define("list", b"sin", 2).formula(b"sin(1,2,3)"),
        s().define("constant", b"c", 2).define("constant", b"c", 3).formula(b"c*2").probe(),
        s().define("constant", b"sqrt", 2).formula(b"sqrt(4)").formula(b"sqrt"),
        s().define("constant", b"m", 2).define("postfix", b"m", 3).formula(b"2 m").formula(b"m"),
        s().formula(b"").formula(b"1+2").define("constant", b"k", 2).formula(b"k+1"),
        s().define("prefix", b"~", 1).define("prefix", b"abc", 1).formula(b"~3").formula(b"abc3"),
        s().define("variable", b"v", 1).define("variable", b"w", 2).formula(b"v*w+1").probe(),
        s().define("variable", b"x", 1).define("postfix", b"x", 2).formula(b"(x)x"),
        s().define("list", b"count", 1).formula(b"count(1,2,3,4)").define("list", b"sq", 2, 0).formula(b"sq(1,x)"),
        s().define("unary", b"and1", 1).formula(b"and1(2)").define("constant", b"origin", 2).formula(b"origin"),
        s().define("prefix", b"-", 3).formula(b"-2^2").define("postfix", b"-", 1).formula(b"2- "),
        s().define("postfix", b"\xff", 1).define("constant", b"\x00", 1).define("unary", b"a\nb", 1),
        s().define("constant", b"_pi", 2).define("constant", b"_e", 6).formula(b"_pi+_e"),
        s().define("unary", b"f", 3).define("postfix", b"f", 1).define("constant", b"f", 2).formula(b"f(2)f"),
    ]


def main():
    parser_tests = sorted((ROOT / "tests" / "parser").glob("*_test.cpp"))
    calculator_tests = sorted((ROOT / "tests" / "calculator").glob("*_test.cpp"))
    parser_formulas = formulas_in(parser_tests)
    calculator_formulas = formulas_in(calculator_tests)

    # Formulas at the evaluation stack's last slot, as in the limit tests.
    boundary = [b"1+(" * 298 + b"x" + b")" * 298,
                b"x+(" * 297 + b"bump(x)*sum(x,2)" + b")" * 297,
                b"sum(x," + b"1," * 297 + b"1)",
                b"max(" + b"x," * 299 + b"x)"]
    write("parser", spread(parser_formulas, 60) + [b"x*2+sum(x,1,2)", b"-x^2", b"(x)m", b"x+bump(1)*x"] + boundary)

    command_lines = []
    systems = [4, 2, 9, 8, 0, 10, 6, 5, -1, 12]
    for i, formula in enumerate(calculator_formulas +
                                [f for f in parser_formulas if any(w.encode() in f for w in CALCULATOR_WORDS)]):
        command_lines.append(selector(systems[i % len(systems)]) + formula)
    command_lines[:0] = [selector(4) + b"2*SIN(30)+5MM", bytes([14]) + b"5mm?", bytes([15]) + b"1ft"]
    write("command_line", spread(command_lines, 60))

    write("definitions", [script.bytes() for script in definition_scripts()])


if __name__ == "__main__":
    main()
