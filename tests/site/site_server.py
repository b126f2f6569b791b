#!/usr/bin/env python3
"""The maker's web site for the tests: a loopback HTTP server that serves a
folder the tests fill, with faults they program per file.

A file FILE may have a sidecar FILE.fault, one directive a line:
    status N      answer with status N and a small error page
    truncate N    announce the whole length, send N bytes, drop the connection
    length N      announce a Content-Length of N whatever the body is
    close         send no Content-Length: the body ends when the connection closes
    delay S       wait S seconds (a fraction is fine) before answering
    stall head    read the request and never answer
    stall body N  send the headers and N bytes of the body, then nothing more
    trickle N     send the body N bytes at a time, every 100 ms
    chunked       send the body in chunks of 4096 bytes and the last (empty) chunk
    chunked cut N send the chunks up to byte N, where a chunk is only half sent,
                  then drop the connection
    chunked nolast
                  send every chunk but not the last (empty) one, then drop the
                  connection
    reset N       send N bytes of the body, then reset the connection (RST)
    redirect N URL
                  answer with status N (301, 302, 307, 308) and Location URL
A stalled connection is closed by the server once the client has gone, or
after a minute at most.
A missing file answers 404.
Every request path is appended to the request log, one a line, and the path
with its headers ("\tName: value" each) to the log's name + ".headers". The
log's name + ".open" says when each answer began and ended: "+PATH" and
"-PATH", in the order they did.
The server also answers as an HTTP proxy (absolute request targets), so that a
program built for the real site can be pointed at it through the proxy settings.
As a proxy it also answers CONNECT, whatever the host asked for, with a tunnel
to one of the HTTPS servers that `scripts/harness tls-start` runs (listed in
the --tls-ports file): the one named in the file .tunnel at the site root,
"valid" without it. The name "stall" answers the CONNECT and then sends
nothing, so that the TLS handshake never ends.
"""
import argparse
import http.server
import os
import socket
import sys
import threading
import time
import select
import struct
import urllib.parse

# A file at the site root that names the HTTPS server CONNECT tunnels to.
TUNNEL_FILE = ".tunnel"

# The longest a stalled connection stays open.
STALL_SECONDS = 60
TRICKLE_INTERVAL = 0.1
CHUNK_SIZE = 4096
RESET_AFTER = 0.2


def read_faults(path):
    faults = {}
    try:
        with open(path + ".fault", encoding="utf-8") as f:
            for line in f:
                words = line.split()
                if words:
                    faults[words[0]] = " ".join(words[1:])
    except FileNotFoundError:
        pass
    return faults


class SiteHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: without this, Nagle's
    # algorithm and the client's delayed ACK hold every small answer 40 ms.
    disable_nagle_algorithm = True
    root = "."
    log_path = None
    tls_ports_path = None
    log_lock = threading.Lock()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def stay_silent(self):
        """Says nothing until the client goes away or the stall ends, then drops
        the connection."""
        self.wfile.flush()
        deadline = time.monotonic() + STALL_SECONDS
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            readable, _, _ = select.select([self.connection], [], [], left)
            if readable:
                try:
                    if not self.connection.recv(65536):
                        break
                except OSError:
                    break
        self.drop_connection()

    def drop_connection(self):
        # close() alone leaves the socket open while the handler's file
        # objects hold it.
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.close_connection = True

    def reset_connection(self):
        """Drops the connection with a reset instead of an orderly close."""
        try:
            self.wfile.flush()
            # Time for the client to take in what was sent: a reset throws
            # away what its side has not read yet.
            time.sleep(RESET_AFTER)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        except OSError:
            pass
        self.close_connection = True

    def send_chunked(self, body, how):
        """The body in chunks; how is "" for all of it with the last chunk,
        "cut N" or "nolast" (see the module's help)."""
        words = how.split()
        cut = int(words[1]) if words[:1] == ["cut"] else None
        sent = 0
        while sent < len(body):
            chunk = body[sent:sent + CHUNK_SIZE]
            if cut is not None and sent + len(chunk) > cut:
                # The chunk is announced whole, and only its start goes out.
                self.wfile.write(b"%x\r\n" % len(chunk) + chunk[:cut - sent])
                self.drop_connection()
                return
            self.wfile.write(b"%x\r\n" % len(chunk) + chunk + b"\r\n")
            sent += len(chunk)
        if words[:1] == ["nolast"]:
            self.drop_connection()
            return
        self.wfile.write(b"0\r\n\r\n")

    def do_CONNECT(self):
        try:
            with open(os.path.join(self.root, TUNNEL_FILE), encoding="utf-8") as f:
                route = f.read().strip() or "valid"
        except FileNotFoundError:
            route = "valid"
        if route == "stall":
            self.send_response(200, "Connection established")
            self.end_headers()
            self.stay_silent()
            return
        ports = {}
        try:
            with open(self.tls_ports_path or "", encoding="utf-8") as f:
                ports = dict(line.split() for line in f if line.strip())
        except (FileNotFoundError, ValueError):
            pass
        if route not in ports:
            self.send_error(502, "no HTTPS server %s (scripts/harness tls-start)" % route)
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", int(ports[route])))
        except OSError:
            self.send_error(502)
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        with upstream:
            sockets = [self.connection, upstream]
            while True:
                readable, _, _ = select.select(sockets, [], [], STALL_SECONDS)
                if not readable:
                    break
                try:
                    done = False
                    for source in readable:
                        data = source.recv(1 << 16)
                        if not data:
                            done = True
                            break
                        (upstream if source is self.connection else self.connection).sendall(data)
                    if done:
                        break
                except OSError:
                    break

    def note_answer(self, change):
        if not self.log_path:
            return
        with self.log_lock, open(self.log_path + ".open", "ab") as log:
            log.write((b"+" if change > 0 else b"-") + self.path.encode("latin-1", "replace") + b"\n")

    def do_GET(self):
        self.note_answer(1)
        try:
            self.answer_get()
        finally:
            self.note_answer(-1)

    def answer_get(self):
        # The installer sends the URL byte for byte: keep those bytes.
        raw_path = self.path.split("?", 1)[0]
        if "://" in raw_path:
            # Asked as a proxy: the installer's own site host is in the target.
            raw_path = "/" + raw_path.split("://", 1)[1].partition("/")[2]
        # The request line arrives decoded as Latin-1: these are its bytes.
        raw_bytes = raw_path.encode("latin-1", "replace")
        if self.log_path:
            headers = "".join("\t%s: %s" % item for item in self.headers.items())
            with self.log_lock, open(self.log_path, "ab") as log, open(self.log_path + ".headers", "ab") as heads:
                log.write(raw_bytes + b"\n")
                heads.write(raw_bytes + headers.encode("latin-1", "replace") + b"\n")
        # The tests name their files through Windows' ANSI code page 1251, and
        # the installer sends an entry's bytes in that same code page.
        relative = urllib.parse.unquote_to_bytes(raw_bytes).lstrip(b"/").decode("cp1251", "replace")
        path = os.path.join(self.root, relative)
        faults = read_faults(path)

        if "delay" in faults:
            time.sleep(float(faults["delay"]))
        stall = faults.get("stall", "").split()
        if stall[:1] == ["head"]:
            self.stay_silent()
            return
        redirect = faults.get("redirect", "").split()
        if len(redirect) == 2:
            self.send_response(int(redirect[0]))
            self.send_header("Location", redirect[1])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if "status" in faults:
            status = int(faults["status"])
            body = b"<html><body>error %d</body></html>" % status
            self.send_response(status)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        if "truncate" in faults:
            size = int(faults["truncate"])
        if stall[:1] == ["body"]:
            size = min(size, int(stall[1]))
        piece = int(faults["trickle"]) if "trickle" in faults else 1 << 20

        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if "chunked" in faults:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            with open(path, "rb") as f:
                self.send_chunked(f.read(), faults["chunked"])
            return
        if "reset" in faults:
            size = int(faults["reset"])
        if "close" in faults:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", faults.get("length", str(os.path.getsize(path))))
        self.end_headers()
        with open(path, "rb") as f:
            # Streamed, so that a large file costs no memory here.
            left = size
            while left > 0:
                chunk = f.read(min(left, piece))
                if not chunk:
                    break
                self.wfile.write(chunk)
                left -= len(chunk)
                if "trickle" in faults and left > 0:
                    self.wfile.flush()
                    time.sleep(TRICKLE_INTERVAL)
        if "reset" in faults:
            self.reset_connection()
        elif stall[:1] == ["body"]:
            self.stay_silent()
        elif "truncate" in faults or "length" in faults or "close" in faults:
            self.drop_connection()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="where to write the port once listening")
    parser.add_argument("--log", help="request log")
    parser.add_argument("--tls-ports", help="the HTTPS servers that CONNECT tunnels to, \"NAME PORT\" lines")
    args = parser.parse_args()

    SiteHandler.root = os.path.abspath(args.root)
    SiteHandler.log_path = args.log
    SiteHandler.tls_ports_path = args.tls_ports
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), SiteHandler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(port))
        os.replace(tmp, args.port_file)
    print("serving", SiteHandler.root, "on port", port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
