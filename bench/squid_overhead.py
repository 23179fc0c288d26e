#!/usr/bin/env python3
"""The CPU that a filter costs behind a real Squid (see bench/squid-overhead.sh,
which installs what is missing and calls this).

  squid_overhead.py --build BUILD --ut1 UT1_DIR --work DIR [--requests N]
                    [--rounds R] [--clients C] [--hosts H] [--seed S]
                    [--configs NAME,...] [--list-configs]

Runs one Squid per configuration, each on 127.0.0.1 with a squid.conf, cache
log and port of its own, forwarding every request to one local origin
(cache_peer ... originserver, never_direct allow all, caching off). The
origin answers each request in one write on a socket with TCP_NODELAY, so a
round never waits on it. C keep-alive clients send N requests a round: half
to hosts listed in UT1 categories that are not denied (the filter looks each
one up and lets it pass), half to hosts no list holds, from a bounded set of
H host names each (Squid's own cost grows with every new name it meets), each
with a path of its own. The rounds alternate between the configurations.

Around each round the CPU time of the Squid process and of every process
below it (the helpers it started) is read from /proc (the run time of each
thread, in nanoseconds, from schedstat). The report gives, per configuration,
the median over the rounds of the CPU per request of Squid and helpers
together, of the helpers alone, and the ratio to Squid alone, with the
machine it ran on. Exits 1 when a request is lost or answered other than 200
by the origin (every request should pass every filter), 2 on bad arguments.
"""
import argparse
import collections
import http.client
import os
import platform
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from versus_squidguard import CATEGORY_NAMES, MAPPED_FOLDERS, read_entries  # noqa: E402

KEY = "SOFTWARE\\Pellumin\\Overhead"
BLOCK = "http://block.test/blocked?url=%u"
# What the filters deny: the categories a site denies first. The traffic's
# listed hosts come from the other folders, so every request passes and
# reaches the origin whatever the filter: Squid's own work is the same in
# every configuration.
DENIED_CATEGORIES = ["Sex", "Gambling", "Criminal Skills"]
DENIED_FOLDERS = ["adult", "lingerie", "mixed_adult", "gambling", "arjel", "hacking", "warez",
                  "dangerous_material", "malware", "phishing", "cryptojacking", "ddos", "dialer",
                  "stalkerware"]
ORIGIN_BODY = b"ok\n"
WARM_REQUESTS = 400
REQUEST_TIMEOUT = 30


# --- the origin -------------------------------------------------------------

def serve_origin(port_file):
    """Answers every request on a connection in one write, keep-alive, with
    TCP_NODELAY: nothing of it waits for a timer."""
    import selectors
    answer = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
              % len(ORIGIN_BODY)) + ORIGIN_BODY
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(512)
    listener.setblocking(False)
    with open(port_file + ".new", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".new", port_file)
    selector = selectors.DefaultSelector()
    selector.register(listener, selectors.EVENT_READ, None)
    pending = {}
    while True:
        for key, _ in selector.select():
            if key.data is None:
                try:
                    connection, _ = listener.accept()
                except BlockingIOError:
                    continue
                connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                connection.setblocking(False)
                pending[connection] = b""
                selector.register(connection, selectors.EVENT_READ, True)
                continue
            connection = key.fileobj
            try:
                data = connection.recv(65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                data = b""
            if not data:
                selector.unregister(connection)
                pending.pop(connection, None)
                connection.close()
                continue
            buffered = pending[connection] + data
            count = buffered.count(b"\r\n\r\n")  # GET requests carry no body
            if count:
                buffered = buffered[buffered.rfind(b"\r\n\r\n") + 4:]
                try:
                    connection.sendall(answer * count)
                except OSError:
                    pass
            pending[connection] = buffered


# --- the traffic ------------------------------------------------------------

def host_name_ok(host):
    return (re.fullmatch(r"[a-z0-9]([a-z0-9-]*[a-z0-9])?(\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)+", host)
            is not None and not all(part.isdigit() for part in host.split(".")))


def pick_hosts(rng, ut1, folders, count):
    """count listed hosts from folders that are not denied (no suffix of
    them in a denied folder), and count hosts no list holds."""
    denied = set()
    for folder in DENIED_FOLDERS:
        denied.update(read_entries(os.path.join(ut1, folder, "domains")))
    candidates = set()
    for folder in folders:
        if folder in DENIED_FOLDERS:
            continue
        for entry in read_entries(os.path.join(ut1, folder, "domains")):
            if host_name_ok(entry) and len(entry) < 60:
                candidates.add(entry)

    def denied_somewhere(host):
        labels = host.split(".")
        return any(".".join(labels[i:]) in denied for i in range(len(labels) - 1))

    candidates = sorted(c for c in candidates if not denied_somewhere(c))
    listed = rng.sample(candidates, min(count, len(candidates)))
    tlds = ["com", "net", "org", "fr", "de", "info"]
    unlisted = ["www.u%06d-%s.%s" % (rng.randrange(10 ** 6), rng.choice(["shop", "news", "site", "info"]),
                                     rng.choice(tlds)) for _ in range(count)]
    return listed, unlisted


def make_requests(rng, listed, unlisted, count):
    """count (host, path) pairs, listed and unlisted hosts in turn."""
    words = ["index", "news", "img", "static", "a", "view", "item", "2026", "page", "p"]
    requests = []
    for i in range(count):
        host = rng.choice(listed if i % 2 == 0 else unlisted)
        path = "/" + "/".join(rng.choice(words) for _ in range(rng.randint(0, 3)))
        path += ("/" if path != "/" else "") + "r%d" % i
        if rng.random() < 0.2:
            path += "?q=%d" % rng.randrange(1000)
        requests.append((host, path))
    return requests


def run_clients(port, requests, clients):
    """Sends requests through the proxy on `clients` keep-alive connections;
    returns (wall seconds, Counter of outcomes)."""
    outcomes = collections.Counter()
    lock = threading.Lock()
    next_index = [0]

    def client():
        connection = None
        mine = collections.Counter()
        while True:
            with lock:
                index = next_index[0]
                next_index[0] += 1
            if index >= len(requests):
                break
            host, path = requests[index]
            for attempt in (1, 2):
                try:
                    if connection is None:
                        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=REQUEST_TIMEOUT)
                    connection.request("GET", "http://%s%s" % (host, path), headers={"Host": host})
                    response = connection.getresponse()
                    body = response.read()
                    if response.status == 200 and body == ORIGIN_BODY:
                        mine["ok"] += 1
                    else:
                        mine["status %d" % response.status] += 1
                    if response.will_close:
                        connection.close()
                        connection = None
                    break
                except (OSError, http.client.HTTPException) as error:
                    if connection is not None:
                        connection.close()
                    connection = None
                    # A keep-alive connection the proxy closed between two
                    # requests is tried once more on a new one.
                    if attempt == 2:
                        mine["lost: %s" % type(error).__name__] += 1
        if connection is not None:
            connection.close()
        with lock:
            outcomes.update(mine)

    start = time.monotonic()
    threads = [threading.Thread(target=client) for _ in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.monotonic() - start, outcomes


# --- CPU from /proc ---------------------------------------------------------

TICK_NS = 1e9 / os.sysconf("SC_CLK_TCK")


def process_cpu_ns(pid):
    """The run time of every thread of pid (schedstat, ns); from stat's
    ticks where schedstat is missing. None when pid is gone."""
    total = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    total += int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                    total += int((int(fields[11]) + int(fields[12])) * TICK_NS)
    except OSError:
        return None
    return total


def descendants(pid):
    found = []
    todo = [pid]
    while todo:
        current = todo.pop()
        try:
            tasks = os.listdir("/proc/%d/task" % current)
        except OSError:
            continue
        for tid in tasks:
            try:
                with open("/proc/%d/task/%s/children" % (current, tid)) as f:
                    children = [int(c) for c in f.read().split()]
            except OSError:
                continue
            found += children
            todo += children
    return found


def snapshot(squid_pid):
    """{pid: (name, CPU ns)} for squid and every process below it."""
    result = {}
    for pid in [squid_pid] + descendants(squid_pid):
        cpu = process_cpu_ns(pid)
        if cpu is None:
            continue
        try:
            name = os.path.basename(os.readlink("/proc/%d/exe" % pid))
        except OSError:
            name = "?"
        result[pid] = (name, cpu)
    return result


# --- Squid ------------------------------------------------------------------

def doc_squid_lines(root, helper, hklm, log):
    """The url_rewrite lines of doc/squid.md's squid.conf fragment, with
    this run's helper, settings file, key and log put in."""
    with open(os.path.join(root, "doc", "squid.md")) as f:
        text = f.read()
    section = text.split("## squid.conf", 1)[1]
    block = section.split("```", 2)[1]
    lines = []
    for line in block.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("url_rewrite_program"):
            # Replacements as functions: the key holds backslashes.
            line = re.sub(r"TARNWICK_HKLM=\S+", lambda _: "TARNWICK_HKLM=" + hklm, line)
            line = re.sub(r"\S*/tarnwick-squid\b", lambda _: helper, line)
            line = re.sub(r"--key \S+", lambda _: "--key " + KEY, line)
            line = re.sub(r"--log \S+", lambda _: "--log " + log, line)
        lines.append(line)
    if not any(line.startswith("url_rewrite_program") for line in lines):
        raise SystemExit("squid-overhead: no url_rewrite_program in doc/squid.md's squid.conf")
    return lines


def tarnwick_lines(helper, hklm, log, children, concurrency, helper_args):
    return ["url_rewrite_program /usr/bin/env TARNWICK_HKLM=%s %s --key %s --redirect %s --log %s %s"
            % (hklm, helper, KEY, BLOCK, log, helper_args),
            "url_rewrite_children %d startup=%d idle=1 concurrency=%d" % (children, children, concurrency),
            'url_rewrite_extras "%>a/%>A %un %>rm myip=%la myport=%lp"',
            "url_rewrite_bypass off"]


def configurations(root, helper, squidguard, sgconf, hklm, work):
    log = os.path.join(work, "alerts.log")
    squidguard_lines = ["url_rewrite_program %s -c %s" % (squidguard, sgconf),
                        "url_rewrite_children 8 startup=8 idle=1 concurrency=0",
                        'url_rewrite_extras "%>a/%>A %un %>rm myip=%la myport=%lp"',
                        "url_rewrite_bypass off"]
    return collections.OrderedDict([
        ("none", ("Squid alone", [])),
        ("tarnwick", ("tarnwick-squid as doc/squid.md configures it",
                      doc_squid_lines(root, helper, hklm, log))),
        ("tarnwick-2x100-t4", ("tarnwick-squid, 2 children, concurrency=100, --threads 4",
                               tarnwick_lines(helper, hklm, log, 2, 100, "--threads 4"))),
        ("tarnwick-2x100-t1", ("tarnwick-squid, 2 children, concurrency=100, --threads 1",
                               tarnwick_lines(helper, hklm, log, 2, 100, "--threads 1"))),
        ("tarnwick-1x100-t1", ("tarnwick-squid, 1 child, concurrency=100, --threads 1",
                               tarnwick_lines(helper, hklm, log, 1, 100, "--threads 1"))),
        ("tarnwick-8x0", ("tarnwick-squid, 8 children, concurrency=0",
                          tarnwick_lines(helper, hklm, log, 8, 0, "--channel-id off"))),
        ("squidguard", ("squidGuard, 8 children, concurrency=0, the same UT1 folders",
                        squidguard_lines)),
    ])


class Squid:
    def __init__(self, name, squid, work, origin_port, user, rewrite_lines):
        self.name = name
        self.dir = os.path.join(work, "squid-" + name)
        os.makedirs(self.dir, exist_ok=True)
        os.chmod(self.dir, 0o777)
        self.port = free_port()
        conf = [
            "http_port 127.0.0.1:%d" % self.port,
            "pid_filename %s/squid.pid" % self.dir,
            "cache_effective_user %s" % user,
            "cache deny all",
            "cache_mem 8 MB",
            "cache_log %s/cache.log" % self.dir,
            "access_log stdio:%s/access.log" % self.dir,
            "cache_store_log none",
            "netdb_filename none",
            "hosts_file %s/hosts" % work,
            "visible_hostname pellumin-overhead-%s" % name,
            "max_filedescriptors 8192",
            "shutdown_lifetime 1 seconds",
            # No ICMP pinger: it would be one more process below Squid.
            "pinger_enable off",
            "cache_peer 127.0.0.1 parent %d 0 no-query no-digest originserver name=origin" % origin_port,
            "never_direct allow all",
            "http_access allow localhost",
            "http_access deny all",
        ] + rewrite_lines
        self.conf = os.path.join(self.dir, "squid.conf")
        with open(self.conf, "w") as f:
            f.write("\n".join(conf) + "\n")
        out = open(os.path.join(self.dir, "squid.out"), "w")
        check = subprocess.run([squid, "-k", "parse", "-f", self.conf], stdout=out, stderr=out)
        if check.returncode != 0:
            raise SystemExit("squid-overhead: squid -k parse failed for %s (see %s/squid.out)"
                             % (name, self.dir))
        self.process = subprocess.Popen([squid, "-N", "-f", self.conf], stdout=out, stderr=out)

    def wait_ready(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise SystemExit("squid-overhead: squid for %s exited (see %s/cache.log)"
                                 % (self.name, self.dir))
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise SystemExit("squid-overhead: squid for %s did not start" % self.name)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def machine():
    model, mhz = "?", "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name") and model == "?":
                    model = line.split(":", 1)[1].strip()
                if line.startswith("cpu MHz") and mhz == "?":
                    mhz = line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "%s, %d cores, %s MHz, Linux %s, load average %s" % (
        model, os.cpu_count() or 0, mhz, platform.release(),
        " ".join("%.2f" % v for v in os.getloadavg()))


def version(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=10)
        text = (out.stdout + out.stderr).strip().splitlines()
        return text[0] if text else "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


# --- the run ----------------------------------------------------------------

def prepare_filters(args, build, work, folders):
    """The Corvane list and settings, and the squidGuard database, from the
    same folders, denying the same categories."""
    corvane = os.path.join(build, "bin", "corvane")
    lst = os.path.join(work, "ut1.lst")
    with open(os.path.join(work, "import.log"), "w") as log:
        if subprocess.run([corvane, "import", args.ut1, "--only", ",".join(folders), "-o", lst],
                          stdout=subprocess.DEVNULL, stderr=log).returncode != 0:
            raise SystemExit("squid-overhead: corvane import failed, see %s/import.log" % work)
    hklm = os.path.join(work, "hklm.reg")
    with open(hklm, "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n\"ControlFile\"=\"%s\"\r\n\r\n" % (KEY, lst))
        f.write("[HKEY_LOCAL_MACHINE\\%s\\Deny]\r\n" % KEY)
        for name in CATEGORY_NAMES:
            f.write("\"%sState\"=dword:%08x\r\n" % (name, 1 if name in DENIED_CATEGORIES else 0))
        f.write("\r\n")

    squidguard = shutil.which("squidGuard") or "/usr/bin/squidGuard"
    sgdb = os.path.join(work, "sgdb")
    sglog = os.path.join(work, "sglog")
    shutil.rmtree(sgdb, ignore_errors=True)
    os.makedirs(sglog, exist_ok=True)
    conf = ["dbhome " + sgdb, "logdir " + sglog]
    for folder in folders:
        name = "d_" + folder.replace("-", "_")
        os.makedirs(os.path.join(sgdb, name))
        conf.append("dest %s {" % name)
        for kind, keyword in (("domains", "domainlist"), ("urls", "urllist")):
            source = os.path.join(args.ut1, folder, kind)
            if os.path.exists(source):
                shutil.copy(source, os.path.join(sgdb, name, kind))
                conf.append("  %s %s/%s" % (keyword, name, kind))
        conf.append("}")
    denied = ["d_" + f.replace("-", "_") for f in folders if f in DENIED_FOLDERS]
    conf += ["acl {", "  default {", "    pass " + " ".join("!" + d for d in denied) + " all",
             "    redirect 302:" + BLOCK, "  }", "}"]
    sgconf = os.path.join(work, "squidGuard.conf")
    with open(sgconf, "w") as f:
        f.write("\n".join(conf) + "\n")
    if subprocess.run([squidguard, "-c", sgconf, "-C", "all"], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        raise SystemExit("squid-overhead: squidGuard -C all failed (see %s)" % sglog)
    return hklm, squidguard, sgconf


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--ut1", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--requests", type=int, default=12000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--clients", type=int, default=8)
    ap.add_argument("--hosts", type=int, default=100, help="listed and unlisted host names, each")
    ap.add_argument("--seed", type=int, default=20261211)
    ap.add_argument("--configs", default="none,tarnwick,squidguard")
    ap.add_argument("--list-configs", action="store_true")
    args = ap.parse_args(argv[1:])
    if args.requests < 100 or args.rounds < 1 or args.clients < 1 or args.hosts < 1:
        ap.error("--requests must be at least 100, --rounds, --clients and --hosts at least 1")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    helper = os.path.join(build, "bin", "tarnwick-squid")
    squid = shutil.which("squid") or "/usr/sbin/squid"

    # Names only, for --list-configs and to check --configs before any work.
    known = configurations(root, helper, "squidGuard", "squidGuard.conf", "hklm.reg", work)
    if args.list_configs:
        for name, (title, _) in known.items():
            print("%-20s %s" % (name, title))
        return 0
    chosen = [c for c in args.configs.split(",") if c]
    unknown = [c for c in chosen if c not in known]
    if unknown or not chosen:
        ap.error("unknown configuration %s (--list-configs names them)" % ", ".join(unknown))
    if "none" not in chosen:
        chosen.insert(0, "none")  # the ratios are to Squid alone
    for tool in (os.path.join(build, "bin", "corvane"), helper, squid):
        if not os.access(tool, os.X_OK):
            print("squid-overhead: %s is missing" % tool, file=sys.stderr)
            return 2

    folders = [f for f in MAPPED_FOLDERS
               if os.path.exists(os.path.join(args.ut1, f, "domains"))
               or os.path.exists(os.path.join(args.ut1, f, "urls"))]
    print("squid-overhead: machine: %s" % machine())
    print("squid-overhead: %s; %s; %s" % (version([squid, "-v"]), version(["squidGuard", "-v"]),
                                          helper))
    print("squid-overhead: %d UT1 folders in both filters, denied: %s" % (len(folders),
                                                                       ", ".join(DENIED_CATEGORIES)))
    hklm, squidguard, sgconf = prepare_filters(args, build, work, folders)
    rng = random.Random(args.seed)
    listed, unlisted = pick_hosts(rng, args.ut1, folders, args.hosts)
    requests = make_requests(rng, listed, unlisted, args.requests)
    with open(os.path.join(work, "hosts"), "w") as f:
        for host in listed + unlisted:
            f.write("127.0.0.1 %s\n" % host)
    print("squid-overhead: %d requests a round, %d clients, %d listed and %d unlisted host names"
          % (len(requests), args.clients, len(listed), len(unlisted)))

    user = "proxy" if os.getuid() == 0 else os.environ.get("USER") or "nobody"
    # The helpers open their access log at start, as Squid's user.
    open(os.path.join(work, "alerts.log"), "a").close()
    if os.getuid() == 0:
        for dirpath, dirnames, filenames in os.walk(work):
            for name in dirnames + filenames:
                shutil.chown(os.path.join(dirpath, name), user="proxy")
    port_file = os.path.join(work, "origin.port")
    if os.path.exists(port_file):
        os.remove(port_file)  # from a run before in the same WORK
    origin = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--origin", port_file])
    squids = []
    try:
        for _ in range(100):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        origin_port = int(open(port_file).read())
        known = configurations(root, helper, squidguard, sgconf, hklm, work)
        for name in chosen:
            squids.append(Squid(name, squid, work, origin_port, user, known[name][1]))
        for proxy in squids:
            proxy.wait_ready()
            _, outcomes = run_clients(proxy.port, requests[:WARM_REQUESTS], args.clients)
            if outcomes["ok"] != WARM_REQUESTS:
                raise SystemExit("squid-overhead: %s: the first requests failed: %s (see %s/cache.log)"
                                 % (proxy.name, dict(outcomes), proxy.dir))
        faults = 0
        per_request = collections.defaultdict(list)  # name -> [(total µs, helpers µs)]
        for round_number in range(1, args.rounds + 1):
            for proxy in squids:
                before = snapshot(proxy.process.pid)
                wall, outcomes = run_clients(proxy.port, requests, args.clients)
                after = snapshot(proxy.process.pid)
                squid_ns = after[proxy.process.pid][1] - before[proxy.process.pid][1]
                helpers_ns = sum(cpu - before.get(pid, (name, 0))[1]
                                 for pid, (name, cpu) in after.items() if pid != proxy.process.pid)
                gone = [pid for pid in before if pid not in after]
                total_us = (squid_ns + helpers_ns) / 1000.0 / len(requests)
                helpers_us = helpers_ns / 1000.0 / len(requests)
                per_request[proxy.name].append((total_us, helpers_us))
                bad = {k: v for k, v in outcomes.items() if k != "ok"}
                faults += sum(bad.values()) + (len(requests) - sum(outcomes.values()))
                print("round %d %-20s %8.1f µs per request (helpers %6.1f), %5.0f requests/s wall%s%s"
                      % (round_number, proxy.name, total_us, helpers_us, len(requests) / wall,
                         "; NOT ANSWERED 200: %s" % dict(bad) if bad else "",
                         "; %d processes ended during the round" % len(gone) if gone else ""))
                sys.stdout.flush()
    finally:
        for proxy in squids:
            proxy.stop()
        origin.terminate()
        origin.wait()

    base = statistics.median(t for t, _ in per_request["none"])
    print()
    print("| configuration | CPU per request, Squid and helpers | of which the helpers | ratio to Squid alone |")
    print("|---|---|---|---|")
    for proxy in squids:
        total = statistics.median(t for t, _ in per_request[proxy.name])
        helpers = statistics.median(h for _, h in per_request[proxy.name])
        print("| %s (`%s`) | %.1f µs | %s | %.3f |" % (
            known[proxy.name][0], proxy.name, total,
            "—" if proxy.name == "none" else "%.1f µs (%.1f %%)" % (helpers, 100.0 * helpers / max(total, 1e-9)),
            total / max(base, 1e-9)))
    print("(medians of %d rounds of %d requests; machine: %s)" % (args.rounds, len(requests), machine()))
    if faults:
        print("squid-overhead: %d requests lost or not answered 200 by the origin" % faults,
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--origin":
        serve_origin(sys.argv[2])
    else:
        sys.exit(main(sys.argv))
