#!/usr/bin/python3
"""A quiet local SMTP server for timing mail delivery.

Accepts every mail and prints nothing per mail: it only notes the CLOCK_MONOTONIC time (ns) at
which each one was accepted, the clock bench_inprocess and measure.py stamp with too. Prints
"listening <port>" once bound; on SIGTERM prints "accepted <ns>" per mail and exits.
--save-first PATH keeps the first mail's bytes (as received) so another client can send them.
"""

import argparse
import asyncio
import signal
import time

from aiosmtpd.smtp import SMTP


class Stamp:
    def __init__(self, save_first):
        self.save_first = save_first
        self.accepted = []

    async def handle_DATA(self, server, session, envelope):
        self.accepted.append(time.monotonic_ns())
        if self.save_first and len(self.accepted) == 1:
            with open(self.save_first, "wb") as out:
                out.write(envelope.original_content)
        return "250 2.0.0 Ok"


async def serve(port, save_first):
    loop = asyncio.get_running_loop()
    stamp = Stamp(save_first)
    # A fixed host name: the default one asks DNS, which is absent here.
    server = await loop.create_server(
        lambda: SMTP(stamp, hostname="bench-sink", ident="bench-sink"), "127.0.0.1", port)
    print(f"listening {server.sockets[0].getsockname()[1]}", flush=True)
    stop = asyncio.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(number, stop.set)
    await stop.wait()
    server.close()
    print("".join(f"accepted {ns}\n" for ns in stamp.accepted), end="", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--save-first")
    args = parser.parse_args()
    asyncio.run(serve(args.port, args.save_first))


if __name__ == "__main__":
    main()
