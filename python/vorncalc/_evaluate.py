"""vorncalc.evaluate: a command line, or a formula over the caller's arrays
and numbers taken by name, as numexpr.evaluate takes them."""

import functools
import re
import sys
from typing import Any, List, Literal, Mapping, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from vorncalc._vorncalc import Formula, FormulaError, _vocabulary_names
from vorncalc._vorncalc import evaluate as _evaluate_command_line

# A number with the unit suffix run into it ("5mm", "1.5e3") is no name;
# any other run of name characters may be one.
_TOKEN = re.compile(r"(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\w*|(?P<name>[A-Za-z_]\w*)", re.ASCII)
_LOWER_ASCII = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
_CACHED_FORMULAS = 256


@functools.lru_cache(maxsize=1024)
def _names_in(text: str) -> Tuple[str, ...]:
    """The names in the text, each once, in the order they first stand."""
    return tuple(dict.fromkeys(match["name"] for match in _TOKEN.finditer(text) if match["name"]))


@functools.lru_cache(maxsize=None)
def _vocabulary(units: Union[str, int]) -> "frozenset[str]":
    return frozenset(_vocabulary_names(units))


def _lower_case_but(text: str, variables: Tuple[str, ...]) -> str:
    """The text lower-cased as the command line reads it, but for the
    variables' names, which keep their case; the length stays."""
    pieces: List[str] = []
    kept = 0
    for match in _TOKEN.finditer(text):
        if match["name"] in variables:
            pieces.append(text[kept:match.start()].translate(_LOWER_ASCII))
            pieces.append(match["name"])
            kept = match.end()
    pieces.append(text[kept:].translate(_LOWER_ASCII))
    return "".join(pieces)


@functools.lru_cache(maxsize=_CACHED_FORMULAS)
def _compiled(text: str, variables: Tuple[str, ...], units: Union[str, int], seed: Optional[int], math: str,
              threads: Optional[int]) -> Formula:
    try:
        return Formula(_lower_case_but(text, variables), variables=variables, units=units, seed=seed,
                       math=math,  # type: ignore[arg-type]  # checked by Formula
                       threads=threads)
    except FormulaError as error:  # about the text as the caller wrote it
        raise FormulaError(str(error), error.position, text) from None


def evaluate(
    text: str,
    local_dict: Optional[Mapping[str, Any]] = None,
    global_dict: Optional[Mapping[str, Any]] = None,
    out: Optional[npt.NDArray[np.floating[Any]]] = None,
    units: Union[str, int] = "mm",
    seed: Optional[int] = None,
    math: Literal["c", "deterministic"] = "c",
    threads: Optional[int] = None,
) -> Union[float, npt.NDArray[np.floating[Any]]]:
    """The value of a command line, or of a formula over the caller's arrays.

    evaluate("2*sin(30)+5mm", units="m")   # 1.005, as the CAD plug-in on Enter
    evaluate("2*a + 3*b")                  # a and b: the caller's arrays

    Each name of the text that is not a function or constant of the
    calculator's vocabulary (sin, sqrt, pi, e, ...) is looked up as
    numexpr.evaluate looks it up: in local_dict, then in global_dict, which
    are by default the caller's local and global variables. The names found
    are the formula's variables, keeping their case (the rest of the text is
    read without case, as on the command line), and their arrays and numbers
    are evaluated as Formula's call takes them: broadcast together, the
    result an ndarray, or a float for numbers only; out= receives the
    results. The formula is compiled once per text, names and options, and
    kept for the next call (the last 256).

    With none of the caller's names (and no out= or math=), the text is a
    command line of a document in the given units, as the vorncalc program
    reads it: a float.

    units: "mm" (the default), "cm", "m", "km", "uin", "mil", "in", "ft", "mi"
    (any case), or a unit system's number, as the vorncalc program's -u.
    seed: None, or an int from 0 to 2**32 - 1: rnd then draws the same values
    in every call with that seed, on every platform.
    math, threads: as Formula takes them.

    Angles are in degrees (sin(30) is 0.5; sinr takes radians), log is the
    base 10 logarithm (ln the natural one), and the power is x^y: ** is
    refused. A name that is neither the vocabulary's nor found is refused
    as an unknown token: FormulaError, as for any text the parser refuses.
    """
    caller = sys._getframe(1)
    local_names = caller.f_locals if local_dict is None else local_dict
    global_names = caller.f_globals if global_dict is None else global_dict
    del caller
    vocabulary = _vocabulary(units)
    variables: List[str] = []
    values: List[Any] = []
    for name in _names_in(text):
        if name.translate(_LOWER_ASCII) in vocabulary:
            continue
        if name in local_names:
            values.append(local_names[name])
        elif name in global_names:
            values.append(global_names[name])
        else:
            continue
        variables.append(name)
    if not variables and out is None and math == "c":
        return _evaluate_command_line(text, units, seed)
    formula = _compiled(text, tuple(variables), units, seed, math, threads)
    result: Union[float, npt.NDArray[np.floating[Any]]] = formula(*values) if out is None else formula(
        *values, out=out)
    return result
