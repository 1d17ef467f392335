from typing import Any

import numpy as np
from numpy.typing import NDArray

def quelan(
    ObjV: NDArray[Any],
    weights: NDArray[Any],
    idealPoint: NDArray[Any] | None = None,
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    Theta: float | None = 5,
    Parallel: bool | None = False,
) -> NDArray[np.float64]: ...
