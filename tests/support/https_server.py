#!/usr/bin/env python3
# HTTPS on loopback for the site-icon tests. Usage: https_server.py DIR CERT KEY. Makes CERT and KEY
# (self-signed, its own CA, for the test names) when missing; answers each path, its query left out,
# from the file DIR/<hex of the path> whose first line is "status delay-ms location"; appends each
# request's head, ended by a NUL, to DIR/heads before answering; prints its port.
import http.server, os, ssl, subprocess, sys, threading, time

root, cert, key = sys.argv[1:4]
if not os.path.exists(cert):
    names = "DNS:site.test,DNS:other.test,DNS:a.test,DNS:www.a.test,DNS:sneaky.test,IP:127.0.0.1"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-days", "1", "-subj", "/CN=site.test",
                    "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "subjectAltName=" + names,
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        with lock, open(os.path.join(root, "heads"), "ab") as log:
            log.write(f"{self.requestline}\r\n{self.headers}\0".encode())
        try:
            with open(os.path.join(root, self.path.split("?")[0].encode().hex()), "rb") as f:
                status, delay, location = f.readline().decode().rstrip("\n").split(" ", 2)
                body = f.read()
        except OSError:
            status, delay, location, body = "404", "0", "", b"not found"
        time.sleep(int(delay) / 1000)
        self.send_response(int(status))
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
# The handshake runs on the request's own thread, so a client that stalls in it holds up no other.
server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
print("port", server.server_address[1], flush=True)
sys.stderr = open(os.devnull, "w")  # clients that give up early leave broken pipes behind
server.serve_forever()
