from typing import Any, Literal

import numpy as np
from numpy.typing import NDArray

def polvane(
    A: NDArray[np.float64],
    B: NDArray[np.float64],
    metric: Literal["euclidean", "cityblock", "cosine", "cosine_similarity"] = "euclidean",
    Parallel: bool | None = False,
) -> NDArray[np.float64]: ...
