#!/usr/bin/env python3
"""tarnwick-squid against squidGuard on the same UT1 categories (see
bench/versus-squidguard.sh, which installs squidGuard and calls this).

  versus_squidguard.py --build BUILD --ut1 UT1_DIR --work DIR
                       [--requests N] [--seed S] [--rounds R] [--min-ratio X]

Builds a Corvane list (corvane import) and a squidGuard database (squidGuard
-C all) from the same UT1 folders, generates one URL stream with a fixed
seed (about half listed domains, hosts below them and URL entries, half
unlisted hosts), feeds it to both helpers through the url_rewrite protocol
(the same lines, no channel-IDs, since squidGuard reads none), alternating
the runs, and reports requests per second per core (requests / CPU
seconds), CPU per request, wall-clock rate, peak memory, build times, and
the share of URLs on which both decide alike, with each class of
difference, its count, its reason and examples. Exits 1 when the helper's
rate per core is below --min-ratio times squidGuard's.
"""
import argparse
import collections
import os
import random
import shutil
import statistics
import string
import subprocess
import sys
import threading
import time

# The folders the importer's default mapping takes (doc/corvane-tool.md);
# those present in UT1_DIR are used, by both filters, all denied.
MAPPED_FOLDERS = [
    "adult", "lingerie", "mixed_adult", "drogue", "agressif", "hacking", "warez",
    "dangerous_material", "malware", "phishing", "cryptojacking", "ddos", "dialer", "stalkerware",
    "publicite", "marketingware", "mobile-phone", "shopping", "gambling", "arjel", "blog",
    "jobsearch", "sports", "games", "fakenews", "audio-video", "celebrity", "manga", "radio",
    "astrology", "cooking", "chat", "social_networks", "financial", "bank", "bitcoin", "press",
    "associations_religieuses", "dating", "sect", "forums", "sexual_education", "download",
    "filehosting", "webmail",
]
CATEGORY_NAMES = [
    "Alternative Journals", "Art & Culture", "Chat", "Criminal Skills", "Cults", "Dating",
    "Drugs", "Entertainment", "Extreme", "Gambling", "Games", "General News", "Hate Speech",
    "Humor", "Investing", "Job Search", "Lifestyle", "Non Essential",
    "On-Line Sales/Merchandising", "Opinion, Politics, & Religion", "Personal Pages",
    "Self Help", "Sex", "Sports", "Travel", "Usenet News", "Worthless",
]
KEY = "SOFTWARE\\Pellumin\\Bench"
BLOCK = "http://block.test/blocked?url=%u"


def read_entries(path):
    """UT1 lines as both tools take them: stripped, lower-case, no blanks."""
    entries = []
    try:
        with open(path, encoding="latin-1") as f:
            for line in f:
                entry = line.strip().lower()
                if entry and not entry.startswith("#") and " " not in entry:
                    entries.append(entry)
    except FileNotFoundError:
        pass
    return entries


def write_registry(hklm, control_file):
    """The helper's settings (a REGEDIT4 file for TARNWICK_HKLM): the control
    file, and every category denied."""
    with open(hklm, "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n\"ControlFile\"=\"%s\"\r\n\r\n"
                % (KEY, control_file))
        f.write("[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n" % KEY)
        for name in CATEGORY_NAMES:
            f.write("\"%sState\"=dword:00000001\r\n" % name)
        f.write("\r\n")


def timed(command, **kwargs):
    """Runs command; returns (wall s, CPU s, peak RSS KiB, exit status).

    The peak is the process's own high-water mark (VmHWM), read while it
    runs: wait4's ru_maxrss would count this script's memory too, which a
    child inherits at fork."""
    start = time.monotonic()
    process = subprocess.Popen(command, **kwargs)
    peak = [0]
    watching = [True]

    def watch():
        status_file = "/proc/%d/status" % process.pid
        while watching[0]:
            try:
                with open(status_file) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak[0] = max(peak[0], int(line.split()[1]))
            except (OSError, ValueError):
                pass
            time.sleep(0.01)

    watcher = threading.Thread(target=watch)
    watcher.start()
    _, status, usage = os.wait4(process.pid, 0)
    watching[0] = False
    watcher.join()
    process.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    return wall, usage.ru_utime + usage.ru_stime, peak[0], process.returncode


def label_count(host):
    return host.count(".") + 1


def shape_of(domain):
    """How Corvane's importer covers the hosts below a domain entry."""
    labels = domain.split(".")
    if all(part.isdigit() for part in labels):
        return "address"
    last = labels[-1]
    if (len(labels) == 2 and len(last) == 3) or (len(labels) == 3 and len(last) != 3):
        return "covers-below"
    return "host-only"


def make_stream(rng, folders, requests):
    """[(line, kind, shape, url)], about half listed, half unlisted."""
    domains = []
    urls = []
    for folder in folders:
        domains += read_entries(os.path.join(folder, "domains"))
        urls += [u for u in read_entries(os.path.join(folder, "urls")) if "#" not in u]
    domain_set = set(domains)
    letters = string.ascii_lowercase + string.digits
    stream = []

    def word(low, high):
        return "".join(rng.choice(letters) for _ in range(rng.randint(low, high)))

    def path():
        choice = rng.random()
        if choice < 0.4:
            return "/"
        if choice < 0.8:
            return "/" + word(3, 10) + "/" + word(2, 12) + ".html"
        return "/" + word(3, 8) + "?q=" + word(2, 8)

    for i in range(requests):
        client = "10.%d.%d.%d/-" % (i % 7, (i // 7) % 250, i % 250 + 1)
        if i % 2 == 0:
            pick = rng.random()
            if pick < 0.4:
                domain = rng.choice(domains)
                kind, shape, url = "domain", shape_of(domain), "http://" + domain + path()
            elif pick < 0.7:
                domain = rng.choice(domains)
                below = rng.choice(["www", "m", "cdn", word(2, 6)])
                kind, shape = "below-domain", shape_of(domain)
                url = "http://%s.%s%s" % (below, domain, path())
                if shape == "address":
                    url = "http://" + domain + path()
            else:
                entry = rng.choice(urls)
                kind, shape = "url-entry", "path"
                url = "http://" + entry
                if rng.random() < 0.5:
                    kind = "below-url-entry"
                    url = url.rstrip("/") + "/" + word(3, 9)
        else:
            while True:
                host = "%s%s.%s" % (rng.choice(["", "www.", "shop.", "m."]), word(6, 14),
                                    rng.choice(["com", "net", "org", "fr", "de", "info"]))
                if host not in domain_set and host.split(".", 1)[-1] not in domain_set:
                    break
            kind, shape, url = "unlisted", "-", "http://" + host + path()
        stream.append(("%s %s - GET\n" % (url, client), kind, shape, url))
    return stream


def verdicts(answer_file, blocked_prefix):
    with open(answer_file, encoding="latin-1") as f:
        return [line.startswith(blocked_prefix) for line in f]


REASONS = {
    ("below-domain", "host-only", "squidGuard"):
        "the domain entry has 3+ labels with a .com-style last label (www.example.com), or 2 "
        "labels under a country code (example.fr), or 4+ labels: squidGuard's domainlist covers "
        "every host below it; Corvane's lookup has no domain key that would cover exactly those "
        "hosts, so the importer lists only the entry itself (doc/corvane-tool.md)",
    ("below-url-entry", "path", "tarnwick-squid"):
        "a path below a URL entry: a Corvane path key covers the entry's path and every path "
        "below it; squidGuard's urllist matched only the entry's own path here (the paths "
        "below entries that both deny are on hosts that a domain list holds as well)",
    ("url-entry", "path", "tarnwick-squid"):
        "the entry holds percent-escapes (%25, %5E) or doubled slashes: squidGuard normalises "
        "them in the request but not in its list, so the request no longer matches; Corvane "
        "builds the same key from both",
    ("url-entry", "path", "squidGuard"):
        "a URL entry that Corvane's importer keeps in another form (a query or #fragment cut "
        "off, over 511 characters skipped), or one with a dot segment (host/.): the helper "
        "resolves dot segments in the request as the origin does, the entry's key keeps it",
    ("domain", "address", "squidGuard"):
        "an address entry: squidGuard matches the dotted text, Corvane the address the parser "
        "normalises (leading zeros dropped)",
    ("unlisted", "-", "tarnwick-squid"):
        "an unlisted host whose domain key (last two or three labels) is a listed entry: the "
        "lookup's domain key covers it, squidGuard sees no listed suffix",
    ("unlisted", "-", "squidGuard"):
        "an unlisted host below a listed domain by chance",
}


def explain(kind, shape, blocker):
    for key in ((kind, shape, blocker), (kind, "path", blocker)):
        if key in REASONS:
            return REASONS[key]
    if kind == "domain" and blocker == "squidGuard":
        return ("the domain entry is skipped by one side: the importer refuses entries with "
                "\"/\", \"#\" or over 255 characters, squidGuard takes them")
    return "not classified"


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--ut1", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--requests", type=int, default=200000)
    ap.add_argument("--seed", type=int, default=20261209)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--min-ratio", type=float, default=10.0)
    args = ap.parse_args(argv[1:])
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work)
    corvane = os.path.join(build, "bin", "corvane")
    helper = os.path.join(build, "bin", "tarnwick-squid")
    squidguard = shutil.which("squidGuard") or "/usr/bin/squidGuard"
    for tool in (corvane, helper, squidguard):
        if not os.access(tool, os.X_OK):
            print("versus-squidguard: %s is missing" % tool, file=sys.stderr)
            return 2
    folders = [f for f in MAPPED_FOLDERS
               if os.path.exists(os.path.join(args.ut1, f, "domains"))
               or os.path.exists(os.path.join(args.ut1, f, "urls"))]
    os.makedirs(work, exist_ok=True)
    print("versus-squidguard: %d UT1 folders, all denied by both: %s" % (len(folders), ", ".join(folders)))

    # --- build both from the same folders
    lst = os.path.join(work, "ut1.lst")
    wall, cpu, rss, rc = timed([corvane, "import", args.ut1, "--only", ",".join(folders), "-o", lst],
                               stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "import.log"), "w"))
    if rc != 0:
        print("versus-squidguard: corvane import failed, see %s/import.log" % work, file=sys.stderr)
        return 1
    corvane_build = (wall, cpu)
    sgdb = os.path.join(work, "sgdb")
    shutil.rmtree(sgdb, ignore_errors=True)
    os.makedirs(os.path.join(work, "sglog"), exist_ok=True)
    conf = ["dbhome " + sgdb, "logdir " + os.path.join(work, "sglog")]
    dests = []
    for folder in folders:
        name = "d_" + folder.replace("-", "_")
        os.makedirs(os.path.join(sgdb, name))
        lines = ["dest %s {" % name]
        for kind, key in (("domains", "domainlist"), ("urls", "urllist")):
            source = os.path.join(args.ut1, folder, kind)
            if os.path.exists(source):
                shutil.copy(source, os.path.join(sgdb, name, kind))
                lines.append("  %s %s/%s" % (key, name, kind))
        conf += lines + ["}"]
        dests.append(name)
    conf += ["acl {", "  default {", "    pass " + " ".join("!" + d for d in dests) + " all",
             "    redirect 302:" + BLOCK, "  }", "}"]
    sgconf = os.path.join(work, "squidGuard.conf")
    with open(sgconf, "w") as f:
        f.write("\n".join(conf) + "\n")
    wall, cpu, rss, rc = timed([squidguard, "-c", sgconf, "-C", "all"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if rc != 0:
        print("versus-squidguard: squidGuard -C all failed (see %s/sglog)" % work, file=sys.stderr)
        return 1
    squidguard_build = (wall, cpu)

    hklm = os.path.join(work, "hklm.reg")
    write_registry(hklm, lst)

    # --- one stream
    rng = random.Random(args.seed)
    stream = make_stream(rng, [os.path.join(args.ut1, f) for f in folders], args.requests)
    stream_file = os.path.join(work, "stream.txt")
    with open(stream_file, "w", encoding="latin-1") as f:
        for line, _, _, _ in stream:
            f.write(line)
    listed = sum(1 for _, kind, _, _ in stream if kind != "unlisted")
    print("versus-squidguard: stream of %d lines (seed %d): %d listed-derived, %d unlisted"
          % (len(stream), args.seed, listed, len(stream) - listed))

    # --- alternating runs
    env = dict(os.environ, TARNWICK_HKLM=hklm)
    helpers = {
        "squidGuard": ([squidguard, "-c", sgconf], "OK"),
        "tarnwick-squid": ([helper, "--key", KEY, "--redirect", BLOCK], "OK"),
    }
    runs = collections.defaultdict(list)
    for round_index in range(args.rounds):
        for name in ("squidGuard", "tarnwick-squid"):
            command, _ = helpers[name]
            answers = os.path.join(work, "%s.answers" % name)
            with open(stream_file, "rb") as stdin, open(answers, "wb") as stdout:
                wall, cpu, rss, rc = timed(command, stdin=stdin, stdout=stdout,
                                           stderr=open(os.path.join(work, name + ".err"), "w"), env=env)
            if rc != 0:
                print("versus-squidguard: %s exited with %d (see %s.err)" % (name, rc, name), file=sys.stderr)
                return 1
            with open(answers, "rb") as f:
                answered = sum(1 for _ in f)
            if answered != len(stream):
                print("versus-squidguard: %s answered %d of %d lines" % (name, answered, len(stream)),
                      file=sys.stderr)
                return 1
            runs[name].append((wall, cpu, rss))
            print("  round %d %-14s wall %6.2f s  CPU %6.2f s  peak %7d KiB"
                  % (round_index + 1, name, wall, cpu, rss))

    def summary(name):
        walls = [r[0] for r in runs[name]]
        cpus = [r[1] for r in runs[name]]
        cpu = statistics.median(cpus)
        return {
            "per_core": len(stream) / cpu if cpu > 0 else float("inf"),
            "cpu_us": 1e6 * cpu / len(stream),
            "wall_rate": len(stream) / statistics.median(walls),
            "peak": max(r[2] for r in runs[name]),
        }

    sg, ts = summary("squidGuard"), summary("tarnwick-squid")
    ratio = ts["per_core"] / sg["per_core"]
    print()
    print("| | squidGuard 1.6 | tarnwick-squid |")
    print("|---|---|---|")
    print("| requests/s per core (requests / median CPU s) | %s | %s |"
          % (format(round(sg["per_core"]), ","), format(round(ts["per_core"]), ",")))
    print("| CPU per request | %.2f µs | %.2f µs |" % (sg["cpu_us"], ts["cpu_us"]))
    print("| requests/s, wall clock (median) | %s | %s |"
          % (format(round(sg["wall_rate"]), ","), format(round(ts["wall_rate"]), ",")))
    print("| peak memory (max RSS) | %s KiB | %s KiB |" % (format(sg["peak"], ","), format(ts["peak"], ",")))
    print("| build from UT1 (wall / CPU) | %.2f s / %.2f s (squidGuard -C all) | %.2f s / %.2f s (corvane import) |"
          % (squidguard_build[0], squidguard_build[1], corvane_build[0], corvane_build[1]))
    print()
    print("versus-squidguard: tarnwick-squid does %.1f times squidGuard's requests per core "
          "(%.1f times less CPU per request)" % (ratio, sg["cpu_us"] / ts["cpu_us"]))

    # --- agreement
    sg_blocked = verdicts(os.path.join(work, "squidGuard.answers"), "OK")
    ts_blocked = verdicts(os.path.join(work, "tarnwick-squid.answers"), "OK")
    classes = collections.defaultdict(list)
    agree = 0
    for (line, kind, shape, url), a, b in zip(stream, sg_blocked, ts_blocked):
        if a == b:
            agree += 1
            continue
        classes[(kind, shape, "squidGuard" if a else "tarnwick-squid")].append(url)
    by_kind = collections.Counter((kind, a, b) for (_, kind, _, _), a, b in zip(stream, sg_blocked, ts_blocked))
    print("versus-squidguard: both decide alike on %d of %d URLs (%.2f%%)"
          % (agree, len(stream), 100.0 * agree / len(stream)))
    print()
    print("| URLs generated as | both deny | both pass | only squidGuard denies | only tarnwick-squid denies |")
    print("|---|---|---|---|---|")
    for kind in ("domain", "below-domain", "url-entry", "below-url-entry", "unlisted"):
        print("| %s | %d | %d | %d | %d |" % (kind, by_kind[(kind, True, True)], by_kind[(kind, False, False)],
                                             by_kind[(kind, True, False)], by_kind[(kind, False, True)]))
    print()
    print("Differences by class (count, share of the stream, reason, examples):")
    for key, urls in sorted(classes.items(), key=lambda item: -len(item[1])):
        kind, shape, blocker = key
        print("- %s, entry shape %s, only %s denies: %d (%.2f%%)"
              % (kind, shape, blocker, len(urls), 100.0 * len(urls) / len(stream)))
        print("    reason: " + explain(kind, shape, blocker))
        for url in urls[:3]:
            print("    e.g. " + url)
    if ratio < args.min_ratio:
        print("versus-squidguard: FAILED: the ratio %.1f is below %.1f" % (ratio, args.min_ratio))
        return 1
    print("versus-squidguard: ok: the ratio %.1f is at least %.1f" % (ratio, args.min_ratio))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
