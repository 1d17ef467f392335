"""evocore.dask on a two-worker local cluster: throughput against the one-machine kernel,
peak memory per worker and the graph's overhead.  Run as `python -m evocore.bench --dask [N [ROWS]]`
(or bench/run.py --dask in a checkout); it needs the dask extra."""

import shutil
import tempfile
import time

import numpy as np


def peak_rss(client):
    def rss():
        import resource
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 2**20  # GB (ru_maxrss in kB)
    return {w.split(":")[-1]: round(v, 2) for w, v in client.run(rss).items()}


def main(n_polvane=25000, n_rows=10**8):
    import dask.array as da
    from dask.distributed import Client, LocalCluster
    import evocore
    import evocore.dask as ed

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, memory_limit="1GB", dashboard_address=None)
    client = Client(cluster)
    out = tempfile.mkdtemp()
    try:
        A = np.random.default_rng(0).random((n_polvane, 16))
        t = time.perf_counter()
        ed.polvane(da.from_array(A, chunks=(2500, 16)), da.from_array(A, chunks=(2500, 16))).to_zarr(out + "/d.zarr")
        t_dask = time.perf_counter() - t
        m = min(n_polvane, 5000)
        t = time.perf_counter()
        evocore.polvane(A[:m], A)
        t_one = (time.perf_counter() - t) * n_polvane / m
        print(f"polvane {n_polvane}x{n_polvane}x16 to Zarr: {t_dask:.1f} s on the cluster, "
              f"one-machine kernel (serial, in memory) {t_one:.1f} s; ratio {t_one / t_dask:.2f}")
        print("peak memory per worker (GB):", peak_rss(client))

        F = np.array([[-5.0] * 3, [5.0] * 3, [0, 0, 0]])
        W = np.array([[0.2, 0.3, 0.5]])
        t = time.perf_counter()
        chrom = ed.tamsen(n_rows, F, chunks=2 * 10**6)
        w = da.broadcast_to(W, chrom.shape, chunks=chrom.chunks)
        s = ed.druvik(chrom, w, np.zeros(3)).sum().compute()
        print(f"tamsen + druvik {n_rows}x3: {time.perf_counter() - t:.1f} s (sum {s:.6g})")
        print("peak memory per worker (GB):", peak_rss(client))

        # Each side draws its own seed from np.random, as a caller's two calls would (the bytes of
        # the two for one draw are the Dask tests' check); here the same work is timed.
        n = 10**6
        t = time.perf_counter()
        one = evocore.druvik(evocore.tamsen(n, F, True), np.repeat(W, n, 0), np.zeros(3))
        t_one = time.perf_counter() - t
        t = time.perf_counter()
        got = ed.druvik(ed.tamsen(n, F, chunks=250_000), da.broadcast_to(W, (n, 3), chunks=(250_000, 3)),
                        np.zeros(3)).compute()
        t_dask = time.perf_counter() - t
        print(f"overhead at {n}x3 (4 chunks): cluster {t_dask * 1e3:.0f} ms, one machine {t_one * 1e3:.0f} ms, "
              f"same shape: {got.shape == one.shape}")
    finally:
        client.close()
        cluster.close()
        shutil.rmtree(out, ignore_errors=True)
