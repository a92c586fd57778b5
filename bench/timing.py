"""Timing helpers the benchmark scripts share: one run's wall time and peak memory, and paired
runs of two commands, alternately, after one warm-up pair."""
import os
import statistics
import subprocess
import time


def timed(command, cwd, check=True):
    """Wall time of one run of `command` (a list of words, or a string for the shell)."""
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, shell=isinstance(command, str), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=check)
    return time.perf_counter() - start


def peak_memory(command, cwd, check=True):
    """Peak resident memory (KiB) of one run of `command`, through /usr/bin/time: the count of
    a process started from this script would include the script's own memory before the exec."""
    report = os.path.join(cwd, "time.out")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=check)
    with open(report) as f:
        return int(f.read().split()[-1])


def paired(a, b, cwd, runs, ratio, reset=None, check=True):
    """Runs `a` then `b`, `runs` + 1 times (the first pair warms the caches), `reset` before
    each run; answers the median times of both and the median of ratio(time of a, time of b)."""
    a_times, b_times, ratios = [], [], []
    for run in range(runs + 1):
        if reset:
            reset()
        ta = timed(a, cwd, check)
        if reset:
            reset()
        tb = timed(b, cwd, check)
        if run:
            a_times.append(ta)
            b_times.append(tb)
            ratios.append(ratio(ta, tb))
    return statistics.median(a_times), statistics.median(b_times), statistics.median(ratios)


def write_random(path, size):
    """A file of `size` random bytes."""
    with open(path, "wb") as f:
        left = size
        while left:
            block = os.urandom(min(left, 1 << 20))
            f.write(block)
            left -= len(block)
