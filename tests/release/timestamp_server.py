#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp server for the signing test: openssl ts answers each request;
this only carries it over HTTP (nothing in Debian serves openssl ts over HTTP on its own). Prints its
port and answers each request until it is ended.
    tests/release/timestamp_server.py TSA_CERT.pem TSA_KEY.pem FOLDER"""
import http.server
import os
import subprocess
import sys

CONFIG = """[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {folder}/serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.0.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def main():
    certificate, key, folder = sys.argv[1:4]
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(folder=folder))
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("01\n")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query, reply = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            result = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                                     "-signer", certificate, "-inkey", key, "-out", reply],
                                    capture_output=True)
            if result.returncode != 0:
                self.send_error(500, result.stderr.decode(errors="replace")[-200:])
                return
            with open(reply, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
