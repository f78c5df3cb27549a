"""Formulas with unit suffixes, compiled once, evaluated over NumPy arrays.

The formula language of the vorncalc calculator, compiled to machine code
and evaluated over NumPy arrays: see help(vorncalc.Formula) and
help(vorncalc.evaluate).

    >>> import numpy as np, vorncalc
    >>> a, b = np.arange(3.0), 2.0
    >>> vorncalc.evaluate("2*a + 3*b")    # names from the caller, as numexpr's
    array([ 6.,  8., 10.])

Coming from NumPy or numexpr: angles are in degrees (sin(30) is 0.5; sinr,
cosr, ... take radians, and sinh, cosh, ... scale their argument from
degrees too), log is the base 10 logarithm (ln the natural one), the power
is x^y (** is refused), and min, max and sign follow the formula
language's rule for NaN, not NumPy's: max(x, 0) is 0 where x is NaN,
max(0, x) is NaN, sign(NaN) is -1 (write the NaN test out where it
matters: x != x is 1 for NaN).
"""

from vorncalc._evaluate import evaluate
from vorncalc._vorncalc import Formula, FormulaError, __version__, get_num_threads, set_num_threads

__all__ = ["Formula", "FormulaError", "evaluate", "get_num_threads", "set_num_threads", "__version__"]

# Named where users import them: repr, pickle and help show vorncalc.Formula.
for _exported in (Formula, FormulaError, evaluate):
    _exported.__module__ = __name__
del _exported
