#!/usr/bin/env python3
"""Memory and start time of many url_rewrite helpers on one large list (see
bench/helpers-memory.sh, which builds the list and calls this).

  helpers_memory.py --build BUILD --work DIR --records N
                    [--counts 1,4,8,16] [--no-squidguard]

Starts each count of tarnwick-squid processes at once, as Squid starts its
url_rewrite_children (each its own process on its own pipes), sends each
one request line as soon as it is started, and reports the time from its
start until its first answer, then every process's PSS and RSS from
/proc/PID/smaps_rollup once all have answered, and their total. The same
for squidGuard on a database built from the same entries (squidGuard -C),
unless --no-squidguard. The list is read once first, so that every run
finds it in the page cache.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

from versus_squidguard import BLOCK, KEY, write_registry


def rollup(pid):
    """(PSS KiB, RSS KiB) of a process, from /proc/PID/smaps_rollup."""
    values = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2 and parts[0] in ("Pss:", "Rss:"):
                values[parts[0]] = int(parts[1])
    return values.get("Pss:", 0), values.get("Rss:", 0)


def run_helpers(command, env, count, line):
    """Starts count helpers at once; returns [(start-to-answer s, PSS, RSS, answer)]."""
    helpers = []
    for _ in range(count):
        start = time.monotonic()
        process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        process.stdin.write(line.encode())
        process.stdin.flush()
        helpers.append((process, start))
    results = []
    for process, start in helpers:
        answer = process.stdout.readline().decode(errors="replace").strip()
        results.append([time.monotonic() - start, answer])
    measured = []
    for (process, _), (elapsed, answer) in zip(helpers, results):
        pss, rss = rollup(process.pid)
        measured.append((elapsed, pss, rss, answer))
    for process, _ in helpers:
        process.stdin.close()
    for process, _ in helpers:
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return measured


def report(name, count, measured, list_mb):
    total_pss = sum(m[1] for m in measured) / 1024.0
    starts = sorted(m[0] for m in measured)
    print("| %s | %d | %.1f MB | %.1f MB | %.1f MB | %.2f x | %.0f ms | %.0f ms | %s |"
          % (name, count, total_pss, total_pss / count, max(m[2] for m in measured) / 1024.0,
             total_pss / list_mb, starts[len(starts) // 2] * 1000, starts[-1] * 1000,
             measured[0][3][:24]))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--records", type=int, required=True)
    parser.add_argument("--counts", default="1,4,8,16")
    parser.add_argument("--no-squidguard", action="store_true")
    args = parser.parse_args()
    counts = [int(c) for c in args.counts.split(",")]
    helper = os.path.join(args.build, "bin", "tarnwick-squid")
    lst = os.path.join(args.work, "control-%d.lst" % args.records)
    domains = os.path.join(args.work, "domains-%d" % args.records)
    list_mb = os.path.getsize(lst) / (1024.0 * 1024.0)
    with open(lst, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass

    hklm = os.path.join(args.work, "hklm.reg")
    write_registry(hklm, lst)
    env = dict(os.environ, TARNWICK_HKLM=hklm)
    line = "http://h%09d.example.com/a 10.0.0.1/- - GET\n" % (args.records // 2)

    print("helpers-memory: %d records, list file %.1f MB (the size of one copy); %s"
          % (args.records, list_mb, os.uname().nodename))
    print()
    print("| helper | processes | total PSS | PSS each | RSS each (max) | total / one copy "
          "| start to first answer (median) | (slowest) | first answer |")
    print("|---|---|---|---|---|---|---|---|---|")
    for count in counts:
        report("tarnwick-squid", count,
               run_helpers([helper, "--key", KEY, "--redirect", BLOCK], env, count, line),
               list_mb)

    if args.no_squidguard:
        return 0
    squidguard = shutil.which("squidGuard")
    if squidguard is None:
        print("helpers-memory: skipped squidGuard: not installed")
        return 0
    sgdb = os.path.join(args.work, "sgdb")
    shutil.rmtree(sgdb, ignore_errors=True)
    os.makedirs(os.path.join(sgdb, "scale"))
    os.makedirs(os.path.join(args.work, "sglog"), exist_ok=True)
    shutil.copy(domains, os.path.join(sgdb, "scale", "domains"))
    conf = os.path.join(args.work, "squidGuard.conf")
    with open(conf, "w") as f:
        f.write("dbhome %s\nlogdir %s\ndest scale {\n  domainlist scale/domains\n}\n"
                "acl {\n  default {\n    pass !scale all\n    redirect 302:%s\n  }\n}\n"
                % (sgdb, os.path.join(args.work, "sglog"), BLOCK))
    start = time.monotonic()
    built = subprocess.run([squidguard, "-c", conf, "-C", "all"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    if built.returncode != 0:
        print("helpers-memory: squidGuard -C all failed (see %s/sglog)" % args.work)
        return 1
    db = os.path.join(sgdb, "scale", "domains.db")
    db_mb = os.path.getsize(db) / (1024.0 * 1024.0)
    print()
    print("squidGuard database built in %.1f s: %s, %.1f MB (the ratio below is to the "
          "Corvane list file)" % (time.monotonic() - start, db, db_mb))
    with open(db, "rb") as f:
        while f.read(1 << 24):
            pass
    for count in counts:
        report("squidGuard", count, run_helpers([squidguard, "-c", conf], None, count, line),
               list_mb)
    return 0


if __name__ == "__main__":
    sys.exit(main())
