"""A private FTP server for the transfer tests: loopback only, a free port printed on the first line,
gone after --lifetime seconds even when nobody stops it."""
import argparse
import logging
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--user", required=True)
parser.add_argument("--password-file", required=True)
parser.add_argument("--anonymous", action="store_true")
parser.add_argument("--rate", type=int, default=0, help="bytes per second, 0 for no limit")
parser.add_argument("--lifetime", type=float, default=120)
args = parser.parse_args()

logging.basicConfig(level=logging.ERROR)
with open(args.password_file, encoding="utf-8") as f:
    password = f.read()

authorizer = DummyAuthorizer()
authorizer.add_user(args.user, password, args.root, perm="elradfmwMT")
if args.anonymous:
    authorizer.add_anonymous(args.root, perm="elradfmwMT")

handler = FTPHandler
handler.authorizer = authorizer
handler.banner = "quorvit test server"
if args.rate:
    dtp = ThrottledDTPHandler
    dtp.read_limit = args.rate
    dtp.write_limit = args.rate
    handler.dtp_handler = dtp

server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
deadline = time.monotonic() + args.lifetime
while time.monotonic() < deadline:
    server.serve_forever(timeout=0.2, blocking=False)
server.close_all()
sys.exit(0)
