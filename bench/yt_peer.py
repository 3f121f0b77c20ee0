#!/usr/bin/python3
"""Peer comparison: yt's line_integral_convolution_2d against ConvolveLic, in one run.

The workload: a 2000 x 2000 Saddle field (written by flowloom-render), white noise, a box
kernel of length L = 15 (yt's kernel: 2 L + 1 ones), one thread. Prints both pixel rates,
by wall-clock and by CPU time, and our rate over yt's. Without yt (Debian python3-yt) it
says so and ends with status 0.

    bench/yt_peer.py [--build build] [--size 2000] [--repeat 3]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

try:
    import numpy as np
    from yt.utilities.lib.line_integral_convolution import line_integral_convolution_2d
except ImportError:
    print("yt is not installed (Debian package python3-yt): the peer comparison is skipped.")
    sys.exit(0)


def read_field(path):
    """A binary .vec file with the two-integer header, as (height, width, 2) floats."""
    with open(path, "rb") as f:
        width, height = np.frombuffer(f.read(8), dtype="<i4")
        body = np.frombuffer(f.read(8 * width * height), dtype="<f4")
    return body.reshape(height, width, 2)


def time_yt(vectors, texture, kernel, repeat):
    """Best wall-clock and CPU seconds of `repeat` runs."""
    best_wall = best_cpu = float("inf")
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        line_integral_convolution_2d(vectors, texture, kernel)
        best_wall = min(best_wall, time.perf_counter() - wall)
        best_cpu = min(best_cpu, time.process_time() - cpu)
    return best_wall, best_cpu


def time_ours(build, size, repeat):
    """Best wall-clock and CPU seconds of ConvolveLic on the best instruction set."""
    bench = os.path.join(build, "bench", "convolve_lic_bench")
    result = subprocess.run(
        [bench, f"--benchmark_filter=BM_ConvolveLic/path:1/size:{size}/L:15/maglic:0/all_threads:0/",
         f"--benchmark_repetitions={repeat}", "--benchmark_format=json"],
        check=True, capture_output=True, text=True)
    runs = [b for b in json.loads(result.stdout)["benchmarks"] if b.get("run_type") == "iteration"]
    if not runs:
        sys.exit(f"{bench} ran no benchmark for size {size}")
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[runs[0]["time_unit"]]
    return (min(r["real_time"] for r in runs) * scale, min(r["cpu_time"] for r in runs) * scale,
            runs[0].get("label", ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build directory (default: build)")
    parser.add_argument("--size", type=int, default=2000, help="grid side (default: 2000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each, the best counts (default: 3)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        field = os.path.join(tmp, "saddle.vec")
        subprocess.run([os.path.join(args.build, "flowloom-render"), "--size", f"{args.size}x{args.size}",
                        "--save-field", field, "-o", os.path.join(tmp, "saddle.bmp")],
                       check=True, capture_output=True)
        vectors = read_field(field).astype(np.float64)
    texture = np.random.default_rng(1).integers(0, 256, size=vectors.shape[:2]).astype(np.float64)
    kernel = np.ones(2 * 15 + 1)
    pixels = float(args.size) ** 2

    os.environ["OMP_NUM_THREADS"] = "1"
    ours_wall, ours_cpu, path = time_ours(args.build, args.size, args.repeat)
    yt_wall, yt_cpu = time_yt(vectors, texture, kernel, args.repeat)
    print(f"{args.size} x {args.size} Saddle, white noise, box kernel, L = 15, one thread; best of {args.repeat}")
    print(f"  ConvolveLic ({path}): {ours_wall:.3f} s wall, {ours_cpu:.3f} s CPU, "
          f"{pixels / ours_wall / 1e6:.2f} M pixels/s")
    print(f"  yt line_integral_convolution_2d: {yt_wall:.3f} s wall, {yt_cpu:.3f} s CPU, "
          f"{pixels / yt_wall / 1e6:.2f} M pixels/s")
    print(f"  our rate over yt's: {yt_wall / ours_wall:.2f} x by wall clock, {yt_cpu / ours_cpu:.2f} x by CPU time")


if __name__ == "__main__":
    main()
