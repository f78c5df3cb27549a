"""Formulas with unit suffixes, compiled once, evaluated over NumPy arrays.

The formula language of the vorncalc calculator, compiled to machine code
and evaluated over NumPy arrays: see help(vorncalc.Formula) and
help(vorncalc.evaluate).
"""

from vorncalc._vorncalc import Formula, FormulaError, __version__, evaluate, get_num_threads, set_num_threads

__all__ = ["Formula", "FormulaError", "evaluate", "get_num_threads", "set_num_threads", "__version__"]

# Named where users import them: repr, pickle and help show vorncalc.Formula.
for _exported in (Formula, FormulaError):
    _exported.__module__ = __name__
del _exported
