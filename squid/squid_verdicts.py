#!/usr/bin/env python3
"""Verdicts of a Squid with the filter, for squid/squid_modes_e2e.sh.

  squid_verdicts.py PROXY_PORT URL_FILE CONCURRENCY OUT_FILE

Sends a GET for each URL of URL_FILE (one per line, sent as the request
target exactly as written) through the Squid on 127.0.0.1:PROXY_PORT,
CONCURRENCY at once, each on a connection of its own, and writes
"URL<TAB>VERDICT" lines to OUT_FILE in the order of URL_FILE. VERDICT is
"denied" for a 302 to the block page (rewrite mode) or Squid's 403 page
with the filter's message (external ACL mode), "passed" for the origin's
own answer, and "fault ..." for anything else (no answer included). Exits 1
when any request has no clear verdict.
"""
import concurrent.futures
import socket
import sys

TIMEOUT = 60


def fetch(proxy_port, url):
    host = url.split("/")[2]
    request = ("GET %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % (url, host)).encode(
        "latin-1")
    try:
        with socket.create_connection(("127.0.0.1", proxy_port), timeout=TIMEOUT) as sock:
            sock.sendall(request)
            data = b""
            while True:
                piece = sock.recv(65536)
                if not piece:
                    break
                data += piece
    except OSError as error:
        return "fault no answer: %r" % error
    head, _, body = data.partition(b"\r\n\r\n")
    status_line = head.split(b"\r\n", 1)[0].decode("latin-1")
    parts = status_line.split(" ")
    status = parts[1] if len(parts) > 1 else ""
    headers = head.decode("latin-1").lower()
    if status == "302" and "\r\nlocation: http://block.test/" in headers:
        return "denied"
    if status == "403" and b"pellumin-denied:" in body:
        return "denied"
    if status == "200" and body.startswith(b"origin /"):
        return "passed"
    return "fault status %r body %r" % (status_line, body[:100])


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    proxy_port, concurrency = int(argv[1]), int(argv[3])
    with open(argv[2], encoding="latin-1") as f:
        urls = [line.rstrip("\n") for line in f if line.strip()]
    with concurrent.futures.ThreadPoolExecutor(max_workers=concurrency) as pool:
        verdicts = list(pool.map(lambda url: fetch(proxy_port, url), urls))
    faults = 0
    with open(argv[4], "w", encoding="latin-1") as out:
        for url, verdict in zip(urls, verdicts):
            out.write("%s\t%s\n" % (url, verdict))
            faults += verdict.startswith("fault")
    print("verdicts: %d requests, %d denied, %d passed, %d without a clear verdict" %
          (len(urls), verdicts.count("denied"), verdicts.count("passed"), faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
