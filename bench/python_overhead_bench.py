#!/usr/bin/python3
"""The Python call's overhead over the C++ engine: flowloom.lic against caller_field_bench.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_overhead_bench.py [build/bench/caller_field_bench]

Both compute the box-kernel LIC (length 15, white noise, one thread) of the same vortex
field at 300 x 300 and 2000 x 2000, from the hand-over of the field to the grey picture.
The Python call adds the argument checks, the conversion to the engine's interleaved field
and the result array. Each side is the median of several runs, in processor time (one
thread), so that other work on the machine does not count; wall times are shown too.
"""

import json
import statistics
import subprocess
import sys
import time

import flowloom


def engine_seconds(binary):
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=true"], check=True, capture_output=True, text=True)
    result = {}
    for b in json.loads(out.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            size = int(b["run_name"].split("size:")[1].split("/")[0])
            result[size] = (b["cpu_time"] / 1000.0, b["real_time"] / 1000.0)  # from milliseconds
    return result


def python_seconds(size, runs):
    u, v = flowloom.analytic_field("vortex", size, size)
    flowloom.lic(u, v, threads=1)  # warm up
    cpu, wall = [], []
    for _ in range(runs):
        start_cpu, start_wall = time.process_time(), time.perf_counter()
        flowloom.lic(u, v, threads=1)
        cpu.append(time.process_time() - start_cpu)
        wall.append(time.perf_counter() - start_wall)
    return statistics.median(cpu), statistics.median(wall)


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build/bench/caller_field_bench"
    engine = engine_seconds(binary)
    for size, runs in ((300, 15), (2000, 5)):
        (py_cpu, py_wall), (cpp_cpu, cpp_wall) = python_seconds(size, runs), engine[size]
        overhead = (py_cpu - cpp_cpu) / cpp_cpu * 100.0
        print(f"{size}x{size}: engine {cpp_cpu * 1000:.1f} ms, Python call {py_cpu * 1000:.1f} ms of processor time, "
              f"overhead {overhead:+.1f} % (wall {cpp_wall * 1000:.1f} and {py_wall * 1000:.1f} ms)")


if __name__ == "__main__":
    main()
