#!/usr/bin/env python3
"""The origin server and the clients of host/load_test.sh.

  load_test.py origin PORT_FILE HITS_FILE
      Serves every GET with the body "origin <path>\\n" on a free port of
      127.0.0.1 (written to PORT_FILE), many requests at once, and appends
      each path it serves to HITS_FILE.

  load_test.py clients PROXY_PORT ORIGIN_PORT REQUESTS CONCURRENCY HITS_FILE
                       LOG_FILE DENIAL_BODY ALLOW_HOST ALERT_HOST DENY_HOST
      Sends REQUESTS requests through the proxy, CONCURRENCY at a time, one
      connection each, in turn allowed / alerted / denied, each to a path of
      its own. Then checks that none was lost: every allowed and alerted one
      got the origin's body for its own path, every denied one the denial
      page, the origin served each forwarded path exactly once and no denied
      one, and the access log holds one line per alerted request. Prints what
      it measured; exits 1 on any fault.

      LOG_FILE may name several files separated by ":" (a log rotated
      during the run); their lines are counted together. When the
      environment names LOAD_UNTIL_FILE, the clients go on past REQUESTS
      until that file exists (at most 100,000 requests), so that what the
      test does meanwhile (reloads) happens under load.

  load_test.py hostile PROXY_PORT ORIGIN_PORT ALLOW_HOST CLIENT_TIMEOUT LIMIT HXHOST_PID
      Hostile clients, then an ordinary request after each kind: LIMIT + 44
      connections that send nothing (the ordinary request is still served,
      at once), slow clients sending a byte a second (each gets 408 within
      the client timeout of its first byte), a 100 KB request line (414),
      1 MB of headers and 10,000 headers (431, and the connection closes),
      and a client that never reads a large answer. While that client is
      still connected, hxhost's threads and descriptors must be back at what
      they were before the hostile clients came, within 10 s. Exits 1 on any
      fault.
"""
import concurrent.futures
import http.client
import http.server
import os
import sys
import threading
import time

REQUEST_TIMEOUT = 30  # seconds, per request


def serve_origin(port_file, hits_file):
    lock = threading.Lock()
    hits = open(hits_file, "a", buffering=1)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def do_GET(self):
            if self.path.startswith("/big"):
                # For a client that never reads: far more than the socket
                # buffers hold, sent until the proxy gives up.
                self.send_response(200)
                self.send_header("Content-Length", str(1 << 30))
                self.end_headers()
                piece = b"b" * 65536
                try:
                    for _ in range(1 << 14):
                        self.wfile.write(piece)
                except OSError:
                    pass
                return
            body = ("origin %s\n" % self.path).encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            with lock:
                hits.write(self.path + "\n")

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        request_queue_size = 256
        daemon_threads = True

    server = Server(("127.0.0.1", 0), Handler)
    with open(port_file + ".tmp", "w") as out:
        out.write("%d\n" % server.server_address[1])
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


def one_request(proxy_port, url):
    """(status, body, seconds) or (None, error text, seconds)."""
    start = time.monotonic()
    conn = http.client.HTTPConnection("127.0.0.1", proxy_port, timeout=REQUEST_TIMEOUT)
    try:
        conn.request("GET", url, headers={"Connection": "close"})
        response = conn.getresponse()
        body = response.read()
        return response.status, body, time.monotonic() - start
    except (OSError, http.client.HTTPException) as error:
        return None, repr(error), time.monotonic() - start
    finally:
        conn.close()


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def run_clients(proxy_port, origin_port, requests, concurrency, hits_file, log_file,
                denial_body, allow_host, alert_host, deny_host):
    kinds = ("allowed", "alerted", "denied")
    hosts = {"allowed": allow_host, "alerted": alert_host, "denied": deny_host}
    until_file = os.environ.get("LOAD_UNTIL_FILE")

    def more(i):
        if i >= 100000:
            return False
        return i < requests or (until_file is not None and not os.path.exists(until_file))

    plan = []
    faults = []
    latencies = []
    started = time.monotonic()

    def check(kind, path, future):
        status, body, seconds = future.result()
        latencies.append(seconds)
        if status is None:
            faults.append("%s %s: no answer: %s" % (kind, path, body))
        elif kind == "denied":
            text = body.decode("latin-1")
            if "Access Restricted" not in text or denial_body not in text:
                faults.append("denied %s: not the denial page: %r" % (path, text[:200]))
        elif status != 200 or body != ("origin %s\n" % path).encode():
            faults.append("%s %s: status %s, body %r" % (kind, path, status, body[:200]))

    # Never more than a few rounds of requests waiting, so that a run that
    # goes on until a file appears does not queue without bound.
    with concurrent.futures.ThreadPoolExecutor(max_workers=concurrency) as pool:
        pending = {}
        i = 0
        while more(i) or pending:
            while more(i) and len(pending) < 2 * concurrency:
                kind = kinds[i % 3]
                path = "/load/%s/%d" % (kind, i)
                plan.append((kind, path, "http://%s:%d%s" % (hosts[kind], origin_port, path)))
                pending[pool.submit(one_request, proxy_port, plan[-1][2])] = (kind, path)
                i += 1
            done, _ = concurrent.futures.wait(
                pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in done:
                kind, path = pending.pop(future)
                check(kind, path, future)
    requests = len(plan)
    elapsed = time.monotonic() - started

    # The origin answers before it records the hit: give it a moment.
    expected = {path for kind, path, _ in plan if kind != "denied"}
    for _ in range(50):
        with open(hits_file) as f:
            hits = [line.rstrip("\n") for line in f if line.startswith("/load/")]
        if len(hits) >= len(expected):
            break
        time.sleep(0.1)
    counts = {}
    for hit in hits:
        counts[hit] = counts.get(hit, 0) + 1
    for path in sorted(expected):
        if counts.get(path, 0) != 1:
            faults.append("origin served %s %d times" % (path, counts.get(path, 0)))
    for path in sorted(set(counts) - expected):
        faults.append("origin served %s, which should not reach it" % path)

    alerted = sum(1 for kind, _, _ in plan if kind == "alerted")
    log_lines = []
    for name in log_file.split(":"):
        try:
            with open(name, "rb") as f:
                log_lines += [line for line in f.read().splitlines() if line.strip()]
        except FileNotFoundError:
            pass
    if len(log_lines) != alerted:
        faults.append("access log has %d lines, expected %d (one per alerted request)"
                      % (len(log_lines), alerted))

    per_kind = {kind: sum(1 for k, _, _ in plan if k == kind) for kind in kinds}
    print("load: %d requests (%s), %d at a time, in %.2f s: %.0f requests/s"
          % (requests, ", ".join("%d %s" % (per_kind[k], k) for k in kinds), concurrency,
             elapsed, requests / elapsed if elapsed > 0 else 0.0))
    if latencies:
        print("load: latency p50 %.1f ms, p95 %.1f ms, max %.1f ms"
              % (1000 * percentile(latencies, 0.5), 1000 * percentile(latencies, 0.95),
                 1000 * max(latencies)))
    print("load: origin served %d forwarded paths, access log %d lines"
          % (len(hits), len(log_lines)))
    for fault in faults[:20]:
        print("FAULT: " + fault)
    if len(faults) > 20:
        print("FAULT: ... and %d more" % (len(faults) - 20))
    return 1 if faults else 0


def read_reply(sock, limit_seconds):
    """(status or None, seconds until the reply began, closed afterwards)."""
    import socket
    start = time.monotonic()
    sock.settimeout(limit_seconds)
    data = b""
    try:
        while b"\r\n" not in data:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
        began = time.monotonic() - start
        # Then the proxy closes: read to the end.
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
        closed = True
    except (socket.timeout, OSError):
        began = time.monotonic() - start
        closed = False
    status = None
    if data.startswith(b"HTTP/1.") and len(data) >= 12:
        try:
            status = int(data[9:12])
        except ValueError:
            pass
    return status, began, closed


def process_counts(pid):
    """(threads, descriptors, RSS in kB) of a process."""
    threads = rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("Threads:"):
                threads = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return threads, len(os.listdir("/proc/%d/fd" % pid)), rss


def run_hostile(proxy_port, origin_port, allow_host, client_timeout, limit, pid):
    import socket
    faults = []
    idle_threads, idle_fds, rss_before = process_counts(pid)
    ordinary_url = "http://%s:%d/hostile/ordinary" % (allow_host, origin_port)

    def ordinary(after):
        status, body, seconds = one_request(proxy_port, ordinary_url)
        print("hostile: ordinary request after %s: %s in %.2f s" % (after, status, seconds))
        if status != 200 or seconds > 5:
            faults.append("ordinary request after %s: status %s after %.2f s" % (after, status, seconds))

    def connect():
        return socket.create_connection(("127.0.0.1", proxy_port), timeout=10)

    # 1. More silent connections than the limit.
    idle = []
    for _ in range(limit + 44):
        try:
            idle.append(connect())
        except OSError as error:
            faults.append("cannot open idle connection %d: %r" % (len(idle), error))
            break
    time.sleep(1)
    ordinary("%d idle connections" % len(idle))
    for s in idle:
        s.close()

    # 2. Slow clients: a byte a second.
    request = ("GET %s HTTP/1.1\r\nHost: x\r\nX-Slow: %s\r\n\r\n"
               % (ordinary_url, "s" * 40)).encode()
    results = []

    def slow():
        s = connect()
        try:
            for i in range(len(request)):
                s.sendall(request[i:i + 1])
                s.settimeout(1.0)
                try:
                    if s.recv(1, socket.MSG_PEEK):
                        break
                except socket.timeout:
                    pass
            results.append(read_reply(s, client_timeout + 10))
        except OSError as error:
            results.append((None, 0.0, repr(error)))
        finally:
            s.close()

    threads = [threading.Thread(target=slow) for _ in range(20)]
    for t in threads:
        t.start()
    time.sleep(1.5)
    ordinary("20 slow clients started")
    for t in threads:
        t.join()
    for status, began, closed in results:
        if status != 408 or closed is not True:
            faults.append("slow client: status %s, closed %s after %.1f s" % (status, closed, began))
    print("hostile: slow clients answered %s" % sorted({r[0] for r in results}, key=str))

    # 3. Oversized heads.
    many = b"a: b\r\n" * 10000
    big = b"".join(b"X-Big%d: %s\r\n" % (i, b"v" * 1000) for i in range(1024))
    cases = [
        ("100 KB request line", b"GET http://%s/%s HTTP/1.1\r\n\r\n" % (allow_host.encode(), b"a" * 102400), 414),
        ("1 MB of headers", b"GET " + ordinary_url.encode() + b" HTTP/1.1\r\n" + big + b"\r\n", 431),
        ("10,000 headers", b"GET " + ordinary_url.encode() + b" HTTP/1.1\r\n" + many + b"\r\n", 431),
    ]
    for name, data, expected in cases:
        s = connect()
        sender = threading.Thread(target=lambda: _send_quietly(s, data))
        sender.start()
        status, began, closed = read_reply(s, 20)
        sender.join()
        s.close()
        print("hostile: %s: %s, closed %s" % (name, status, closed))
        if status != expected or not closed:
            faults.append("%s: status %s (expected %d), closed %s" % (name, status, expected, closed))
    ordinary("oversized heads")

    # 4. A client that never reads (left open; the caller watches hxhost).
    s = connect()
    s.sendall(("GET http://%s:%d/big HTTP/1.1\r\nHost: x\r\n\r\n"
               % (allow_host, origin_port)).encode())
    time.sleep(client_timeout + 1)
    ordinary("a client that never reads")
    now = None
    for _ in range(100):
        now = process_counts(pid)
        if now[0] <= idle_threads and now[1] <= idle_fds:
            break
        time.sleep(0.1)
    print("hostile: hxhost threads %d -> %d, descriptors %d -> %d, RSS %d kB -> %d kB, "
          "a non-reader still connected" % (idle_threads, now[0], idle_fds, now[1], rss_before, now[2]))
    if now[0] > idle_threads or now[1] > idle_fds:
        faults.append("hxhost holds threads or descriptors for the client that never reads")
    if now[2] > rss_before + 64 * 1024:
        faults.append("hxhost's memory grew by %d kB" % (now[2] - rss_before))
    s.close()
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


def _send_quietly(sock, data):
    try:
        sock.settimeout(10)
        sock.sendall(data)
    except OSError:
        pass  # the proxy stopped reading, as it should


def main(argv):
    if len(argv) == 4 and argv[1] == "origin":
        serve_origin(argv[2], argv[3])
        return 0
    if len(argv) == 12 and argv[1] == "clients":
        return run_clients(int(argv[2]), int(argv[3]), int(argv[4]), int(argv[5]), argv[6],
                           argv[7], argv[8], argv[9], argv[10], argv[11])
    if len(argv) == 8 and argv[1] == "hostile":
        return run_hostile(int(argv[2]), int(argv[3]), argv[4], int(argv[5]), int(argv[6]),
                           int(argv[7]))
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
