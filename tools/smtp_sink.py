#!/usr/bin/python3
"""A local SMTP server that keeps what it is sent, for the tests and for trying the program.

Prints "listening <host> <port>" once bound (port 0 picks a free port). Each accepted mail
becomes DIR/mail-<n>.eml (the DATA bytes after dot-unstuffing) and DIR/mail-<n>.env (the
MAIL FROM address, one RCPT address per line, then "ehlo <name>"), and is announced as
"mail <n> from <addr> to <addrs>". With --tls the .env file goes on with "tls yes" or "tls no",
with --auth with "auth <user>", with --smtputf8 with "smtputf8 yes" or "smtputf8 no" (whether
MAIL FROM asked for it). --mode makes it fail on purpose:

  normal        accept everything
  greeting554   answer the connection with 554 and close it
  reject-mail   550 to MAIL FROM
  defer-mail    451 to MAIL FROM (try again later)
  reject-rcpt   550 5.1.1 to RCPT TO
  reject-data   554 to DATA
  hang          accept the connection and never say anything
  drop-in-data  close the connection in the middle of DATA
  hang-after-data
                take the DATA content and never answer its end (then DIR/held exists)
  drop-in-handshake
                close the connection in the TLS handshake, once the ClientHello is in
                (needs --tls)

--tls with --tls-cert and --tls-key (PEM files): "starttls" offers STARTTLS, "starttls-required"
also refuses everything but EHLO, NOOP and QUIT before it, "implicit" speaks TLS from the first
byte (as on port 465). --auth USER:PASSWORD requires logging in (PLAIN or LOGIN), after STARTTLS
when that is offered; wrong credentials get 535. --smtputf8 offers SMTPUTF8.
--refuse-rcpt ADDRESS=REPLY (repeatable) answers RCPT TO for that address with REPLY, such as
"left@example.com=550 5.1.1 user unknown", and takes the other recipients.

Stops on SIGTERM or SIGINT.
"""

import argparse
import asyncio
import email
import email.policy
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, TLSSetupException

MODES = ("normal", "greeting554", "reject-mail", "defer-mail", "reject-rcpt", "reject-data",
         "hang", "drop-in-data", "hang-after-data", "drop-in-handshake")
TLS_KINDS = ("starttls", "starttls-required", "implicit")
# How long drop-in-handshake waits for the ClientHello before it hangs up anyway.
PEEK_SECONDS = 5

log = logging.getLogger("mail.log")


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

    def __init__(self, maildir, mode, readable, tls=None, auth=None, smtputf8=False,
                 refuse_rcpt=None):
        self.maildir = maildir
        self.mode = mode
        self.readable = readable
        self.tls = tls
        self.auth = auth  # (user, password) as bytes
        self.smtputf8 = smtputf8
        self.refuse_rcpt = refuse_rcpt or {}
        self.count = 0
        # aiosmtpd looks its hooks up by name; without these options its defaults stay.
        if tls:
            self.handle_exception = self.quiet_tls_failure
        if tls and auth is None:
            self.handle_EHLO = self.ehlo_without_auth

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        if self.auth is not None and (auth_data.login, auth_data.password) == self.auth:
            return AuthResult(success=True, auth_data=auth_data)
        return AuthResult(success=False, handled=False)

    async def ehlo_without_auth(self, server, session, envelope, hostname, responses):
        # aiosmtpd offers AUTH after STARTTLS even with nobody to log in as.
        session.host_name = hostname
        return [line for line in responses if not line.startswith("250-AUTH")]

    async def quiet_tls_failure(self, error):
        if isinstance(error, TLSSetupException):
            # A client that rejects the certificate is a normal test case, not a traceback.
            print(f"smtp_sink: TLS handshake failed: {error.__cause__!r}", file=sys.stderr,
                  flush=True)
            return "454 4.7.0 TLS not available"  # not sent: the connection is closed
        log.exception("SMTP session exception")
        return f"500 Error: ({error.__class__.__name__}) {error}"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.mode == "reject-mail":
            return "550 5.7.1 Sender address rejected"
        if self.mode == "defer-mail":
            return "451 4.3.0 Try again later"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 2.1.0 Ok"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "reject-rcpt":
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        if address in self.refuse_rcpt:
            return self.refuse_rcpt[address]
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
        if self.tls is not None:
            encrypted = server.transport.get_extra_info("ssl_object") is not None
            lines.append("tls yes" if encrypted else "tls no")
        if self.auth is not None and session.authenticated:
            user = session.auth_data.login.decode("utf-8", "backslashreplace")
            lines.append("auth " + user.replace("\r", "\\r").replace("\n", "\\n"))
        if self.smtputf8:
            lines.append("smtputf8 yes" if envelope.smtp_utf8 else "smtputf8 no")
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
        if self.mode == "hang-after-data" and self.envelope.rcpt_tos:
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            seen = b"\r\n"
            while not seen.endswith(b"\r\n.\r\n"):
                chunk = await self._reader.read(65536)
                if not chunk:
                    return
                seen = (seen + chunk)[-5:]
            # Marked, so a test knows the mail is held; silent until the client gives up, whose
            # closing cancels this wait.
            open(os.path.join(self.event_handler.maildir, "held"), "a").close()
            await self.loop.create_future()
        await super().smtp_DATA(arg)

    async def smtp_STARTTLS(self, arg):
        if self.mode == "drop-in-handshake" and not arg:
            await self.push("220 Ready to start TLS")
            await peek_and_close(self._reader, self._writer)
            await asyncio.sleep(30)  # as in drop-in-data
            return
        await super().smtp_STARTTLS(arg)


async def greet_554(reader, writer):
    writer.write(b"554 5.3.2 Service not available\r\n")
    await writer.drain()
    writer.close()


async def say_nothing(reader, writer):
    while await reader.read(4096):
        pass
    writer.close()


async def peek_and_close(reader, writer):
    """Waits for the client's first bytes (its TLS ClientHello), then hangs up."""
    try:
        await asyncio.wait_for(reader.read(4096), PEEK_SECONDS)
    except Exception:
        pass
    writer.close()


def tls_context(args):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.tls_cert, args.tls_key)
    return context


async def serve(args):
    loop = asyncio.get_running_loop()
    context = tls_context(args) if args.tls else None
    implicit = context if args.tls == "implicit" else None
    if args.mode == "greeting554":
        server = await asyncio.start_server(greet_554, args.host, args.port, ssl=implicit)
    elif args.mode == "hang":
        server = await asyncio.start_server(say_nothing, args.host, args.port, ssl=implicit)
    elif args.mode == "drop-in-handshake" and implicit:
        server = await asyncio.start_server(peek_and_close, args.host, args.port)
    else:
        auth = None
        if args.auth is not None:
            user, _, password = args.auth.partition(":")
            auth = (user.encode(), password.encode())
        refuse = dict(entry.split("=", 1) for entry in args.refuse_rcpt)
        keeper = Keeper(args.maildir, args.mode, args.print, args.tls, auth, args.smtputf8,
                        refuse)
        options = {}
        starttls = args.tls in ("starttls", "starttls-required")
        if starttls:
            options["tls_context"] = context
            options["require_starttls"] = args.tls == "starttls-required"
        if auth is not None:
            options["auth_required"] = True
            options["authenticator"] = keeper.authenticate
            # aiosmtpd cannot see implicit TLS: told to insist on TLS, it would refuse AUTH.
            options["auth_require_tls"] = starttls
        if args.smtputf8:
            options["enable_SMTPUTF8"] = True
        # A fixed host name: the default one asks DNS, which may be slow or absent.
        server = await loop.create_server(
            lambda: SinkSmtp(keeper, args.mode, hostname="zarvik-sink", ident="smtp_sink",
                             **options),
            args.host, args.port, ssl=implicit)
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
    parser.add_argument("--tls", choices=TLS_KINDS)
    parser.add_argument("--tls-cert", metavar="FILE")
    parser.add_argument("--tls-key", metavar="FILE")
    parser.add_argument("--auth", metavar="USER:PASSWORD")
    parser.add_argument("--smtputf8", action="store_true")
    parser.add_argument("--refuse-rcpt", action="append", default=[], metavar="ADDRESS=REPLY")
    args = parser.parse_args()
    if not (bool(args.tls) == bool(args.tls_cert) == bool(args.tls_key)):
        parser.error("--tls needs both --tls-cert and --tls-key, and they need --tls")
    if args.mode == "drop-in-handshake" and not args.tls:
        parser.error("--mode drop-in-handshake needs --tls")
    if any("=" not in entry for entry in args.refuse_rcpt):
        parser.error("--refuse-rcpt takes ADDRESS=REPLY")
    if args.auth is not None and ":" not in args.auth:
        parser.error("--auth takes USER:PASSWORD")
    # Asked-for set-ups and aiosmtpd's own deprecated calls, not news for each session.
    warnings.filterwarnings("ignore", "Requiring AUTH while not requiring TLS")
    log.addFilter(lambda record: "login_data is deprecated" not in record.getMessage()
                  and "auth_required == True but" not in record.getMessage())
    os.makedirs(args.maildir, exist_ok=True)
    try:
        asyncio.run(serve(args))
    except OSError as error:  # ssl.SSLError too: a bad certificate or key
        print(f"smtp_sink: {error}", file=sys.stderr, flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
