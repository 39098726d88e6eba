"""Side-by-side comparison of the colour road with the tools users know.

The same deterministic receipt page (576 dots wide) goes, in one run, through
our colour road (in-process, zorvan-road), through Pillow (convert('1'), and
convert('L') + a point threshold, with an Otsu threshold picked from
Pillow's histogram) and through ImageMagick (-threshold, -ordered-dither o8x8,
-dither FloydSteinberg -monochrome; its start-up and the reading of the page
are measured separately and subtracted). Every figure is the best of several
runs in CPU time, one thread per page: on a machine shared with other work
the wall clock mostly measures the others. Then the filter itself runs a
576 x 40000 colour page under every algorithm against the simulated printer
answering at once: peak resident memory against the limit of 3 x the page's
RGB size + 16 MiB, and the time to the first raster byte.

Usage: compare-perf.py [BUILD_DIR]   (default build-bench)
Environment: ZORVAN_COMPARE_REPS (runs per figure, default 15).
"""

import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-bench"))
BIN = os.path.join(BUILD, "bin")
ROAD = os.path.join(BIN, "zorvan-road")
FILTER = os.path.join(BIN, "rastertozorvan")
PRINTER = os.path.join(BIN, "zorvan-printer")
RASTER = os.path.join(BIN, "zorvan-raster")
PPD = os.path.join(ROOT, "ppd", "zorvan.ppd")

WIDTH = 576
SHORT = 4000
LONG = 40000
REPS = max(3, int(os.environ.get("ZORVAN_COMPARE_REPS", "15")))
MIB = 1024 * 1024

SETTINGS = [0, 2, 3, 7, 8, 9, 10, 11]
NAMES = {0: "Otsu", 2: "Bayer 8x8", 3: "Bayer 16x16", 7: "Floyd-Steinberg", 8: "Burkes", 9: "Sierra",
         10: "threshold 128", 11: "Stucki"}
# The road's manual threshold for setting 10 (the job option).
OPTIONS = {10: "Imagealgorithm=10 Threshold=128"}


def need(path):
    if not os.access(path, os.X_OK):
        sys.exit("compare-perf: %s is not built (make bench builds it)" % path)


def run(args, **kwargs):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True, **kwargs).stdout


def best_ms(action, reps=REPS):
    """Best CPU time of `action` in this process, in ms."""
    best = float("inf")
    for _ in range(reps):
        start = time.process_time()
        action()
        best = min(best, (time.process_time() - start) * 1000.0)
    return best


def children_cpu_s():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def best_child_ms(args, env, reps):
    """Best CPU time of a child process (user + system), in ms."""
    best = float("inf")
    for _ in range(reps):
        start = children_cpu_s()
        subprocess.run(args, check=True, env=env)
        best = min(best, (children_cpu_s() - start) * 1000.0)
    return best


# ---- Ours ----

def road_ms(setting, height, reps=REPS):
    return float(run([ROAD, "time", str(setting), str(height), str(reps)]).split()[0])


def memcpy_ms(height):
    return float(run([ROAD, "memcpy", str(height), str(REPS)]).split()[0])


# ---- Pillow ----

def otsu_level(histogram):
    """Otsu's threshold over a 256-bin histogram (the usual between-class variance)."""
    total = sum(histogram)
    sum_all = sum(i * h for i, h in enumerate(histogram))
    weight0 = 0
    sum0 = 0.0
    best, best_variance = 0, -1.0
    for level in range(256):
        weight0 += histogram[level]
        if weight0 == 0:
            continue
        weight1 = total - weight0
        if weight1 == 0:
            break
        sum0 += level * histogram[level]
        mean0 = sum0 / weight0
        mean1 = (sum_all - sum0) / weight1
        variance = weight0 * weight1 * (mean0 - mean1) ** 2
        if variance > best_variance:
            best, best_variance = level, variance
    return best


def pillow_times(image):
    threshold_table = [255 if v > 128 else 0 for v in range(256)]

    def otsu():
        gray = image.convert("L")
        level = otsu_level(gray.histogram())
        gray.point([255 if v > level else 0 for v in range(256)], "1")

    return {
        "fs": best_ms(lambda: image.convert("1")),
        "threshold": best_ms(lambda: image.convert("L").point(threshold_table, "1")),
        "otsu": best_ms(otsu),
    }


# ---- ImageMagick ----

def imagemagick():
    # The real convert of Debian's imagemagick package first; then whatever is on PATH.
    for candidate in ("/usr/bin/convert", shutil.which("magick"), shutil.which("convert")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def imagemagick_times(convert, page):
    env = dict(os.environ, MAGICK_THREAD_LIMIT="1", OMP_NUM_THREADS="1")
    reps = max(3, REPS // 3)

    def timed(extra):
        return best_child_ms([convert, page] + extra + ["null:"], env, reps)

    base = timed([])
    return base, {
        "threshold": max(timed(["-threshold", "50%"]) - base, 0.001),
        "ordered": max(timed(["-ordered-dither", "o8x8"]) - base, 0.001),
        "fs": max(timed(["-dither", "FloydSteinberg", "-monochrome"]) - base, 0.001),
    }


# ---- The filter: memory and time to first dot ----

# Runs a program and writes its peak resident size in KiB. A fresh, small
# interpreter starts it: Linux carries the resident size of the process that
# forked across exec into the peak, so the large comparison process itself
# must not be the parent.
RSS_WRAPPER = r"""
import os, resource, subprocess, sys
try:
    os.fstat(3)
    keep = (3,)
except OSError:
    keep = ()
status = subprocess.call(sys.argv[2:], pass_fds=keep)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
if sys.platform == "darwin":
    peak //= 1024
with open(sys.argv[1], "w") as out:
    out.write(str(peak))
sys.exit(status)
"""


def filter_run(work, raster, setting):
    """Runs the filter on `raster` against the simulated printer (instant, always ready).
    Returns (peak resident KiB of the filter, seconds to the first raster command, exit status)."""
    out = os.path.join(work, "printer-%d" % setting)
    peak_file = os.path.join(work, "peak-%d" % setting)
    options = OPTIONS.get(setting, "Imagealgorithm=%d" % setting)
    env = dict(os.environ, PPD=PPD)
    env.pop("ZORVAN_TEST_WAIT_MS", None)  # real one-second polling
    with open(os.path.join(work, "filter-%d.log" % setting), "w") as log:
        status = subprocess.run([PRINTER, "--speed", "0", "--out", out, "--timeout", "120", "--",
                                 sys.executable, "-c", RSS_WRAPPER, peak_file,
                                 FILTER, "1", "bench", "receipt", "1", options, raster],
                                stdout=subprocess.DEVNULL, stderr=log, env=env).returncode
    first_dot = None
    with open(os.path.join(out, "listing.txt")) as listing:
        for line in listing:
            if "raster #" in line and "x" in line:
                first_dot = float(line.split()[0])
                break
    with open(peak_file) as peak:
        return int(peak.read()), first_dot, status


def road_resident(work, setting):
    """Peak resident KiB of the road alone (zorvan-road, page buffer and road, in-process)."""
    peak_file = os.path.join(work, "road-peak-%d" % setting)
    run([sys.executable, "-c", RSS_WRAPPER, peak_file, ROAD, "rss", str(setting), str(LONG)])
    with open(peak_file) as peak:
        return int(peak.read())


def main():
    for program in (ROAD, FILTER, PRINTER, RASTER):
        need(program)
    convert = imagemagick()
    work = tempfile.mkdtemp(prefix="zorvan-compare-")
    try:
        page = os.path.join(work, "page.ppm")
        run([ROAD, "page", page, str(SHORT)])
        image = Image.open(page)
        image.load()

        print("Colour road against Pillow and ImageMagick: receipt page %d x %d, best of %d runs, "
              "CPU ms, one thread" % (WIDTH, SHORT, REPS))
        copy = memcpy_ms(SHORT)
        ours = {s: road_ms(s, SHORT) for s in SETTINGS}
        pil = pillow_times(image)
        if convert:
            base, im = imagemagick_times(convert, page)
        else:
            base, im = None, {}

        matches = {0: ("otsu", "threshold"), 2: ("threshold", "ordered"), 3: ("threshold", "ordered"),
                   7: ("fs", "fs"), 8: ("fs", "fs"), 9: ("fs", "fs"), 10: ("threshold", "threshold"),
                   11: ("fs", "fs")}
        pil_names = {"otsu": "L+histogram Otsu+point", "threshold": "L+point threshold", "fs": "convert('1') FS"}
        im_names = {"threshold": "-threshold 50%", "ordered": "-ordered-dither o8x8",
                    "fs": "-dither FS -monochrome"}
        header = "%-20s %9s %9s  %-24s %9s %7s  %-24s %9s %7s" % (
            "setting", "ours", "x memcpy", "Pillow", "ms", "ratio", "ImageMagick", "ms", "ratio")
        print(header)
        print("-" * len(header))
        verdicts = []
        for s in SETTINGS:
            p, m = matches[s]
            line = "%-20s %9.2f %9.1f  %-24s %9.2f %7.2f" % (
                "%d %s" % (s, NAMES[s]), ours[s], ours[s] / copy, pil_names[p], pil[p], pil[p] / ours[s])
            if m in im:
                line += "  %-24s %9.2f %7.1f" % (im_names[m], im[m], im[m] / ours[s])
            print(line)
            if s in (0, 2, 3, 10):
                verdicts.append(("setting %d at most half of Pillow's %s" % (s, pil_names[p]),
                                 ours[s] <= pil[p] / 2, "%.2f vs %.2f ms" % (ours[s], pil[p])))
                verdicts.append(("setting %d within 4 x memcpy of the page" % s, ours[s] <= 4 * copy,
                                 "%.1f x" % (ours[s] / copy)))
            elif s == 7:
                verdicts.append(("setting 7 no slower than Pillow's convert('1')", ours[s] <= pil["fs"],
                                 "%.2f vs %.2f ms" % (ours[s], pil["fs"])))
            else:
                verdicts.append(("setting %d no slower than 2 x Pillow's convert('1')" % s,
                                 ours[s] <= 2 * pil["fs"], "%.2f vs %.2f ms" % (ours[s], 2 * pil["fs"])))
            if m in im:
                verdicts.append(("setting %d at least 20 x faster than ImageMagick %s" % (s, im_names[m]),
                                 im[m] >= 20 * ours[s], "%.1f x" % (im[m] / ours[s])))
        print("memcpy of the RGB page: %.3f ms" % copy)
        if convert:
            print("ImageMagick (%s, one thread): start-up and reading the page, %.1f ms, subtracted"
                  % (convert, base))
        else:
            print("ImageMagick: not found (Debian: apt-get install imagemagick)")

        print()
        print("Linearity: ns per pixel (CPU), %d x %d against %d x %d" % (WIDTH, SHORT, WIDTH, LONG))
        for s in SETTINGS:
            short = road_ms(s, SHORT, 10) * 1e6 / (WIDTH * SHORT)
            long_ = road_ms(s, LONG, 4) * 1e6 / (WIDTH * LONG)
            within = long_ <= short * 1.10
            print("  %-20s %7.3f  %7.3f  %+6.1f %%" % ("%d %s" % (s, NAMES[s]), short, long_,
                                                       (long_ / short - 1) * 100))
            verdicts.append(("setting %d linear in the page length (within 10 %%)" % s, within,
                             "%+.1f %%" % ((long_ / short - 1) * 100)))

        print()
        rgb = WIDTH * 3 * LONG
        limit_kib = (3 * rgb + 16 * MIB) // 1024
        print("Filter on a %d x %d colour page, simulated printer answering at once "
              "(limit 3 x %.1f MiB + 16 MiB = %.1f MiB)" % (WIDTH, LONG, rgb / MIB, limit_kib / 1024))
        long_page = os.path.join(work, "long.ppm")
        run([ROAD, "page", long_page, str(LONG)])
        Image.open(long_page).save(os.path.join(work, "long.png"))
        raster = os.path.join(work, "long.ras")
        run([RASTER, os.path.join(work, "long.png"), raster])
        print("  %-20s %12s %8s %14s %12s" % ("setting", "peak RSS MiB", "x RGB", "first dot s", "road RSS MiB"))
        for s in SETTINGS:
            peak, first_dot, status = filter_run(work, raster, s)
            road_peak = road_resident(work, s)
            print("  %-20s %12.1f %8.2f %14s %12.1f%s" % (
                "%d %s" % (s, NAMES[s]), peak / 1024, peak * 1024 / rgb,
                "%.3f" % first_dot if first_dot is not None else "none", road_peak / 1024,
                "" if status == 0 else "  (filter exit status %d)" % status))
            verdicts.append(("setting %d peak RSS within 3 x RGB + 16 MiB" % s, peak <= limit_kib,
                             "%.1f of %.1f MiB" % (peak / 1024, limit_kib / 1024)))
            verdicts.append(("setting %d first dot within 2.1 s" % s, first_dot is not None and first_dot <= 2.1,
                             "%.3f s" % first_dot if first_dot is not None else "no raster"))

        print()
        print("Targets")
        for name, met, detail in verdicts:
            print("  %-4s %-62s %s" % ("met" if met else "NOT", name, detail))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
