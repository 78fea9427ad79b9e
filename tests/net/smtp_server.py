"""A real SMTP server (aiosmtpd) on 127.0.0.1 for the feedback mail tests.

It listens on a free port and writes the port to --port-file once it is ready.
AUTH LOGIN succeeds only with --user and --password. With --cert and --key it
offers STARTTLS and refuses AUTH before it; it lists STARTTLS among its EHLO lines as
aiosmtpd does, or with --starttls-last on the reply's last line as other servers do.
Each mail it takes goes into the folder
--out as N.eml (the content as stored) and N.meta (key=value lines).
"""
import argparse
import asyncio
import logging
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, out):
        self.out = out
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        stem = os.path.join(self.out, str(self.count))
        self.count += 1
        with open(stem + ".eml", "wb") as f:
            f.write(envelope.original_content)
        meta = ["mail_from=" + envelope.mail_from, "ehlo=" + str(session.host_name),
                "tls=" + ("1" if session.ssl is not None else "0"),
                "authenticated=" + ("1" if session.authenticated else "0")]
        meta += ["rcpt=" + r for r in envelope.rcpt_tos]
        with open(stem + ".meta.tmp", "w", encoding="utf-8") as f:
            f.write("\n".join(meta) + "\n")
        os.rename(stem + ".meta.tmp", stem + ".meta")
        return "250 2.0.0 Ok: queued"


class StartTlsLast(Recorder):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        keywords = [r[4:] for r in responses]
        if "STARTTLS" in keywords:
            keywords.remove("STARTTLS")
            keywords.append("STARTTLS")
        return ["250-" + k for k in keywords[:-1]] + ["250 " + keywords[-1]]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls-last", action="store_true")
    args = parser.parse_args()
    # aiosmtpd warns about its own use of a deprecated field on every login.
    logging.getLogger("mail.log").setLevel(logging.ERROR)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (mechanism == "LOGIN" and isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False)

    tls = None
    if args.cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.cert, args.key)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = (StartTlsLast if args.starttls_last else Recorder)(args.out)

    def factory():
        return SMTP(handler, hostname="test.local", tls_context=tls,
                    require_starttls=tls is not None, auth_require_tls=tls is not None,
                    authenticator=authenticator, loop=loop)

    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0))
    port = server.sockets[0].getsockname()[1]
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.rename(args.port_file + ".tmp", args.port_file)

    # A test that crashed or was stopped by its time-out must not leave us behind.
    parent = os.getppid()

    def watch_parent():
        if os.getppid() != parent:
            loop.stop()
        else:
            loop.call_later(0.5, watch_parent)

    loop.call_later(0.5, watch_parent)
    loop.run_forever()


if __name__ == "__main__":
    main()
