"""Formulas with unit suffixes, compiled once, evaluated over NumPy arrays."""

from typing import Callable, Mapping, Optional, Sequence, SupportsFloat, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

UnitSystem = Union[str, int]

class FormulaError(ValueError):
    """A formula that the parser refuses."""

    position: Optional[int]
    formula: Optional[str]
    def __init__(self, message: str, position: Optional[int] = ..., formula: Optional[str] = ...) -> None: ...

def evaluate(text: str, units: UnitSystem = "mm") -> float:
    """The value of a command line as the CAD plug-in computes it on Enter."""

class Formula:
    """A formula compiled once, evaluated with one keyword argument per variable."""

    def __init__(
        self,
        text: str,
        variables: Sequence[str] = (),
        functions: Mapping[str, Callable[..., SupportsFloat]] = {},
        constants: Mapping[str, SupportsFloat] = {},
        units: Optional[UnitSystem] = None,
    ) -> None: ...
    @overload
    def __call__(self, **variables: SupportsFloat) -> float: ...
    @overload
    def __call__(self, **variables: Union[SupportsFloat, npt.ArrayLike]) -> Union[float, npt.NDArray[np.float64]]: ...
    @property
    def text(self) -> str: ...
    @property
    def variables(self) -> tuple[str, ...]: ...
    @property
    def units(self) -> Optional[int]: ...
    @property
    def calls_python(self) -> bool: ...
