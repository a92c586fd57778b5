#!/usr/bin/env python3
"""Benchmark of velador-image against the shell loops it replaces, and against reading every
byte once. Run by hand, not in CI.

    python3 bench/image.py --bin build/default/app [--files 200] [--mib 1024] [--runs 3]
                           [--dir /tmp] [--compact-entries 1000000]

Makes `--files` files totalling `--mib` MiB of random data, in turn .xml (Hash), .js
(Encryption-and-Hash), .png (Encryption) and .txt (Non-Protected), of sizes spread from small to
large. Then, each pair alternately after a warm-up pair, the medians of:

- add:   `velador-image add img --key key src/*` against `for f in src/*; do velador -e -d
         "$f" ref key; done`, both on a fresh image each time;
- check: `velador-image check img --key key` against `for f in img/ADV_OBJ/*; do velador -d
         "$f" out key; done` (the loop a user would script to read the verdicts);
- and `cat img/ADV_OBJ/* > /dev/null`, the time to read every byte once (warm page cache);
- build: `velador-image init img2; velador-image build src img2 --key key` against `velador-image
         init ref` and the loop of add, both from no image at all;
- build after a change: `velador-image build src img2 --key key` once 5 of the sources were
         rewritten with new random data, against the cat of the image; before each run the image
         gets back its containers of those 5 files and its table from before the change, and the
         5 sources new data again;
- build with nothing changed: the same build once more, from what the last build kept in its
         cache (the cache warmed and its stamps old enough to be trusted), and with --no-cache,
         each against the cat of the image; and build after a change with --no-cache;
- build on the disk: `velador-image init` and a build of every file, each durable, against
         `cp -r src` and `sync` (meaningful with --dir on a disk, not a tmpfs);
- the disc image file: `velador-image check disc.udf --key key` of the image mastered by
         `genisoimage -udf` (when it is installed), against the check of the folder;
- extract: `velador-image extract img out --key key --force` against the loop of check, both
         into an empty `out`, and against `cp -r img/ADV_OBJ`;
- compact: `velador-image compact cimg` of an image whose table has --compact-entries entries,
         half of them orphaned: the containers of .js files (Encryption-and-Hash, one entry per
         512-byte unit) of half that many units, then as many random entries appended to the
         table (its counter raised to match); the table is put back before each run. It has no
         loop to compare with: only its time.

Prints Markdown with the times, the ratios and velador-image's peak resident memory (through
/usr/bin/time), and the load average before and after, which tells how quiet the machine was.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import tempfile
import time

import timing
from timing import peak_memory, write_random

ENDINGS = [".xml", ".js", ".png", ".txt"]
TABLE = os.path.join("AACS", "CONTENT_HASH_TABLE2.AACS")
COUNTER = 40056  # the table's big-endian entry count; its entries of 8 bytes follow it
UNIT = 512  # the bytes of content behind each entry of an Encryption-and-Hash file


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


def changed(files):
    """Five of the sources, spread over the names and so of every type."""
    return ["f%03d%s" % (i, ENDINGS[i % 4]) for i in range(0, files, max(files // 5, 1))][:5]


def make_orphaned(work, image, entries):
    """An image of .js files behind `entries` / 2 table entries, then as many random entries
    appended to its table; answers the table's bytes."""
    os.makedirs(os.path.join(work, "csrc"))
    units = entries // 2
    for i in range(5):
        share = units // 5 + (units % 5 if i == 4 else 0)
        write_random(os.path.join(work, "csrc", "c%d.js" % i), share * UNIT)
    subprocess.run([image, "init", "cimg"], cwd=work, stdout=subprocess.DEVNULL, check=True)
    subprocess.run([image, "build", "csrc", "cimg", "--key", "key"], cwd=work,
                   stdout=subprocess.DEVNULL, check=True)
    path = os.path.join(work, "cimg", TABLE)
    with open(path, "rb") as f:
        table = bytearray(f.read())
    count = struct.unpack_from(">I", table, COUNTER)[0]
    assert len(table) == COUNTER + 4 + 8 * count
    table += os.urandom(8 * count)
    struct.pack_into(">I", table, COUNTER, 2 * count)
    with open(path, "wb") as f:
        f.write(table)
    return bytes(table)


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
    parser.add_argument("--compact-entries", type=int, default=1000000)
    args = parser.parse_args()
    velador = os.path.abspath(os.path.join(args.bin, "velador"))
    image = os.path.abspath(os.path.join(args.bin, "velador-image"))
    load_before = os.getloadavg()
    with tempfile.TemporaryDirectory(dir=args.dir) as work:
        # What builds keep of an image stays in the work folder, not the user's cache.
        os.environ["XDG_CACHE_HOME"] = os.path.join(work, "cache")
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

        build = "\"%s\" init img2 && \"%s\" build src img2 --key key" % (image, image)
        loop_build = '"%s" init ref && %s' % (image, loop_add)

        def reset_build():
            shutil.rmtree(os.path.join(work, "img2"), ignore_errors=True)
            shutil.rmtree(os.path.join(work, "ref"), ignore_errors=True)

        build_time, loop_build_time, build_ratio = paired(build, loop_build, work, args.runs,
                                                          reset_build)
        reset_build()
        subprocess.run([image, "init", "img2"], cwd=work, stdout=subprocess.DEVNULL, check=True)
        rebuild = [image, "build", "src", "img2", "--key", "key"]
        build_memory = peak_memory(rebuild, work, check=False)
        saved = os.path.join(work, "saved")
        os.makedirs(os.path.join(saved, "AACS"))
        os.makedirs(os.path.join(saved, "ADV_OBJ"))
        kept = [os.path.join("ADV_OBJ", name) for name in changed(args.files)] + [TABLE]
        for name in kept:
            shutil.copy2(os.path.join(work, "img2", name), os.path.join(saved, name))

        def reset_change():
            for name in kept:
                shutil.copy2(os.path.join(saved, name), os.path.join(work, "img2", name))
            for name in changed(args.files):
                path = os.path.join(work, "src", name)
                write_random(path, os.path.getsize(path))

        cat2 = "cat img2/ADV_OBJ/* > /dev/null"
        # Nothing changed: the cache warmed by a build, and trusted once its stamps are older
        # than the moment it was taken by the racy window.
        subprocess.run(rebuild, cwd=work, stdout=subprocess.DEVNULL)
        time.sleep(3.5)
        subprocess.run(rebuild, cwd=work, stdout=subprocess.DEVNULL)
        same_time, same_cat_time, same_ratio = timing.paired(
            rebuild, cat2, work, args.runs, lambda ta, tb: ta / tb, check=False)
        uncached = rebuild + ["--no-cache"]
        same_full_time, _, same_full_ratio = timing.paired(
            uncached, cat2, work, args.runs, lambda ta, tb: ta / tb, check=False)
        full_change_time, _, full_change_ratio = timing.paired(
            uncached, cat2, work, args.runs, lambda ta, tb: ta / tb, reset_change, check=False)
        change_time, cat2_time, change_ratio = timing.paired(
            rebuild, cat2, work, args.runs, lambda ta, tb: ta / tb, reset_change, check=False)
        reset_change()
        change_memory = peak_memory(rebuild, work, check=False)
        reset_change()
        summary = subprocess.run(rebuild, cwd=work, stdout=subprocess.PIPE)
        change_summary = summary.stdout.decode("utf-8", "replace").strip().splitlines()[-1]
        change_summary = change_summary.split(":", 1)[-1].strip()

        durable = "\"%s\" init img3 && \"%s\" build src img3 --key key --no-cache" % (image, image)
        copy = "cp -r src copy && sync"

        def reset_disk():
            shutil.rmtree(os.path.join(work, "img3"), ignore_errors=True)
            shutil.rmtree(os.path.join(work, "copy"), ignore_errors=True)
            subprocess.run(["sync"])

        disk_time, copy_time, disk_ratio = timing.paired(
            durable, copy, work, args.runs, lambda ta, tb: ta / tb, reset_disk, check=False)
        reset_disk()

        extract = [image, "extract", "img", "out", "--key", "key", "--force"]

        def reset_out():
            shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
            os.makedirs(os.path.join(work, "out"))

        extract_time, loop_extract_time, extract_ratio = paired(extract, loop_check, work,
                                                                args.runs, reset_out)
        reset_out()
        extract_memory = peak_memory(extract, work, check=False)
        copy_out = "rm -rf copied && cp -r img/ADV_OBJ copied"
        _, copy_out_time, extract_copy_ratio = timing.paired(
            extract, copy_out, work, args.runs, lambda ta, tb: ta / tb, reset_out, check=False)
        shutil.rmtree(os.path.join(work, "copied"), ignore_errors=True)
        # The disc image file mastered from the image, checked in place, against the folder.
        file_check_time = folder_check_time = file_ratio = None
        if shutil.which("genisoimage"):
            subprocess.run(["genisoimage", "-quiet", "-udf", "-o", "disc.udf", "img"], cwd=work,
                           check=True, stderr=subprocess.DEVNULL)
            file_check = [image, "check", "disc.udf", "--key", "key"]
            file_check_time, folder_check_time, file_ratio = timing.paired(
                file_check, check, work, args.runs, lambda ta, tb: ta / tb, check=False)
            os.remove(os.path.join(work, "disc.udf"))
        shutil.rmtree(os.path.join(work, "ref"), ignore_errors=True)
        shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)

        table = make_orphaned(work, image, args.compact_entries)
        compact = [image, "compact", "cimg"]

        def reset_table():
            # the orphans follow every named entry: compact renumbers no container, so putting
            # the table back restores the image
            with open(os.path.join(work, "cimg", TABLE), "wb") as f:
                f.write(table)

        compact_times = []
        for run in range(args.runs + 1):
            reset_table()
            compact_times.append(timing.timed(compact, work, check=False))
        compact_time = statistics.median(compact_times[1:])
        reset_table()
        compact_memory = peak_memory(compact, work, check=False)
        reset_table()
        compact_status = subprocess.run(compact, cwd=work, stdout=subprocess.DEVNULL).returncode
        with open(os.path.join(work, "cimg", TABLE), "rb") as f:
            compacted = f.read()
        left = struct.unpack_from(">I", compacted, COUNTER)[0]
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
    print("| build | %.2f s | %.2f s | %.2f | %.1f MiB |" % (build_time, loop_build_time,
                                                           build_ratio, build_memory / 1024))
    print("| extract | %.2f s | %.2f s | %.2f | %.1f MiB |" % (extract_time, loop_extract_time,
                                                             extract_ratio,
                                                             extract_memory / 1024))
    print()
    print("cat of the same files to /dev/null: %.2f s; check / cat: %.2f" % (cat_time, cat_ratio))
    print("cp -r of ADV_OBJ: %.2f s; extract / cp -r: %.2f" % (copy_out_time, extract_copy_ratio))
    if file_ratio is not None:
        print("check of the disc image file (genisoimage -udf): %.2f s; of its folder: %.2f s;"
              " file / folder: %.2f" % (file_check_time, folder_check_time, file_ratio))
    print("build after changing 5 files: %.2f s (%s); cat of that image: %.2f s; build / cat:"
          " %.2f; peak memory %.1f MiB" % (change_time, change_summary, cat2_time, change_ratio,
                                            change_memory / 1024))
    print("the same with --no-cache: %.2f s; build / cat: %.2f" % (full_change_time,
                                                                  full_change_ratio))
    print("build with nothing changed: %.3f s from the cache (cat %.2f s; build / cat %.2f),"
          " %.2f s with --no-cache (build / cat %.2f)" % (same_time, same_cat_time, same_ratio,
                                                         same_full_time, same_full_ratio))
    print("init and build of every file, durable: %.2f s; cp -r and sync: %.2f s; build / copy:"
          " %.2f" % (disk_time, copy_time, disk_ratio))
    print("compact of %d entries, half orphaned: %.2f s, status %d, %d entries left;"
          " peak memory %.1f MiB" % (struct.unpack_from(">I", table, COUNTER)[0], compact_time,
                                     compact_status, left, compact_memory / 1024))


if __name__ == "__main__":
    main()
