"""The table of bench/speed: OUT MB TOOLS_DIR CSVREF [JOB_PATTERN].

Each job is run SPEED_RUNS times (default 5), zelk and reference interleaved, output to
/dev/null. The table shows medians of wall seconds and of CPU seconds (user + system, children
included), the ratios zelk/reference (below 1: zelk is faster), zelk's throughput over its CPU
time and the peak resident size of each (GNU time). On a shared machine the wall times carry
the waits for a core; the CPU times do not."""
import os
import re
import statistics
import sys
import time

out, mb, tools, ref = sys.argv[1:5]
ref = os.path.abspath(ref)
pattern = re.compile(sys.argv[5]) if len(sys.argv) > 5 and sys.argv[5] else None
runs = int(os.environ.get("SPEED_RUNS", "5"))
files = {k: f"{out}/speed-{k}-{mb}.csv" for k in ("plain", "quoted", "wide")}
files["tsv"] = f"{out}/speed-plain-{mb}.tsv"
PQW, PQ = ("plain", "quoted", "wide"), ("plain", "quoted")
SORT = "/usr/bin/sort"

# (job, files, zelk argv, reference argv); {f} is the input file.
JOBS = [
    ("zelk-row-tally", PQW, ["zelk-row-tally", "{f}"], [ref, "count", "{f}"]),
    ("zelk-concat", PQW, ["zelk-concat", "{f}"], [ref, "cat", "{f}"]),
    ("zelk-columns 3,1", PQW, ["zelk-columns", "3,1", "{f}"], [ref, "select", "3,1", "{f}"]),
    ("zelk-columns 2-", PQW, ["zelk-columns", "2-", "{f}"], [ref, "select", "2-", "{f}"]),
    ("zelk-match 3 '[5-9]\\.[0-9]*5'", PQ, ["zelk-match", "3", "[5-9]\\.[0-9]*5", "{f}"],
     [ref, "search", "3", "[5-9]\\.[0-9]*5", "{f}"]),
    ("zelk-match 5 'dolor 9[0-9]?$'", PQ, ["zelk-match", "5", "dolor 9[0-9]?$", "{f}"],
     [ref, "search", "5", "dolor 9[0-9]?$", "{f}"]),
    ("zelk-match -F 5 'dolor 97'", PQ, ["zelk-match", "-F", "5", "dolor 97", "{f}"],
     [ref, "search", "-F", "5", "dolor 97", "{f}"]),
    ("zelk-range -m1000 -x5000 3", PQ, ["zelk-range", "-m1000", "-x5000", "3", "{f}"],
     [ref, "range", "3", "1000", "5000", "{f}"]),
    ("zelk-subst 5 'ipsum' 'IPSUM'", PQ, ["zelk-subst", "5", "ipsum", "IPSUM", "{f}"],
     [ref, "subst", "5", "ipsum", "IPSUM", "{f}"]),
    ("zelk-setcell 1000 3 X", PQW, ["zelk-setcell", "1000", "3", "X", "{f}"],
     [ref, "setcell", "1000", "3", "X", "{f}"]),
    ("zelk-dedupe -f 5", PQ, ["zelk-dedupe", "-f", "5", "{f}"], [ref, "dedupe", "5", "{f}"]),
    ("zelk-beside F F", PQ, ["zelk-beside", "{f}", "{f}"], [ref, "beside", "{f}", "{f}"]),
    ("zelk-rows 2", PQW, ["zelk-rows", "2", "{f}"], [ref, "rows", "2", "999999999", "{f}"]),
    ("zelk-width-tally", PQW, ["zelk-width-tally", "{f}"], [ref, "widths", "{f}"]),
    ("zelk-lint", PQW, ["zelk-lint", "{f}"], [ref, "lint", "{f}"]),
    ("zelk-tidy -c", PQW, ["zelk-tidy", "-c", "{f}"], [ref, "cat", "{f}"]),
    ("zelk-to-delim '\\t'", PQW, ["zelk-to-delim", "\\t", "{f}"], [ref, "todelim", "\\t", "{f}"]),
    ("zelk-from-delim '\\t'", ("tsv",), ["zelk-from-delim", "\\t", "{f}"],
     [ref, "fromdelim", "\\t", "{f}"]),
    ("zelk-order -n 3 (vs sort)", ("plain",), ["zelk-order", "-n", "3", "{f}"],
     [SORT, "-t,", "-k3,3n", "--stable", "{f}"]),
    ("zelk-order-keys -k3n (vs sort)", ("plain",), ["zelk-order-keys", "-k3n", "{f}"],
     [SORT, "-t,", "-k3,3n", "--stable", "{f}"]),
]


MAXRSS = f"{out}/speed-maxrss"


def run(argv):
    """Wall and CPU seconds, peak resident KiB and exit status of one run. GNU time reports the
    peak (its own CPU time is a few hundred microseconds):
    a child spawned straight from this process would inherit its high-water mark."""
    argv = ["/usr/bin/time", "-f", "%M", "-o", MAXRSS] + argv
    t0 = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=[
        (os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0),
        (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)])
    _, status, ru = os.wait4(pid, 0)
    t = time.perf_counter() - t0
    with open(MAXRSS) as f:
        rss = int(f.read().split()[-1])
    return t, ru.ru_utime + ru.ru_stime, rss, os.waitstatus_to_exitcode(status)


def fill(argv, f):
    argv = [a.replace("{f}", f) for a in argv]
    if not argv[0].startswith("/"):
        argv[0] = os.path.join(tools, argv[0])
    return argv


print(f"{mb} MB files, medians of {runs} interleaved runs, output to /dev/null")
print(f"| {'job':<32} | {'file':<6} | {'zelk s':>6} | {'ref s':>6} | {'wall':>5} "
      f"| {'zelk cpu':>8} | {'ref cpu':>7} | {'cpu':>5} | {'MB/s':>5} | {'zelk KiB':>8} "
      f"| {'ref KiB':>7} |")
print("|" + "|".join("-" * (w + 2) for w in (32, 6, 6, 6, 5, 8, 7, 5, 5, 8, 7)) + "|")
for job, kinds, zargv, rargv in JOBS:
    if pattern and not pattern.search(job):
        continue
    for kind in kinds:
        f = files[kind]
        size = os.path.getsize(f) / 1e6
        za, ra = fill(zargv, f), fill(rargv, f)
        res = {"zelk": ([], [], []), "ref": ([], [], [])}
        bad = set()
        for _ in range(runs):
            for argv, who in ((za, "zelk"), (ra, "ref")):
                t, cpu, m, rc = run(argv)
                for lst, v in zip(res[who], (t, cpu, m)):
                    lst.append(v)
                if rc not in (0, 1) or (rc == 1 and "match" not in job):
                    bad.add(f"{who} exit {rc}")
        zw, zc = statistics.median(res["zelk"][0]), statistics.median(res["zelk"][1])
        rw, rc_ = statistics.median(res["ref"][0]), statistics.median(res["ref"][1])
        zm, rm = max(res["zelk"][2]), max(res["ref"][2])
        note = f"  ({', '.join(sorted(bad))})" if bad else ""
        print(f"| {job:<32} | {kind:<6} | {zw:6.3f} | {rw:6.3f} | {zw / rw:5.2f} | {zc:8.3f} "
              f"| {rc_:7.3f} | {zc / rc_:5.2f} | {size / zc:5.0f} | {zm:8d} | {rm:7d} |{note}",
              flush=True)
