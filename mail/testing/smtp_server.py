#!/usr/bin/env python3
"""A real SMTP server (aiosmtpd) for the alert mail tests.

Listens on 127.0.0.1 (port 0: a free one) and prints "ready PORT" on
standard output once it accepts connections. Every message it takes is
written whole (envelope sender, recipients, then the data as received) to
DIR/NNNNNN.eml, atomically, with its body decoded by Python's own MIME
parser in NNNNNN.body and its headers in NNNNNN.headers (one "Name: value"
a line), written before the .eml. The behaviour file, read at each RCPT, says how
to answer recipients: "ok" (or no file), "tempfail N" (451 for the next N
recipients, then ok), "reject" (550 for every recipient). Runs until its
it is killed.
"""
import argparse
import asyncio
import email
import email.policy
import os

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, folder, behaviour):
        self.folder = folder
        self.behaviour = behaviour
        self.count = 0

    def _mode(self):
        try:
            with open(self.behaviour) as f:
                return f.read().split()
        except (OSError, TypeError):
            return ["ok"]

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        mode = self._mode()
        if mode and mode[0] == "reject":
            return "550 5.1.1 no such user here"
        if mode and mode[0] == "tempfail" and int(mode[1]) > 0:
            with open(self.behaviour + ".tmp", "w") as f:
                f.write("tempfail %d\n" % (int(mode[1]) - 1))
            os.replace(self.behaviour + ".tmp", self.behaviour)
            return "451 4.3.0 try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = os.path.join(self.folder, "%06d.eml" % self.count)
        while os.path.exists(name):
            self.count += 1
            name = os.path.join(self.folder, "%06d.eml" % self.count)
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        head = ("X-Envelope-From: %s\r\nX-Envelope-To: %s\r\n" %
                (envelope.mail_from, ",".join(envelope.rcpt_tos))).encode()
        parsed = email.message_from_bytes(data, policy=email.policy.compat32)
        stem = name[:-4]
        with open(stem + ".body", "wb") as f:
            f.write(parsed.get_payload(decode=True) or b"")
        with open(stem + ".headers", "w", encoding="utf-8", errors="surrogateescape") as f:
            for key, value in parsed.items():
                f.write("%s: %s\n" % (key, value))
        with open(name + ".tmp", "wb") as f:
            f.write(head + data)
        os.replace(name + ".tmp", name)
        return "250 2.0.0 accepted"


async def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--behaviour")
    args = parser.parse_args()
    handler = Handler(args.dir, args.behaviour)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(handler, decode_data=False, enable_SMTPUTF8=True, hostname="testmx"),
        "127.0.0.1", args.port)
    print("ready %d" % server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main())
