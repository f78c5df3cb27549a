"""Formulas with unit suffixes, compiled once, evaluated over NumPy arrays."""

from typing import Any, Callable, Iterable, Literal, Mapping, Optional, Protocol, Sequence, SupportsFloat, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

_UnitSystem = Union[str, int]

# What a call takes for a variable: a number (Python's or NumPy's), or an
# array of booleans, integers or floats, or anything that NumPy makes one of.
_Number = Union[float, np.floating[Any], np.integer[Any], np.bool_]

class _SupportsArray(Protocol):
    def __array__(self) -> np.ndarray[Any, np.dtype[Union[np.floating[Any], np.integer[Any], np.bool_]]]: ...

_ArrayOfNumbers = Union[
    _SupportsArray,
    Sequence[float],
    Sequence[Sequence[float]],
    Sequence[Sequence[Sequence[float]]],
]
_Results = npt.NDArray[np.floating[Any]]

class FormulaError(ValueError):
    """A formula that the parser refuses."""

    position: Optional[int]
    formula: Optional[str]
    def __init__(self, message: str, position: Optional[int] = ..., formula: Optional[str] = ...) -> None: ...

def evaluate(text: str, units: _UnitSystem = "mm", seed: Optional[int] = None) -> float:
    """The value of a command line as the CAD plug-in computes it on Enter."""

def set_num_threads(threads: int) -> int:
    """Sets the process-wide default of threads over arrays; returns the one it replaces."""

def get_num_threads() -> int:
    """The process-wide default of threads over arrays."""

class Formula:
    """A formula compiled once, evaluated with one value per variable.

    Its vocabulary adds to the parser's defaults round, trunc, floor, ceil,
    r2d, d2r, cbrt, log1p, expm1, mod(x, y), atan2(y, x), atan2r(y, x),
    hypot(x, y), pow(x, y) and where(c, a, b).
    """

    def __init__(
        self,
        text: str,
        variables: Union[str, Iterable[str]] = (),
        functions: Mapping[str, Callable[..., SupportsFloat]] = {},
        constants: Mapping[str, SupportsFloat] = {},
        units: Optional[_UnitSystem] = None,
        seed: Optional[int] = None,
        math: Literal["c", "deterministic"] = "c",
        threads: Optional[int] = None,
    ) -> None: ...
    # Numbers only give a float; the overload below takes numbers too, so the
    # two overlap, and the first that fits decides.
    @overload
    def __call__(self, *values: _Number, out: None = None, **variables: _Number) -> float: ...  # type: ignore[misc]
    @overload
    def __call__(
        self, *values: Union[_Number, _ArrayOfNumbers], out: Optional[_Results] = None, **variables: Union[_Number, _ArrayOfNumbers]
    ) -> _Results: ...
    def __reduce__(self) -> Tuple[Any, ...]: ...
    def __dask_tokenize__(self) -> Tuple[Any, ...]: ...
    @property
    def text(self) -> str: ...
    @property
    def variables(self) -> Tuple[str, ...]: ...
    @property
    def units(self) -> Optional[int]: ...
    @property
    def seed(self) -> Optional[int]: ...
    @property
    def math(self) -> str: ...
    @property
    def threads(self) -> Optional[int]: ...
    @property
    def calls_python(self) -> bool: ...
