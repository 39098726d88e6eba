"""The filter and its colour road side by side with the tools users know.

First the whole filter, run as CUPS runs it (the page as a CUPS raster stream,
both the version 3 and the compressed version 2 encoding) against the
simulated printer answering at once, with the test-only wait period at 0: its
own CPU time for a 576 x 4000 receipt page minus that for an 8 x 8 page,
against Pillow doing the same operation on the same pixels in the same run;
the fixed cost of a job (the 8 x 8 page) against an empty program linked with
libcups built now; and its peak resident memory on 576 x 40000 with paper
saving on (the shipped default) and off. Then the colour road alone
(in-process, zorvan-road) against Pillow and ImageMagick (-threshold,
-ordered-dither o8x8, -dither FloydSteinberg -monochrome; its start-up and the
reading of the page are measured separately and subtracted), and the filter's
time to the first raster byte with real polling. Every figure is CPU time
(user + system), the best of several runs: on a machine shared with other
work the wall clock mostly measures the others.

Usage: compare-perf.py [BUILD_DIR]   (default build-bench)
Environment: ZORVAN_COMPARE_REPS (runs per figure, default 15; the filter's 4000-row jobs
  run a third as often), ZORVAN_COMPARE_PARTS (filter,road: which parts run),
  ZORVAN_COMPARE_WAIT_MS (the filter's test-only wait period, default 20),
  ZORVAN_COMPARE_BEFORE (the build directory of an earlier tree, e.g. a git worktree
  of an older commit built with `make bench-build`: its filter is measured in the same
  run, in "before" columns beside every figure of the whole filter).
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
PPD = os.path.join(BUILD, "ppd", "zorvan.ppd")

WIDTH = 576
SHORT = 4000
LONG = 40000
REPS = max(3, int(os.environ.get("ZORVAN_COMPARE_REPS", "15")))
PARTS = os.environ.get("ZORVAN_COMPARE_PARTS", "filter,road").split(",")
MIB = 1024 * 1024

SETTINGS = [0, 2, 3, 7, 8, 9, 10, 11, 12]
NAMES = {0: "Otsu", 2: "Bayer 8x8", 3: "Bayer 16x16", 7: "Floyd-Steinberg", 8: "Burkes", 9: "Sierra",
         10: "threshold 128", 11: "Stucki", 12: "text and pictures"}
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
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
peak = usage.ru_maxrss
if sys.platform == "darwin":
    peak //= 1024
with open(sys.argv[1], "w") as out:
    out.write("%d %.4f" % (peak, (usage.ru_utime + usage.ru_stime) * 1000.0))
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
        return int(peak.read().split()[0]), first_dot, status


def road_resident(work, setting):
    """Peak resident KiB of the road alone (zorvan-road, page buffer and road, in-process)."""
    peak_file = os.path.join(work, "road-peak-%d" % setting)
    run([sys.executable, "-c", RSS_WRAPPER, peak_file, ROAD, "rss", str(setting), str(LONG)])
    with open(peak_file) as peak:
        return int(peak.read().split()[0])


# ---- The whole filter, its own CPU and memory ----

FLOOR_SOURCE = r"""
#include <cups/raster.h>
int main(int argc, char**) { if (argc > 99) cupsRasterClose(nullptr); return 0; }
"""


# Reads every row of a raster file with libcups into one page-sized buffer
# and does nothing else: what reading the page costs any filter. Bands of
# rows per call on an uncompressed stream, one row per call on a compressed
# one (argv[2] "row"), as the filter reads them.
READER_SOURCE = r"""
#include <cups/raster.h>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
int main(int argc, char** argv) {
  int fd = open(argv[1], O_RDONLY);
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  bool rows = argc > 2 && std::strcmp(argv[2], "row") == 0;
  while (r && cupsRasterReadHeader2(r, &h)) {
    size_t line = h.cupsBytesPerLine, size = line * h.cupsHeight, huge = 2u << 20;
    size_t mapped = (size + huge - 1) / huge * huge;
    unsigned char* raw = (unsigned char*)mmap(nullptr, mapped + huge, PROT_READ | PROT_WRITE,
                                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    unsigned char* page = (unsigned char*)(((size_t)raw + huge - 1) / huge * huge);
    madvise(page, mapped, MADV_HUGEPAGE);
    unsigned band = rows ? 1 : (unsigned)(128 * 1024 / line > 0 ? 128 * 1024 / line : 1);
    for (unsigned y = 0; y < h.cupsHeight; y += band) {
      unsigned n = h.cupsHeight - y < band ? h.cupsHeight - y : band;
      if (!cupsRasterReadPixels(r, page + y * line, (unsigned)(n * line))) return 1;
    }
  }
  return 0;
}
"""


def build_reader(work):
    source = os.path.join(work, "reader.cpp")
    program = os.path.join(work, "reader")
    with open(source, "w") as out:
        out.write(READER_SOURCE)
    run([os.environ.get("CXX", "c++"), "-O2", source, "-o", program, "-lcups"])
    return program


def build_floor(work):
    """An empty C++ program linked with libcups, built now with the same compiler."""
    source = os.path.join(work, "floor.cpp")
    program = os.path.join(work, "floor")
    with open(source, "w") as out:
        out.write(FLOOR_SOURCE)
    run([os.environ.get("CXX", "c++"), "-O2", source, "-o", program, "-Wl,--no-as-needed", "-lcups"])
    return program


# The test-only wait period in ms. At 0 the filter would give the printer no
# time at all to acknowledge a copy and fail it; 20 ms passes on a loaded
# machine, and a wait sleeps: it costs no CPU.
WAIT_MS = os.environ.get("ZORVAN_COMPARE_WAIT_MS", "20")


BEFORE = os.environ.get("ZORVAN_COMPARE_BEFORE")
BEFORE_FILTER = os.path.join(os.path.abspath(BEFORE), "bin", "rastertozorvan") if BEFORE else None


def filter_job(work, raster, options, program=None):
    """One job of the filter (or `program`, another build of it) against the simulated printer answering at once, with the
    test-only wait period at WAIT_MS; the printer's files are discarded. Returns the
    filter's (CPU ms, peak resident KiB)."""
    out = tempfile.mkdtemp(prefix="printer-", dir=work)
    stats = os.path.join(out, "stats")
    env = dict(os.environ, PPD=PPD, ZORVAN_TEST_WAIT_MS=WAIT_MS)
    try:
        # On a loaded machine a short wait period can run out before the
        # printer's acknowledgement arrives; such a job is run again.
        for attempt in range(3):
            status = subprocess.run([PRINTER, "--speed", "0", "--out", out, "--timeout", "120", "--",
                                     sys.executable, "-c", RSS_WRAPPER, stats,
                                     program or FILTER, "1", "bench", "receipt", "1", options, raster],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env).returncode
            if status == 0:
                with open(stats) as result:
                    peak, cpu = result.read().split()
                return float(cpu), int(peak)
        sys.exit("compare-perf: the filter failed three times on %s with %s" % (raster, options))
    finally:
        shutil.rmtree(out, ignore_errors=True)


def best_filter_ms(work, raster, options, reps, program=None):
    return min(filter_job(work, raster, options, program)[0] for _ in range(reps))


def page_ms(work, page, tiny, options, reps, program=None):
    """The filter's CPU for the page minus that for the tiny page; the two
    alternate, so that a change in the machine's load hits both alike."""
    big, small = float("inf"), float("inf")
    for _ in range(reps):
        big = min(big, filter_job(work, page, options, program)[0])
        small = min(small, filter_job(work, tiny, options, program)[0])
    return big - small


def write_rasters(work, ppm, name):
    """The page as both encodings CUPS's converters write: version 3 and version 2 compressed."""
    png = os.path.join(work, name + ".png")
    Image.open(ppm).save(png)
    rasters = {}
    for encoding, extra in (("v3", []), ("v2 compressed", ["--compressed"])):
        rasters[encoding] = os.path.join(work, "%s-%s.ras" % (name, encoding.split()[0]))
        run([RASTER] + extra + [png, rasters[encoding]])
    return rasters


def whole_filter(work, image, verdicts):
    reps = max(3, REPS // 3)
    small = os.path.join(work, "small.ppm")
    run([ROAD, "page", small, "8"])
    Image.open(small).crop((0, 0, 8, 8)).save(small)
    short = os.path.join(work, "short.ppm")
    run([ROAD, "page", short, str(SHORT)])
    long_ = os.path.join(work, "long.ppm")
    run([ROAD, "page", long_, str(LONG)])
    tiny, page, big = write_rasters(work, small, "small"), write_rasters(work, short, "short"), \
        write_rasters(work, long_, "long")
    pil = pillow_times(image)
    pil_names = {"otsu": "L + Otsu + point", "threshold": "L + point", "fs": "convert('1')"}
    limits = {0: ("otsu", 0.5), 2: ("threshold", 0.5), 3: ("threshold", 0.5), 10: ("threshold", 0.5),
              7: ("fs", 1.0), 8: ("fs", 1.5), 9: ("fs", 1.5), 11: ("fs", 1.5), 12: ("fs", 1.0)}

    print("Whole filter: its own CPU ms (best of %d) for a %d x %d page minus an 8 x 8 page, "
          "printer answering at once, %s ms waits%s" % (reps, WIDTH, SHORT, WAIT_MS,
                                                        "; before: %s" % BEFORE if BEFORE else ""))
    print("  %-20s %-14s %9s %9s  %-18s %9s %7s %7s %7s" % ("setting", "encoding", "before", "filter", "Pillow",
                                                            "ms", "before", "ratio", "target"))
    for s in SETTINGS:
        options = OPTIONS.get(s, "Imagealgorithm=%d" % s)
        p, limit = limits[s]
        for encoding in page:
            ours = page_ms(work, page[encoding], tiny[encoding], options, reps)
            ratio = ours / pil[p]
            before = page_ms(work, page[encoding], tiny[encoding], options, reps, BEFORE_FILTER) if BEFORE else None
            print("  %-20s %-14s %9s %9.2f  %-18s %9.2f %7s %7.2f %7.1f" % (
                "%d %s" % (s, NAMES[s]), encoding, "%.2f" % before if BEFORE else "-", ours, pil_names[p], pil[p],
                "%.2f" % (before / pil[p]) if BEFORE else "-", ratio, limit))
            verdicts.append(("filter, setting %d, %s: at most %.1f x Pillow's %s" % (s, encoding, limit, pil_names[p]),
                             ratio <= limit, "%.2f x" % ratio))

    # What reading the page alone costs: libcups into a page-sized buffer, no
    # other work, the same page minus the same tiny page.
    reader = build_reader(work)
    reader_stats = os.path.join(work, "reader-stats")

    def reader_ms(raster, how):
        run([sys.executable, "-c", RSS_WRAPPER, reader_stats, reader, raster, how])
        with open(reader_stats) as result:
            return float(result.read().split()[1])

    for encoding in page:
        how = "row" if encoding.startswith("v2") else "band"
        page_read, tiny_read = float("inf"), float("inf")
        for _ in range(REPS):
            page_read = min(page_read, reader_ms(page[encoding], how))
            tiny_read = min(tiny_read, reader_ms(tiny[encoding], how))
        print("  %-20s %-14s %9s %9.2f  (libcups reading the page into fresh memory, nothing else)" % (
            "reading alone", encoding, "", page_read - tiny_read))

    floor = build_floor(work)
    # Started the same way as the filter, from a small interpreter: a child of
    # this large process would be charged for unmapping its copy of it.
    stats = os.path.join(work, "floor-stats")

    def floor_run():
        run([sys.executable, "-c", RSS_WRAPPER, stats, floor])
        with open(stats) as result:
            return float(result.read().split()[1])

    # The empty program and the jobs take turns, so that a change in the
    # machine's load hits them alike.
    floor_ms = float("inf")
    fixed = {encoding: float("inf") for encoding in tiny}
    fixed_before = dict(fixed)
    for _ in range(REPS):
        floor_ms = min(floor_ms, floor_run())
        for encoding in tiny:
            fixed[encoding] = min(fixed[encoding], filter_job(work, tiny[encoding], "Imagealgorithm=0")[0])
            if BEFORE:
                fixed_before[encoding] = min(fixed_before[encoding],
                                             filter_job(work, tiny[encoding], "Imagealgorithm=0", BEFORE_FILTER)[0])
    print()
    print("Fixed cost of a job (8 x 8 page, setting 0), CPU ms, best of %d" % REPS)
    for encoding in tiny:
        earlier = ""
        if BEFORE:
            earlier = "  before %7.2f (above it %7.2f)" % (fixed_before[encoding], fixed_before[encoding] - floor_ms)
        print("  %-14s filter %7.2f  empty program with libcups %7.2f  above it %7.2f%s" % (
            encoding, fixed[encoding], floor_ms, fixed[encoding] - floor_ms, earlier))
        verdicts.append(("fixed cost, %s: at most 1.5 ms above the empty program" % encoding,
                         fixed[encoding] - floor_ms <= 1.5, "%.2f ms above" % (fixed[encoding] - floor_ms)))

    print()
    rgb = WIDTH * 3 * LONG
    limit_kib = (rgb * 16 // 10 + 16 * MIB) // 1024
    print("Peak resident memory of the filter on %d x %d (limit 1.6 x %.1f MiB + 16 MiB = %.1f MiB), MiB"
          % (WIDTH, LONG, rgb / MIB, limit_kib / 1024))
    print("  %-20s %-14s %14s %14s %16s %16s" % ("setting", "encoding", "paper saving", "saving off",
                                                 "before: saving", "before: off"))
    for s in SETTINGS:
        options = OPTIONS.get(s, "Imagealgorithm=%d" % s)
        for encoding in big:
            peaks = [filter_job(work, big[encoding], options + extra)[1] for extra in ("", " PaperSaveMode=0")]
            earlier = ["-", "-"]
            if BEFORE:
                earlier = ["%.1f" % (filter_job(work, big[encoding], options + extra, BEFORE_FILTER)[1] / 1024)
                           for extra in ("", " PaperSaveMode=0")]
            print("  %-20s %-14s %14.1f %14.1f %16s %16s" % ("%d %s" % (s, NAMES[s]), encoding, peaks[0] / 1024,
                                                              peaks[1] / 1024, earlier[0], earlier[1]))
            for mode, peak in zip(("paper saving on", "paper saving off"), peaks):
                verdicts.append(("memory, setting %d, %s, %s" % (s, encoding, mode), peak <= limit_kib,
                                 "%.1f of %.1f MiB" % (peak / 1024, limit_kib / 1024)))


def print_verdicts(verdicts):
    print("Targets")
    for name, met, detail in verdicts:
        print("  %-4s %-66s %s" % ("met" if met else "gap", name, detail))


def main():
    for program in (ROAD, FILTER, PRINTER, RASTER) + ((BEFORE_FILTER,) if BEFORE else ()):
        need(program)
    convert = imagemagick()
    work = tempfile.mkdtemp(prefix="zorvan-compare-")
    try:
        page = os.path.join(work, "page.ppm")
        run([ROAD, "page", page, str(SHORT)])
        image = Image.open(page)
        image.load()
        verdicts = []
        if "filter" in PARTS:
            whole_filter(work, image, verdicts)
            print()
        if "road" not in PARTS:
            print_verdicts(verdicts)
            return

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
                   11: ("fs", "fs"), 12: ("otsu", "ordered")}
        pil_names = {"otsu": "L+histogram Otsu+point", "threshold": "L+point threshold", "fs": "convert('1') FS"}
        im_names = {"threshold": "-threshold 50%", "ordered": "-ordered-dither o8x8",
                    "fs": "-dither FS -monochrome"}
        header = "%-20s %9s %9s  %-24s %9s %7s  %-24s %9s %7s" % (
            "setting", "ours", "x memcpy", "Pillow", "ms", "ratio", "ImageMagick", "ms", "ratio")
        print(header)
        print("-" * len(header))
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
            elif s == 12:
                verdicts.append(("setting 12 no slower than setting 7 (Floyd-Steinberg)", ours[s] <= ours[7],
                                 "%.2f vs %.2f ms" % (ours[s], ours[7])))
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
        print("Filter on a %d x %d colour page, simulated printer answering at once, real "
              "one-second polling" % (WIDTH, LONG))
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
            verdicts.append(("setting %d first dot within 2.1 s" % s, first_dot is not None and first_dot <= 2.1,
                             "%.3f s" % first_dot if first_dot is not None else "no raster"))

        print()
        print_verdicts(verdicts)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
