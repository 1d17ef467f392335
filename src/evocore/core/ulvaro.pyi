from typing import Any

import numpy as np
from numpy.typing import NDArray

def ulvaro(
    ObjV: NDArray[Any],
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    k: float | None = 1,
) -> NDArray[np.float64]: ...
