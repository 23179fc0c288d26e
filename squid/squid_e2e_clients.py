#!/usr/bin/env python3
"""Concurrent clients of squid/squid_e2e.sh.

  squid_e2e_clients.py PROXY_PORT ORIGIN_PORT REQUESTS CONCURRENCY LOG_FILE
                       BLOCK_PREFIX ALLOW_HOST ALERT_HOST DENY_HOST [UNTIL_FILE]

Sends REQUESTS GET requests through Squid, CONCURRENCY at once (each on a
connection of its own), in turn to the allowed, alerted and denied host,
each to a path of its own. With UNTIL_FILE it goes on past REQUESTS until
that file exists, so that reloads happen under load. Then checks that none
was lost: every allowed and alerted request got the origin's body for its
own path, every denied one a 302 to the block page naming its own URL, and
the helper's access log (LOG_FILE, or several files separated by ":" when
it was rotated; emptied before the run) has one line per alerted request.
Exits 1 on any fault.
"""
import concurrent.futures
import http.client
import os
import sys
import time
import urllib.parse

TIMEOUT = 60


def one(proxy_port, url):
    conn = http.client.HTTPConnection("127.0.0.1", proxy_port, timeout=TIMEOUT)
    try:
        conn.request("GET", url, headers={"Connection": "close"})
        response = conn.getresponse()
        return response.status, response.getheader("Location") or "", response.read()
    except (OSError, http.client.HTTPException) as error:
        return None, "", repr(error).encode()
    finally:
        conn.close()


def main(argv):
    if len(argv) not in (10, 11):
        sys.stderr.write(__doc__)
        return 2
    proxy_port, origin_port, requests, concurrency = (int(a) for a in argv[1:5])
    log_file, block_prefix = argv[5], argv[6]
    hosts = {"allowed": argv[7], "alerted": argv[8], "denied": argv[9]}
    until_file = argv[10] if len(argv) == 11 else None
    kinds = ("allowed", "alerted", "denied")

    def more(i):
        if i >= 200000:
            return False
        return i < requests or (until_file is not None and not os.path.exists(until_file))

    faults = []
    plan = []
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=concurrency) as pool:
        pending = {}
        i = 0
        while more(i) or pending:
            while more(i) and len(pending) < concurrency:
                kind = kinds[i % 3]
                path = "/squid/%s/%d" % (kind, i)
                url = "http://%s:%d%s" % (hosts[kind], origin_port, path)
                plan.append(kind)
                pending[pool.submit(one, proxy_port, url)] = (kind, path, url)
                i += 1
            done, _ = concurrent.futures.wait(
                pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in done:
                kind, path, url = pending.pop(future)
                status, location, body = future.result()
                if status is None:
                    faults.append("%s %s: no answer: %s" % (kind, path, body.decode()))
                elif kind == "denied":
                    want = block_prefix + urllib.parse.quote(url, safe="-._~")
                    if status != 302 or not location.startswith(want):
                        faults.append("denied %s: status %s, Location %r (want %r...)"
                                      % (path, status, location, want))
                elif status != 200 or body != ("origin %s\n" % path).encode():
                    faults.append("%s %s: status %s, body %r" % (kind, path, status, body[:120]))
    elapsed = time.monotonic() - started

    alerted = plan.count("alerted")
    lines = 0
    for name in log_file.split(":"):
        try:
            with open(name, "rb") as f:
                lines += sum(1 for line in f if b"~Pellumin Plugin: Access denied to URL: " in line)
        except FileNotFoundError:
            pass
    # The caller empties the log before the run.
    if lines != alerted:
        faults.append("the helper's access log has %d lines, want %d" % (lines, alerted))
    print("squid: %d requests (%d allowed, %d alerted, %d denied), %d at once, in %.2f s"
          % (len(plan), plan.count("allowed"), alerted, plan.count("denied"), concurrency,
             elapsed))
    for fault in faults[:20]:
        print("FAULT: " + fault)
    if len(faults) > 20:
        print("FAULT: ... and %d more" % (len(faults) - 20))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
