#!/usr/bin/python3
"""A local SMTP server that keeps what it is sent, for the tests and for trying the program.

Prints "listening <host> <port>" once bound (port 0 picks a free port). Each accepted mail
becomes DIR/mail-<n>.eml (the DATA bytes after dot-unstuffing) and DIR/mail-<n>.env (the
MAIL FROM address, one RCPT address per line, then "ehlo <name>"), and is announced as
"mail <n> from <addr> to <addrs>". --mode makes it fail on purpose:

  normal        accept everything
  greeting554   answer the connection with 554 and close it
  reject-mail   550 to MAIL FROM
  reject-rcpt   550 5.1.1 to RCPT TO
  reject-data   554 to DATA
  hang          accept the connection and never say anything
  drop-in-data  close the connection in the middle of DATA

Stops on SIGTERM or SIGINT.
"""

import argparse
import asyncio
import email
import email.policy
import os
import signal
import sys

from aiosmtpd.smtp import SMTP

MODES = ("normal", "greeting554", "reject-mail", "reject-rcpt", "reject-data", "hang",
         "drop-in-data")


def say(text):
    print(text, flush=True)


def print_readable(raw):
    """Shows a received mail as a person would read it: Subject and body decoded."""
    try:
        message = email.message_from_bytes(raw, policy=email.policy.default)
        for name in ("Date", "From", "To", "Subject", "X-Priority"):
            if message[name] is not None:
                say(f"  {name}: {message[name]}")
        say("  " + message.get_content().replace("\n", "\n  ").rstrip())
    except Exception as error:  # a broken mail is worth seeing, not worth stopping for
        say(f"  (cannot decode: {error})")


class Keeper:
    """aiosmtpd handler that stores each accepted mail."""

    def __init__(self, maildir, mode, readable):
        self.maildir = maildir
        self.mode = mode
        self.readable = readable
        self.count = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.mode == "reject-mail":
            return "550 5.7.1 Sender address rejected"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 2.1.0 Ok"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "reject-rcpt":
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 2.1.5 Ok"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.maildir, f"mail-{self.count}")
        with open(base + ".eml", "wb") as out:
            out.write(envelope.original_content)
        lines = [envelope.mail_from or ""] + list(envelope.rcpt_tos)
        lines.append(f"ehlo {session.host_name or ''}")
        # The .env file appears last and whole: its presence means the mail is complete.
        with open(base + ".env.tmp", "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")
        os.replace(base + ".env.tmp", base + ".env")
        say(f"mail {self.count} from {envelope.mail_from} to {' '.join(envelope.rcpt_tos)}")
        if self.readable:
            print_readable(envelope.original_content)
        return f"250 2.0.0 Ok: queued as {self.count}"


class SinkSmtp(SMTP):
    """aiosmtpd's session with the DATA failures that its handler hooks cannot make."""

    def __init__(self, handler, mode, **kwargs):
        super().__init__(handler, **kwargs)
        self.mode = mode

    async def smtp_DATA(self, arg):
        if self.mode == "reject-data" and self.envelope.rcpt_tos:
            await self.push("554 5.7.0 Transaction failed: message refused")
            return
        if self.mode == "drop-in-data" and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            try:
                await asyncio.wait_for(self._reader.readuntil(b"\r\n"), 5)
            except Exception:
                pass
            self.transport.close()
            # Closing cancels this session soon; until then read no more commands.
            await asyncio.sleep(30)
            return
        await super().smtp_DATA(arg)


async def greet_554(reader, writer):
    writer.write(b"554 5.3.2 Service not available\r\n")
    await writer.drain()
    writer.close()


async def say_nothing(reader, writer):
    while await reader.read(4096):
        pass
    writer.close()


async def serve(args):
    loop = asyncio.get_running_loop()
    if args.mode == "greeting554":
        server = await asyncio.start_server(greet_554, args.host, args.port)
    elif args.mode == "hang":
        server = await asyncio.start_server(say_nothing, args.host, args.port)
    else:
        keeper = Keeper(args.maildir, args.mode, args.print)
        # A fixed host name: the default one asks DNS, which may be slow or absent.
        server = await loop.create_server(
            lambda: SinkSmtp(keeper, args.mode, hostname="zarvik-sink", ident="smtp_sink"),
            args.host, args.port)
    port = server.sockets[0].getsockname()[1]
    stop = asyncio.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(number, stop.set)
    say(f"listening {args.host} {port}")
    await stop.wait()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--maildir", default=".")
    parser.add_argument("--mode", choices=MODES, default="normal")
    parser.add_argument("--print", action="store_true", help="also show each mail decoded")
    args = parser.parse_args()
    os.makedirs(args.maildir, exist_ok=True)
    try:
        asyncio.run(serve(args))
    except OSError as error:
        print(f"smtp_sink: {error}", file=sys.stderr, flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
