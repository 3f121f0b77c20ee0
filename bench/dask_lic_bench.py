#!/usr/bin/python3
"""The tiled LIC on a dask.distributed LocalCluster: wall time, rate and peak memory per worker.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_lic_bench.py [--size 8000] [--chunk 2000]
                                       [--workers 1 2] [--length 15] [--maglic] [--profile]
                                       [--repeat 3]

The field is made chunk by chunk on the workers (a vortex around the grid's centre), so no
machine ever holds the whole of it; the picture is reduced to its sum, so none holds the
whole picture either. A worker's peak memory must follow its chunks, not the field.

Each worker has one thread and must run the engine on it alone: the CPU seconds a worker
spends against the wall time show whether it did. The in-memory engine's rate on one
thread (a 4000 x 4000 field) is measured first, so that the rate per worker can be set
against it. --profile adds where each worker's time went, by kind of task.

On a shared machine one run of each can be a fifth off either way; --repeat runs every
configuration and the in-memory baseline that many times, interleaved, and compares medians.
"""

import argparse
import collections
import concurrent.futures
import multiprocessing
import resource
import statistics
import time

import dask.array as da
import distributed
import numpy as np

import flowloom
import flowloom.dask as fdask

BASELINE_SIDE = 4000


def vortex_block(size, which, block_info=None):
    (r0, r1), (c0, c1) = block_info[None]["array-location"]
    # Broadcast rows and columns: a grid of indices would cost the worker more than its LIC.
    y = (np.arange(r0, r1, dtype=np.float32) - np.float32(size / 2))[:, None]
    x = (np.arange(c0, c1, dtype=np.float32) - np.float32(size / 2))[None, :]
    return np.broadcast_to(-y, (r1 - r0, c1 - c0)).copy() if which == 0 else x + np.float32(0.3) * y


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def in_memory_rate(length, maglic):
    """Pixels per second of flowloom.lic on one thread, over the same vortex."""
    n = BASELINE_SIDE
    where = {None: {"array-location": [(0, n), (0, n)]}}
    u, v = vortex_block(n, 0, where), vortex_block(n, 1, where)
    texture = flowloom.hashed_noise(n, n, seed=1)
    start = time.perf_counter()
    flowloom.lic(u, v, texture=texture, length=length, maglic=maglic, threads=1)
    wall = time.perf_counter() - start
    print(f"in memory, one thread: {n}x{n} in {wall:.2f} s, {n * n / wall / 1e6:.2f} Mpixel/s")
    return n * n / wall


def in_memory_rate_apart(length, maglic):
    """in_memory_rate in a process of its own: a worker forked from this one later would
    inherit its peak memory."""
    spawn = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=spawn) as pool:
        return pool.submit(in_memory_rate, length, maglic).result()


def time_by_task(stream):
    spent = collections.defaultdict(float)
    for task in stream:
        for part in task["startstops"]:
            spent[(distributed.utils.key_split(task["key"]), part["action"])] += part["stop"] - part["start"]
    return ", ".join(f"{name} {action} {s:.2f} s" for (name, action), s in
                     sorted(spent.items(), key=lambda kv: -kv[1]) if s >= 0.01)


def run(size, chunk, workers, length, maglic, profile):
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                  dashboard_address=None, memory_limit=0) as cluster:
        with distributed.Client(cluster) as client:
            # Every worker up before the counters are read, or a late one has no "before".
            client.wait_for_workers(workers)
            chunks = da.core.normalize_chunks((chunk, chunk), (size, size))
            u = da.map_blocks(vortex_block, size, 0, chunks=chunks, dtype=np.float32)
            v = da.map_blocks(vortex_block, size, 1, chunks=chunks, dtype=np.float32)
            picture = fdask.lic(u, v, seed=1, length=length, maglic=maglic)
            idle = client.run(peak_rss_mb)
            cpu_before = client.run(cpu_seconds)
            with distributed.get_task_stream(client) as stream:
                start = time.perf_counter()
                total = int(picture.sum().compute())
                wall = time.perf_counter() - start
            cpu = {w: c - cpu_before[w] for w, c in client.run(cpu_seconds).items()}
            peaks = client.run(peak_rss_mb)
    rate = size * size / wall / workers
    print(f"{size}x{size} chunks {chunk}x{chunk} length {length}{' MagLIC' if maglic else ''}, "
          f"{workers} worker(s): {wall:.2f} s, {rate / 1e6:.2f} Mpixel/s per worker; CPU s per worker "
          + ", ".join(f"{cpu[w]:.1f}" for w in sorted(cpu)) + "; peak RSS per worker "
          + ", ".join(f"{peaks[w]:.0f} MB (idle {idle[w]:.0f} MB)" for w in sorted(peaks))
          + f"; checksum {total}")
    if profile:
        print("  time by task: " + time_by_task(stream.data))
    return wall, rate


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=8000)
    parser.add_argument("--chunk", type=int, default=2000)
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--length", type=int, default=15)
    parser.add_argument("--maglic", action="store_true")
    parser.add_argument("--profile", action="store_true")
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    walls = collections.defaultdict(list)
    baselines = []
    for _ in range(max(args.repeat, 1)):
        for w in args.workers:
            walls[w].append(run(args.size, args.chunk, w, args.length, args.maglic, args.profile)[0])
        baselines.append(in_memory_rate_apart(args.length, args.maglic))
    baseline = statistics.median(baselines)
    wall = {w: statistics.median(t) for w, t in walls.items()}
    if args.repeat > 1:
        print(f"medians of {args.repeat} runs: in memory {BASELINE_SIDE**2 / baseline:.2f} s; "
              + ", ".join(f"{w} worker(s) {wall[w]:.2f} s" for w in args.workers))
    for w in args.workers:
        rate = args.size * args.size / wall[w] / w
        line = f"{w} worker(s): {rate / baseline:.2f} x the in-memory rate per worker"
        if w > 1 and 1 in wall:
            line += f", {wall[1] / wall[w]:.2f} x one worker"
        print(line)


if __name__ == "__main__":
    main()
