"""A permutation GA with 2-opt for the travelling salesman problem, on evocore.

Each generation ranks the tours by length into fitness, selects parents in proportion to it,
crosses them by order crossover, disturbs a few children by a double-bridge move and brings
every child to a 2-opt local optimum (a memetic GA).  The best tours found so far are kept
(elitism, one copy per tour length so that the population does not collapse onto one tour).

evocore does the population-level work:

    polvane  the city-to-city distances (TSPLIB EUC_2D: the nearest integer of the Euclidean
             distance)
    ulvaro   fitness from the tour lengths (the longest tour 0, the shortest 1)
    sarnet   order crossover of the parent tours

The 2-opt step is plain NumPy below: for a tour it evaluates every exchange of two edges at
once and applies the best one until none shortens the tour.  Run it with

    python -m evocore --problem berlin52        (or kroA100, gr120, gr17, gr24)
"""

import json
from importlib import resources

import numpy as np

from evocore import polvane, sarnet, ulvaro

INSTANCES = ("berlin52", "kroA100", "gr120", "gr17", "gr24")


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


# ---- tours ---------------------------------------------------------------------------------

def tour_length(D, tours):
    """Length of each closed tour (a 1-D tour gives a number, rows of tours an array)."""
    tours = np.asarray(tours)
    return D[tours, np.roll(tours, -1, axis=-1)].sum(axis=-1)


def neighbours(D, k=8):
    """The k nearest other cities of every city (one row per city)."""
    return np.argsort(D + np.diag(np.full(len(D), D.max() + 1)), axis=1, kind="stable")[:, :k]


def two_opt(D, tours, near=None):
    """2-opt: replace edges (a, b), (c, d) by (a, c), (b, d) while some such exchange shortens
    the tour, taking the best exchange each time.  With near (see neighbours) only the
    exchanges whose new edge (a, c) joins near neighbours are weighed, which is far cheaper and
    loses little.  tours: one tour, or one per row, all improved side by side (every exchange
    of every tour weighed in one pass).  Returns the improved tours (a new array)."""
    t = np.array(tours, ndmin=2)
    n = t.shape[1]
    near = np.tile(np.arange(n), (n, 1)) if near is None else near
    i = np.repeat(np.arange(n), near.shape[1])      # the position of a in the tour
    active = np.arange(len(t))
    while len(active):
        a = t[active]
        b = np.roll(a, -1, axis=1)
        c = near[a].reshape(len(a), -1)                # the candidates for a's new neighbour
        j = np.take_along_axis(np.argsort(a, axis=1), c, axis=1)    # their positions
        d = np.take_along_axis(b, j, axis=1)
        ai, bi = a[:, i], b[:, i]
        gain = D[ai, c] + D[bi, d] - D[ai, bi] - D[c, d]
        p, q = np.minimum(i, j), np.maximum(i, j)
        gain[(q - p < 2) | ((p == 0) & (q == n - 1))] = 0   # edges that touch
        k = gain.argmin(axis=1)
        better = np.flatnonzero(gain[np.arange(len(a)), k] < 0)
        for r in better:                              # reverse the path b ... c
            lo, hi = p[r, k[r]] + 1, q[r, k[r]] + 1
            t[active[r], lo:hi] = t[active[r], lo:hi][::-1].copy()
        active = active[better]
    return t if np.ndim(tours) == 2 else t[0]


def double_bridge(tour, rng):
    """The classic kick: cut the tour into four pieces A B C D and join them as A C B D."""
    n = len(tour)
    p, q, r = np.sort(rng.choice(np.arange(1, n), size=3, replace=False))
    return np.concatenate((tour[:p], tour[q:r], tour[p:q], tour[r:]))


# ---- the algorithm -------------------------------------------------------------------------

def ga(D, pop_size=30, generations=200, xovr=0.9, kick=0.3, seed=1, optimum=None,
       on_generation=None):
    """Search for a short closed tour through all cities of the distance matrix D.

    Stops after `generations` or when a tour of length `optimum` is found; calls
    on_generation(gen, best_length) after every generation.  Returns (tour, length, gens).
    """
    rng = np.random.default_rng(seed)
    np.random.seed(seed)                  # sarnet draws its seed from NumPy's global generator
    n = len(D)
    near = neighbours(D)
    pop = two_opt(D, np.array([rng.permutation(n) for _ in range(pop_size)], dtype=np.int32), near)
    lengths = tour_length(D, pop)
    gen = 0
    for gen in range(1, generations + 1):
        FitnV = ulvaro(lengths[:, None].astype(float))[:, 0]
        weight = FitnV + 1e-9                # the worst tour has fitness 0
        parents = rng.choice(pop_size, size=pop_size, p=weight / weight.sum())
        children = sarnet(pop[parents], xovr)
        for c in np.flatnonzero(rng.random(pop_size) < kick):
            children[c] = double_bridge(children[c], rng)
        children = two_opt(D, children, near)
        # survivors: the shortest tours of parents and children, one per length
        everyone = np.vstack((pop, children))
        everyone_len = tour_length(D, everyone)
        _, first = np.unique(everyone_len, return_index=True)   # sorted by length
        best = first[:pop_size]
        if len(best) < pop_size:             # fewer distinct lengths than places: refill
            rest = np.setdiff1d(np.argsort(everyone_len, kind="stable"), best)
            best = np.concatenate((best, rest[:pop_size - len(best)]))
        pop, lengths = everyone[best], everyone_len[best]
        if on_generation is not None:
            on_generation(gen, int(lengths.min()))
        if optimum is not None and lengths.min() <= optimum:
            break
    k = int(np.argmin(lengths))
    return pop[k], int(lengths[k]), gen


def embed(D):
    """Plane coordinates for an instance given only by distances: classical multidimensional
    scaling (the two leading eigenvectors of the double-centred squared distances)."""
    D2 = np.asarray(D, dtype=float) ** 2
    n = len(D2)
    J = np.eye(n) - 1.0 / n
    vals, vecs = np.linalg.eigh(-0.5 * J @ D2 @ J)
    top = np.argsort(vals)[::-1][:2]
    return vecs[:, top] * np.sqrt(np.maximum(vals[top], 0.0))


def run(name, seed=1, generations=200, on_generation=None):
    """One run on a shipped instance; returns (tour, length, optimum, coordinates, gens)."""
    D, coords, optimum = load(name)
    tour, length, gens = ga(D, generations=generations, seed=seed, optimum=optimum,
                            on_generation=on_generation)
    return tour, length, optimum, coords, gens
