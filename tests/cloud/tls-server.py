#!/usr/bin/env python3
"""Runs a test against an HTTPS server on 127.0.0.1 whose certificate a CA made here signs.
  tls-server.py SCRATCH_PARENT -- COMMAND...
COMMAND finds the server in LESSA_TLS_URL, one whose certificate names another address in
LESSA_TLS_MISNAMED_URL, and the CA certificate (PEM) in LESSA_TLS_CA; every POST is answered
with {"code": 0, "path": the request's path}. Exits with COMMAND's status."""
import atexit, http.server, json, os, shutil, signal, ssl, subprocess, sys, tempfile, threading

if len(sys.argv) < 4 or sys.argv[2] != '--':
    sys.exit(__doc__)
os.makedirs(sys.argv[1], exist_ok=True)
scratch = tempfile.mkdtemp(prefix='tls-', dir=sys.argv[1])
# The CA's key goes with the run, however it ends (CTest's time-out sends SIGTERM).
atexit.register(shutil.rmtree, scratch, True)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))


def openssl(*args):
    subprocess.run(('openssl',) + args, cwd=scratch, check=True, capture_output=True)


# RSA, which every TLS stack here (OpenSSL, Wine's Schannel over GnuTLS) takes.
openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj', '/CN=Lessa test CA',
        '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign',
        '-keyout', 'ca.key', '-out', 'ca.pem')
# Two leaves: one for the address the client dials, one naming another address only. Both
# servers listen on 127.0.0.1, so no name has to resolve (a bare root has no /etc/hosts).
for leaf, address in (('server', '127.0.0.1'), ('misnamed', '127.0.0.2')):
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=' + address, '-keyout',
            leaf + '.key', '-out', leaf + '.csr')
    with open(os.path.join(scratch, leaf + '.ext'), 'w') as ext:
        ext.write('subjectAltName=IP:%s\nextendedKeyUsage=serverAuth\n'
                  'basicConstraints=CA:FALSE\n' % address)
    openssl('x509', '-req', '-in', leaf + '.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key',
            '-CAcreateserial', '-days', '2', '-extfile', leaf + '.ext', '-out', leaf + '.pem')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'  # keep-alive, as the real service

    def do_POST(self):
        self.rfile.read(int(self.headers.get('Content-Length', 0)))
        body = json.dumps({'code': 0, 'path': self.path}).encode()
        self.send_response(200)
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve(leaf):
    """An HTTPS server on 127.0.0.1 with LEAF's certificate; returns its URL."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    # The server sends its CA along, as servers send their intermediates: Wine's chain engine
    # does not find an issuer in the client's own additional store, only in what the server sent.
    chain = os.path.join(scratch, leaf + '-chain.pem')
    with open(chain, 'w') as out:
        for name in (leaf + '.pem', 'ca.pem'):
            out.write(open(os.path.join(scratch, name)).read())
    context.load_cert_chain(chain, os.path.join(scratch, leaf + '.key'))
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
    # Handshakes happen in each connection's thread, so a client that refuses one blocks nobody.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    server.handle_error = lambda request, address: None  # a refused handshake is the point
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return 'https://127.0.0.1:%d' % server.server_address[1]


environment = dict(os.environ, LESSA_TLS_URL=serve('server'),
                   LESSA_TLS_MISNAMED_URL=serve('misnamed'),
                   LESSA_TLS_CA=open(os.path.join(scratch, 'ca.pem')).read())
sys.exit(subprocess.run(sys.argv[3:], env=environment).returncode)
