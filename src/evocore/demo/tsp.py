"""The travelling salesman problem by the permutation GA of evocore.algorithms, on TSPLIB
instances shipped with the package (berlin52, kroA100, gr17, gr24, gr120).

The GA (evocore.algorithms.permutation_ga) ranks the tours by length into fitness (ulvaro),
selects parents in proportion to it, crosses them by order crossover (sarnet), disturbs a few
children by a double-bridge move and brings every child to a 2-opt local optimum; the best
tours found so far are kept, one per length.  This file reads the instances and turns their
coordinates into TSPLIB's EUC_2D distances (polvane, rounded to the nearest integer); gr120
comes as a distance matrix only, and is drawn on a classical multidimensional-scaling embedding.
Run it with

    python -m evocore --problem berlin52        (or kroA100, gr120, gr17, gr24)
"""

import json
from importlib import resources

import numpy as np

from evocore import polvane
from evocore.algorithms import permutation_ga

INSTANCES = ("berlin52", "kroA100", "gr120", "gr17", "gr24")
GENERATIONS = 200


# ---- instances -----------------------------------------------------------------------------

def load(name):
    """The instance shipped with evocore: (distance matrix (int64), coordinates or None,
    optimal tour length)."""
    data = resources.files("evocore.demo") / "data"
    if (data / f"{name}.tsp").is_file():
        return read_tsplib((data / f"{name}.tsp").read_text())
    doc = json.loads((data / f"{name}.json").read_text())
    return np.array(doc["DistanceMatrix"], dtype=np.int64), None, int(doc["OptDistance"])


def read_tsplib(text):
    """A TSPLIB file of EDGE_WEIGHT_TYPE EUC_2D: (distances, coordinates, optimum)."""
    head, _, body = text.partition("NODE_COORD_SECTION")
    fields = dict(line.split(":", 1) for line in head.splitlines() if ":" in line)
    fields = {k.strip(): v.strip() for k, v in fields.items()}
    if fields.get("EDGE_WEIGHT_TYPE") != "EUC_2D":
        raise ValueError("only EUC_2D instances are read")
    n = int(fields["DIMENSION"])
    rows = [line.split() for line in body.splitlines() if line.strip() and line.strip() != "EOF"]
    coords = np.array([[float(r[1]), float(r[2])] for r in rows[:n]])
    return euc_2d(coords), coords, int(fields["OPTIMUM"])


def euc_2d(coords):
    """TSPLIB's EUC_2D distances: the Euclidean distance rounded to the nearest integer."""
    coords = np.ascontiguousarray(coords, dtype=float)
    return np.floor(polvane(coords, coords) + 0.5).astype(np.int64)


# ---- the runs ------------------------------------------------------------------------------

def embed(D):
    """Plane coordinates for an instance given only by distances: classical multidimensional
    scaling (the two leading eigenvectors of the double-centred squared distances)."""
    D2 = np.asarray(D, dtype=float) ** 2
    n = len(D2)
    J = np.eye(n) - 1.0 / n
    vals, vecs = np.linalg.eigh(-0.5 * J @ D2 @ J)
    top = np.argsort(vals)[::-1][:2]
    return vecs[:, top] * np.sqrt(np.maximum(vals[top], 0.0))


def run(name, seed=1, generations=GENERATIONS, callback=None):
    """One run on a shipped instance, stopped at its optimum; returns (result, optimum,
    coordinates or None)."""
    D, coords, optimum = load(name)
    result = permutation_ga(D, generations=generations, seed=seed, target=optimum,
                            callback=callback)
    return result, optimum, coords
