"""A small web server for the update-check tests: serves a folder on a free loopback port (printed on
the first line), optionally over TLS, optionally slowly, and stops by itself after --lifetime seconds."""
import argparse
import http.server
import os
import ssl
import sys
import threading
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second for files, 0 = unthrottled")
    parser.add_argument("--lifetime", type=int, default=120)
    args = parser.parse_args()

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=args.root, **kw)

        def log_message(self, *a):
            pass

        def copyfile(self, source, outputfile):
            if not args.rate:
                return super().copyfile(source, outputfile)
            chunk = max(1, args.rate // 10)
            while True:
                data = source.read(chunk)
                if not data:
                    return
                outputfile.write(data)
                outputfile.flush()
                time.sleep(0.1)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    sys.exit(0)


if __name__ == "__main__":
    main()
