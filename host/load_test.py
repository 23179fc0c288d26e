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


def main(argv):
    if len(argv) == 4 and argv[1] == "origin":
        serve_origin(argv[2], argv[3])
        return 0
    if len(argv) == 12 and argv[1] == "clients":
        return run_clients(int(argv[2]), int(argv[3]), int(argv[4]), int(argv[5]), argv[6],
                           argv[7], argv[8], argv[9], argv[10], argv[11])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
