#!/usr/bin/python3
"""The tiled LIC on a dask.distributed LocalCluster: wall time and peak memory per worker.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_lic_bench.py [--size 8000] [--chunk 2000]
                                                                     [--workers 1 2] [--length 15]

The field is made chunk by chunk on the workers (a vortex around the grid's centre), so no
machine ever holds the whole of it; the picture is reduced to its sum, so none holds the
whole picture either. A worker's peak memory must follow its chunks, not the field.
"""

import argparse
import resource
import time

import dask.array as da
import distributed
import numpy as np

import flowloom.dask as fdask


def vortex_block(size, which, block_info=None):
    (r0, r1), (c0, c1) = block_info[None]["array-location"]
    y, x = np.mgrid[r0:r1, c0:c1].astype(np.float32)
    y -= size / 2
    x -= size / 2
    return (-y if which == 0 else x + 0.3 * y).astype(np.float32)


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def run(size, chunk, workers, length, maglic):
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                  dashboard_address=None, memory_limit=0) as cluster:
        with distributed.Client(cluster) as client:
            chunks = (chunk, chunk)
            shape = (size, size)
            u = da.map_blocks(vortex_block, size, 0, chunks=da.core.normalize_chunks(chunks, shape), dtype=np.float32)
            v = da.map_blocks(vortex_block, size, 1, chunks=da.core.normalize_chunks(chunks, shape), dtype=np.float32)
            picture = fdask.lic(u, v, seed=1, length=length, maglic=maglic)
            baseline = client.run(peak_rss_mb)
            start = time.perf_counter()
            total = int(picture.sum().compute())
            wall = time.perf_counter() - start
            peaks = client.run(peak_rss_mb)
    print(f"{size}x{size} chunks {chunk}x{chunk} length {length}{' MagLIC' if maglic else ''}, "
          f"{workers} worker(s): {wall:.1f} s; peak RSS per worker "
          + ", ".join(f"{peaks[w]:.0f} MB (idle {baseline[w]:.0f} MB)" for w in sorted(peaks))
          + f"; checksum {total}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=8000)
    parser.add_argument("--chunk", type=int, default=2000)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--length", type=int, default=15)
    parser.add_argument("--maglic", action="store_true")
    args = parser.parse_args()
    for workers in args.workers:
        run(args.size, args.chunk, workers, args.length, args.maglic)


if __name__ == "__main__":
    main()
