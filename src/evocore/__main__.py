"""python -m evocore: the version and a short demonstration of the operators."""

import numpy as np

import evocore
from evocore.core import build


def main():
    build.build()  # the version key answers
    print(f"evocore {evocore.__version__} (core version 2.7)")
    ObjV = np.array([[1.0, 4.0], [3.0, 2.0]])
    weights = np.array([[0.5, 0.5], [0.9, 0.1]])
    idealPoint = np.array([1.0, 2.0])
    print("ObjV =", ObjV.tolist(), " weights =", weights.tolist(), " idealPoint =", idealPoint.tolist())
    print("druvik(ObjV, weights, idealPoint)        ->", evocore.druvik(ObjV, weights, idealPoint).tolist())
    print("quelan(ObjV, weights, idealPoint)        ->", evocore.quelan(ObjV, weights, idealPoint).tolist())
    print("ornavi(ObjV)                             ->", evocore.ornavi(ObjV).tolist())
    maxormins = np.array([1, -1])
    print("ornavi(ObjV, None, maxormins, [0, -5])   ->",
          evocore.ornavi(ObjV, None, maxormins, np.array([0.0, -5.0])).tolist())
    CV = np.array([[0.0], [0.5]])
    print("druvik(ObjV, weights, idealPoint, CV)    ->", evocore.druvik(ObjV, weights, idealPoint, CV).tolist())
    # x = 5 in [0, 10] on 4 digits: code 7, in plain binary and in Gray code
    FieldD = np.array([[4, 4], [0, 0], [10, 10], [0, 1], [0, 0], [1, 1], [1, 1], [0, 0]], dtype=float)
    print("velkor([[5, 5]], FieldD)                 ->", evocore.velkor(np.array([[5.0, 5.0]]), FieldD).tolist())

    # A population of decomposition sub-problems, serially and on the thread team.
    rng = np.random.default_rng(2027)
    P = rng.random((200_000, 3))
    W = rng.dirichlet(np.ones(3), size=len(P))
    z = evocore.ornavi(P)
    serial = evocore.druvik(P, W, z)
    parallel = evocore.druvik(P, W, z, Parallel=True)
    print(f"druvik over {len(P)} individuals: serial and Parallel=True agree bit for bit:",
          serial.tobytes() == parallel.tobytes())


if __name__ == "__main__":
    main()
