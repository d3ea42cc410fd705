#!/usr/bin/env python3
"""An RFC 3161 time-stamping server on 127.0.0.1 for the package test: each
request is answered by `openssl ts -reply`, signed with the given TSA
certificate. Prints its port, then serves until it is ended.
    tsa_server.py TSA_CERT TSA_KEY CHAIN WORK_DIR"""
import http.server
import os
import subprocess
import sys

cert, key, chain, work = sys.argv[1:5]
config = os.path.join(work, "tsa.cnf")
with open(config, "w") as f:
    f.write("[ tsa ]\ndefault_tsa = norza\n[ norza ]\n"
            f"serial = {os.path.join(work, 'tsa.serial')}\ncrypto_device = builtin\n"
            "signer_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\n"
            "digests = sha1, sha256, sha384, sha512\naccuracy = secs:1\n"
            "ess_cert_id_alg = sha256\n")
with open(os.path.join(work, "tsa.serial"), "w") as f:
    f.write("01\n")


class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = os.path.join(work, "query.tsq")
        reply = os.path.join(work, "reply.tsr")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query, "-signer", cert,
                               "-inkey", key, "-chain", chain, "-out", reply], capture_output=True)
        body = open(reply, "rb").read() if made.returncode == 0 else b""
        self.send_response(200 if body else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
print(server.server_address[1], flush=True)
server.serve_forever()
