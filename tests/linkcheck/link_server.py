"""Loopback HTTP(S) server answering the link checker's test paths.

Prints "HTTP_PORT HTTPS_PORT REFUSED_PORT" on one line once listening, and exits by itself after
--lifetime seconds or as soon as its standard input closes (the test that started it is gone).
"""
import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

lock = threading.Lock()
running = {}
stats = {"maxPerHost": 0, "maxTotal": 0, "requests": []}
ports = {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.serve("HEAD")

    def do_GET(self):
        self.serve("GET")

    def serve(self, method):
        host = self.server.server_address[0]
        url = urlsplit(self.path)
        with lock:
            running[host] = running.get(host, 0) + 1
            stats["maxPerHost"] = max(stats["maxPerHost"], running[host])
            stats["maxTotal"] = max(stats["maxTotal"], sum(running.values()))
            if url.path != "/stats":
                stats["requests"].append([method, url.path, self.headers.get("Range") or ""])
        try:
            self.answer(method, url.path, parse_qs(url.query))
        finally:
            with lock:
                running[host] -= 1

    def reply(self, method, code, headers=(), body=b""):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if method == "GET":
            self.wfile.write(body)

    def answer(self, method, path, query):
        tls = isinstance(self.connection, ssl.SSLSocket)
        here = ("https://" if tls else "http://") + self.headers.get("Host", "127.0.0.1")
        if path == "/ok":
            self.reply(method, 200, body=b"ok")
        elif path == "/slow" or path.startswith("/slow/"):
            time.sleep(int(query.get("ms", ["50"])[0]) / 1000.0)
            self.reply(method, 200, body=b"ok")
        elif path == "/hang":
            time.sleep(3600)
        elif path == "/moved-abs":
            self.reply(method, 301, [("Location", here + "/ok")])
        elif path == "/moved-rel":
            self.reply(method, 301, [("Location", "/ok?from=rel")])
        elif path == "/moved-down":
            self.reply(method, 301, [("Location", "http://127.0.0.1:%d/ok" % ports["http"])])
        elif path == "/moved-js":
            self.reply(method, 301, [("Location", "javascript:alert(1)")])
        elif path == "/moved-nowhere":
            self.reply(method, 301)
        elif path == "/found":
            self.reply(method, 302, [("Location", "/ok")])
        elif path == "/forbidden":
            self.reply(method, 403)
        elif path == "/missing":
            self.reply(method, 404)
        elif path == "/error":
            self.reply(method, 500)
        elif path in ("/nohead405", "/nohead501", "/nohead400-gone"):
            if method == "HEAD":
                self.reply(method, int(path[7:10]))
            elif path == "/nohead400-gone":
                self.reply(method, 404)
            elif path == "/nohead405":
                self.reply(method, 206, [("Content-Range", "bytes 0-0/100")], b"x")
            else:
                # Ignores the range and sends a large body: the checker must stop after the head.
                self.reply(method, 200, body=b"x" * (8 << 20))
        elif path == "/stats":
            with lock:
                body = json.dumps(stats).encode()
            self.reply(method, 200, [("Content-Type", "application/json")], body)
        else:
            self.reply(method, 404)


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--hosts", default="127.0.0.1")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()

    ThreadingHTTPServer.daemon_threads = True
    # A client that hangs up early (a checker stopping after the head) is no error worth printing.
    ThreadingHTTPServer.handle_error = lambda self, request, address: None
    ThreadingHTTPServer.request_queue_size = 128
    hosts = args.hosts.split(",")
    first = ThreadingHTTPServer((hosts[0], 0), Handler)
    ports["http"] = first.server_address[1]
    serve(first)
    for host in hosts[1:]:
        serve(ThreadingHTTPServer((host, ports["http"]), Handler))
    ports["https"] = 0
    if args.cert:
        secure = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        secure.socket = context.wrap_socket(secure.socket, server_side=True)
        ports["https"] = secure.server_address[1]
        serve(secure)
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    refused = probe.getsockname()[1]
    probe.close()
    print(ports["http"], ports["https"], refused, flush=True)

    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
