#!/usr/bin/env python3
"""Benchmark of velador-image against the shell loops it replaces, and against reading every
byte once. Run by hand, not in CI.

    python3 bench/image.py --bin build/default/app [--files 200] [--mib 1024] [--runs 3]
                           [--dir /tmp]

Makes `--files` files totalling `--mib` MiB of random data, in turn .xml (Hash), .js
(Encryption-and-Hash), .png (Encryption) and .txt (Non-Protected), of sizes spread from small to
large. Then, each pair alternately after a warm-up pair, the medians of:

- add:   `velador-image add img --key key src/*` against `for f in src/*; do velador -e -d
         "$f" ref key; done`, both on a fresh image each time;
- check: `velador-image check img --key key` against `for f in img/ADV_OBJ/*; do velador -d
         "$f" out key; done` (the loop a user would script to read the verdicts);
- and `cat img/ADV_OBJ/* > /dev/null`, the time to read every byte once (warm page cache).

Prints Markdown with the times, the ratios and velador-image's peak resident memory (through
/usr/bin/time), and the load average before and after, which tells how quiet the machine was.
"""
import argparse
import os
import shutil
import subprocess
import tempfile

import timing
from timing import peak_memory, write_random

ENDINGS = [".xml", ".js", ".png", ".txt"]


def fresh_image(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "ADV_OBJ"))
    os.makedirs(os.path.join(folder, "AACS"))
    with open(os.path.join(folder, "AACS", "CONTENT_HASH_TABLE2.AACS"), "wb") as f:
        f.write(bytes(40060))


def make_sources(work, files, total):
    """Sizes rising linearly from about 1/20 of the mean to twice it, scaled to `total`."""
    weights = [1 + 39 * i / max(files - 1, 1) for i in range(files)]
    scale = total / sum(weights)
    sizes = [int(w * scale) for w in weights]
    sizes[-1] += total - sum(sizes)
    os.makedirs(os.path.join(work, "src"))
    names = []
    for i, size in enumerate(sizes):
        name = "f%03d%s" % (i, ENDINGS[i % 4])
        write_random(os.path.join(work, "src", name), size)
        names.append("src/" + name)
    with open(os.path.join(work, "key"), "wb") as f:
        f.write(bytes(range(16)))
    return names


def paired(a, b, cwd, runs, reset=None):
    """Medians of both sides and the median of b / a; failing runs are timed as they are."""
    return timing.paired(a, b, cwd, runs, lambda ta, tb: tb / ta, reset, check=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder holding velador and velador-image")
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--dir", default=None)
    args = parser.parse_args()
    velador = os.path.abspath(os.path.join(args.bin, "velador"))
    image = os.path.abspath(os.path.join(args.bin, "velador-image"))
    load_before = os.getloadavg()
    with tempfile.TemporaryDirectory(dir=args.dir) as work:
        names = make_sources(work, args.files, args.mib << 20)
        add = [image, "add", "img", "--key", "key"] + names
        loop_add = 'for f in src/*; do "%s" -e -d "$f" ref key; done' % velador

        def reset():
            fresh_image(os.path.join(work, "img"))
            fresh_image(os.path.join(work, "ref"))

        add_time, loop_add_time, add_ratio = paired(add, loop_add, work, args.runs, reset)
        reset()
        add_memory = peak_memory(add, work, check=False)
        os.makedirs(os.path.join(work, "out"))
        check = [image, "check", "img", "--key", "key"]
        loop_check = 'for f in img/ADV_OBJ/*; do "%s" -d "$f" out key; done' % velador
        check_time, loop_check_time, check_ratio = paired(check, loop_check, work, args.runs)
        cat = "cat img/ADV_OBJ/* > /dev/null"
        cat_time, _, cat_ratio = paired(cat, check, work, args.runs)
        check_memory = peak_memory(check, work, check=False)
        status = subprocess.run(check, cwd=work, stdout=subprocess.DEVNULL).returncode
    load_after = os.getloadavg()
    print("%d files, %d MiB; %d runs each (medians); load average %.2f before, %.2f after;"
          " check's status %d" % (args.files, args.mib, args.runs, load_before[0], load_after[0],
                                  status))
    print()
    print("| Command | velador-image | loop of velador | loop / velador-image | peak memory |")
    print("|---|---|---|---|---|")
    print("| add | %.2f s | %.2f s | %.2f | %.1f MiB |" % (add_time, loop_add_time, add_ratio,
                                                         add_memory / 1024))
    print("| check | %.2f s | %.2f s | %.2f | %.1f MiB |" % (check_time, loop_check_time,
                                                           check_ratio, check_memory / 1024))
    print()
    print("cat of the same files to /dev/null: %.2f s; check / cat: %.2f" % (cat_time, cat_ratio))


if __name__ == "__main__":
    main()
