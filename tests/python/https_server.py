"""A stand-in for github.com over HTTPS on the loopback address, for git to
talk to: a throw-away CA and server certificate made with openssl, and a
server that asks for Basic credentials and records every Authorization
header it receives."""
import base64
import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import threading


def basic(user, password):
    """The Authorization header value for Basic credentials."""
    return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


def pkt_line(data):
    return b"%04x" % (len(data) + 4) + data


# An empty repository, as the smart HTTP protocol advertises it.
EMPTY_REPOSITORY = (pkt_line(b"# service=git-upload-pack\n") + b"0000"
                    + pkt_line(b"0" * 40 + b" capabilities^{}\0agent=kestrune-test\n") + b"0000")


def make_certificates(directory):
    """Writes ca.pem, server.pem and server.key for github.com; returns their
    paths."""
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=directory, timeout=60)

    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "1",
            "-subj", "/CN=kestrune test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=github.com")
    with open(os.path.join(directory, "ext.cnf"), "w") as f:
        f.write("subjectAltName=DNS:github.com\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "1", "-extfile", "ext.cnf")
    return [os.path.join(directory, name) for name in ("ca.pem", "server.pem", "server.key")]


class GitHubStandIn:
    """`with GitHubStandIn(test) as server:` serves on 127.0.0.1:server.port
    until the block ends; server.authorizations lists the Authorization
    header of each request (None when absent)."""

    def __init__(self, test):
        if not shutil.which("openssl"):
            test.skipTest("openssl is missing: no certificates for the HTTPS stand-in")
        directory = tempfile.mkdtemp(prefix="kestrune-tls-")
        test.addCleanup(shutil.rmtree, directory)
        self.ca_file, cert, key = make_certificates(directory)
        self.authorizations = []
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), self.handler_class())
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.httpd.timeout = 10
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def handler_class(self):
        stand_in = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                authorization = self.headers.get("Authorization")
                stand_in.authorizations.append(authorization)
                if authorization is None:
                    self.send_response(401)
                    self.send_header("WWW-Authenticate", 'Basic realm="GitHub"')
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/x-git-upload-pack-advertisement")
                self.send_header("Content-Length", str(len(EMPTY_REPOSITORY)))
                self.end_headers()
                self.wfile.write(EMPTY_REPOSITORY)

            def log_message(self, *args):
                pass

        return Handler

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)

