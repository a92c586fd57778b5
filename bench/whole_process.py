#!/usr/bin/env python3
"""Whole-process benchmark of velador: the ten operations against the commands a user would
script for the same result, peak memory, and the time of a small file. Run by hand, not in CI.

    python3 bench/whole_process.py --bin build/default/app/velador [--mib 256] [--runs 5]
                                   [--small-runs 200] [--rss-gib 4]

Anchors, on the same file: Encryption <-> `openssl enc -aes-128-cbc -nopad` (or -d); MAC <-> cp
then `openssl mac ... CMAC`; Hash <-> cp then `openssl dgst -sha1`; Encryption-and-Hash <->
`openssl enc` then `dgst -sha1` of its output (decapsulation: `openssl enc -d`); Non-Protected
<-> cp. Each operation runs paired with its anchor, alternately (A B A B ...), after one warm-up
pair; the table shows the median wall time of each side, the median of the pairwise ratios, the
ratio to cp of the same file, and velador's peak resident memory in one more run. A 10 KiB encapsulation is timed against cp of the
same file the same way. With --rss-gib N every operation also runs once on a sparse input of
N GiB (at most 4 GiB less one byte, the largest content a container holds) for its peak memory.
Prints Markdown, ready for the README; the load average before and after tells how quiet the
machine was.
"""
import argparse
import os
import shutil
import subprocess
import tempfile

import timing
from timing import peak_memory, timed, write_random

KEY_HEX = "000102030405060708090a0b0c0d0e0f"
ENC = ["openssl", "enc", "-aes-128-cbc", "-nopad", "-K", KEY_HEX, "-iv", "0" * 32]
DEC = ["openssl", "enc", "-d", "-aes-128-cbc", "-nopad", "-K", KEY_HEX, "-iv", "0" * 32]


def shell(*commands):
    return ["sh", "-c", " && ".join(" ".join(c) for c in commands)]


def cmac(path):
    return ["openssl", "mac", "-cipher", "AES-128-CBC", "-macopt", "hexkey:" + KEY_HEX, "-in",
            path, "CMAC"]


def sha1(path):
    return ["openssl", "dgst", "-sha1", path]


def paired(tool, anchor, cwd, runs, reset=None):
    """Medians of both sides, median ratio, and the tool's peak memory in one more run."""
    tool_time, anchor_time, ratio = timing.paired(tool, anchor, cwd, runs, lambda a, b: a / b,
                                                  reset)
    if reset:
        reset()
    return tool_time, anchor_time, ratio, peak_memory(tool, cwd)


def prepare(work, size):
    write_random(os.path.join(work, "big.png"), size)
    for name in ("big.xml", "big.js", "big.txt"):
        shutil.copyfile(os.path.join(work, "big.png"), os.path.join(work, name))
    with open(os.path.join(work, "k.bin"), "wb") as f:
        f.write(bytes.fromhex(KEY_HEX))
    for folder in ("img/ADV_OBJ", "img/AACS", "out", "dec"):
        os.makedirs(os.path.join(work, folder), exist_ok=True)


def fresh_table(work):
    with open(os.path.join(work, "img/AACS/CONTENT_HASH_TABLE2.AACS"), "wb") as f:
        f.write(bytes(40060))


def operations(velador):
    """(label, velador command, anchor command, needs a fresh table), encapsulations first."""
    return [
        ("Encryption encapsulation", [velador, "-e", "-p", "big.png", "out", "k.bin"],
         ENC + ["-in", "big.png", "-out", "o.enc"], False),
        ("MAC encapsulation", [velador, "-e", "-p", "big.xml", "out", "k.bin"],
         shell(["cp", "big.xml", "o.cp"], cmac("big.xml")), False),
        ("Non-Protected encapsulation", [velador, "-e", "-p", "big.txt", "out", "k.bin"],
         ["cp", "big.txt", "o.cp"], False),
        ("Hash encapsulation", [velador, "-e", "-d", "big.xml", "img"],
         shell(["cp", "big.xml", "o.cp"], sha1("big.xml")), True),
        ("Encryption-and-Hash encapsulation", [velador, "-e", "-d", "big.js", "img", "k.bin"],
         shell(ENC + ["-in", "big.js", "-out", "o.enc"], sha1("o.enc")), True),
        ("Encryption decapsulation", [velador, "-d", "out/big.png", "dec", "k.bin"],
         DEC + ["-in", "o.enc", "-out", "o.dec"], False),
        ("MAC decapsulation", [velador, "-d", "out/big.xml", "dec", "k.bin"],
         shell(["cp", "big.xml", "o.cp"], cmac("big.xml")), False),
        ("Non-Protected decapsulation", [velador, "-d", "out/big.txt", "dec", "k.bin"],
         ["cp", "big.txt", "o.cp"], False),
        ("Hash decapsulation", [velador, "-d", "img/ADV_OBJ/big.xml", "dec"],
         shell(["cp", "big.xml", "o.cp"], sha1("big.xml")), False),
        ("Encryption-and-Hash decapsulation", [velador, "-d", "img/ADV_OBJ/big.js", "dec", "k.bin"],
         DEC + ["-in", "o.enc", "-out", "o.dec"], False),
    ]


def throughput(velador, work, mib, runs):
    prepare(work, mib << 20)
    rows = []
    for label, tool, anchor, table in operations(velador):
        if label == "Encryption decapsulation":
            # The hashed containers decapsulated below are checked against a table that holds
            # exactly their entries.
            fresh_table(work)
            timed([velador, "-e", "-d", "big.xml", "img"], work)
            timed([velador, "-e", "-d", "big.js", "img", "k.bin"], work)
        reset = (lambda: fresh_table(work)) if table else None
        rows.append((label,) + paired(tool, anchor, work, runs, reset))
    cp, _, _, _ = paired(["cp", "big.txt", "o.cp"], ["cp", "big.txt", "o.cp2"], work, runs)
    return rows, cp


def small_file(velador, work, runs):
    write_random(os.path.join(work, "small.png"), 10240)
    tool, cp, ratio, _ = paired([velador, "-e", "-p", "small.png", "out", "k.bin"],
                                ["cp", "small.png", "small.cp"], work, runs)
    return tool, cp, ratio


def peak_memory_at(velador, work, gib):
    """Peak resident memory of every operation on a sparse input of `gib` GiB."""
    size = min(gib << 30, (1 << 32) - 1)
    sparse = os.path.join(work, "sparse.bin")
    with open(sparse, "wb") as f:
        f.truncate(size)
    for name in ("big.png", "big.xml", "big.js", "big.txt"):
        path = os.path.join(work, name)
        if os.path.exists(path):
            os.remove(path)
        os.symlink(sparse, path)
    fresh_table(work)
    ops = operations(velador)
    peaks = {}
    # Each type's encapsulation, then its decapsulation; then both results go, so that the
    # disk holds at most one container and one restored file at a time.
    for encapsulation, decapsulation in zip(ops[:5], ops[5:]):
        for label, tool, _, _ in (encapsulation, decapsulation):
            peaks[label] = peak_memory(tool, work)
        os.remove(os.path.join(work, decapsulation[1][2]))
        os.remove(os.path.join(work, "dec", decapsulation[1][2].split("/")[-1]))
    return size, [(label, peaks[label]) for label, _, _, _ in ops]


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--small-runs", type=int, default=200)
    parser.add_argument("--rss-gib", type=int, default=0)
    parser.add_argument("--folder", help="where to put the files (default: the system's temp)")
    options = parser.parse_args()
    velador = os.path.abspath(options.bin)
    work = tempfile.mkdtemp(prefix="velador-bench-", dir=options.folder)
    try:
        print("load average before: %s; %d cores" % (load(), os.cpu_count()))
        rows, cp = throughput(velador, work, options.mib, options.runs)
        small, small_cp, small_ratio = small_file(velador, work, options.small_runs)
        print()
        print("%d MiB of random data, %d paired runs after a warm-up, medians; ratio = velador "
              "/ anchor, median of the pairs" % (options.mib, options.runs))
        print()
        print("| Operation | velador | anchor | ratio | vs cp | peak memory |")
        print("|---|---|---|---|---|---|")
        for label, tool, anchor, ratio, rss in rows:
            print("| %s | %.3f s | %.3f s | %.2f | %.2f | %.1f MiB |"
                  % (label, tool, anchor, ratio, tool / cp, rss / 1024))
        print()
        print("cp of the same file: %.3f s. Worst ratio to an anchor: %.2f."
              % (cp, max(row[3] for row in rows)))
        print("10 KiB Encryption encapsulation: %.2f ms, cp %.2f ms, ratio %.2f (median of %d "
              "pairs)." % (small * 1000, small_cp * 1000, small_ratio, options.small_runs))
        if options.rss_gib:
            size, peaks = peak_memory_at(velador, work, options.rss_gib)
            print()
            print("Peak memory on a sparse input of %d bytes:" % size)
            print()
            print("| Operation | peak memory |")
            print("|---|---|")
            for label, rss in peaks:
                print("| %s | %.1f MiB |" % (label, rss / 1024))
        print()
        print("load average after: %s" % load())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
