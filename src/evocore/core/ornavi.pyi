from typing import Any

import numpy as np
from numpy.typing import NDArray

def ornavi(
    ObjV: NDArray[Any],
    CV: NDArray[Any] | None = None,
    maxormins: NDArray[Any] | None = None,
    old_idealPoint: NDArray[Any] | None = None,
    reverse: bool | None = False,
) -> NDArray[np.float64]: ...
