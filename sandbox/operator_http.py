"""The operator's HTTP server: serves files from a directory and logs every
request line (with the query string) to a file, one line per request:
    <unix time> <client address> <method> <path?query> <status>
Run as: python3 operator_http.py ADDRESS PORT DOCROOT LOGFILE [CERTIFICATE]

With CERTIFICATE (a PEM file with the certificate chain and its key) it
speaks TLS; the file is read anew for each connection, so a test can swap
it, and a handshake that fails is logged as
    <unix time> <client address> TLS <name of the certificate file> 0

Special behaviour is chosen per path by files next to the served one:
    NAME.status   a number: answer every request for NAME with that status
    NAME.hang     accept the request for NAME and never answer
    NAME.cut      a number N: the next request for NAME gets the whole
                  length announced but only N bytes, then the connection
                  closes (once: the file is removed)
A POST to NAME appends its body, on one line, to NAME.posted (a webhook).
"""

import http.server
import os
import ssl
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    docroot = "."
    logfile = None

    def log_message(self, fmt, *args):  # quiet stderr; the request log is ours
        pass

    def record(self, status):
        with open(self.logfile, "a") as f:
            f.write("%.3f %s %s %s %d\n" % (time.time(), self.client_address[0], self.command,
                                            self.path, status))

    def local(self):
        path = self.path.split("?", 1)[0]
        local = os.path.normpath(os.path.join(self.docroot, path.lstrip("/")))
        return local if local.startswith(os.path.abspath(self.docroot)) else "/nonexistent"

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with open(self.local() + ".posted", "ab") as f:
            f.write(body.replace(b"\n", b" ") + b"\n")
        self.record(200)
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        local = self.local()
        if os.path.exists(local + ".hang"):
            self.record(0)
            time.sleep(3600)
            return
        status = 200
        if os.path.exists(local + ".status"):
            with open(local + ".status") as f:
                status = int(f.read().strip() or "500")
        if status == 200 and not os.path.isfile(local):
            status = 404
        self.record(status)
        if status != 200:
            body = b"<html><body>error %d</body></html>\n" % status
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        size = os.path.getsize(local)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if os.path.exists(local + ".cut"):
            with open(local + ".cut") as f:
                cut = int(f.read().strip() or "0")
            os.unlink(local + ".cut")
            with open(local, "rb") as f:
                self.wfile.write(f.read(cut))
            self.close_connection = True
            return
        with open(local, "rb") as f:
            while True:
                chunk = f.read(65536)
                if not chunk:
                    break
                self.wfile.write(chunk)


class TlsServer(http.server.ThreadingHTTPServer):
    certificate = None

    def finish_request(self, request, client_address):
        # In the connection's own thread: a slow or failing handshake holds
        # up no other client. A client that refuses the certificate may do
        # so after the handshake (TLS 1.3): it then sends no request.
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.certificate)
        try:
            tls = context.wrap_socket(request, server_side=True)
            try:
                handler = self.RequestHandlerClass(tls, client_address, self)
            finally:
                tls.close()
            asked = bool(getattr(handler, "raw_requestline", b""))
        except OSError:
            asked = False
        if not asked:
            with open(Handler.logfile, "a") as f:
                f.write("%.3f %s TLS %s 0\n" % (time.time(), client_address[0],
                                                os.path.basename(os.path.realpath(self.certificate))))


def main():
    address, port, docroot, logfile = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    Handler.docroot = os.path.abspath(docroot)
    Handler.logfile = logfile
    server_class = http.server.ThreadingHTTPServer
    if len(sys.argv) > 5:
        server_class = TlsServer
        TlsServer.certificate = sys.argv[5]
    server = server_class((address, port), Handler)
    server.daemon_threads = True
    open(logfile, "a").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
