#!/usr/bin/env bash
# Authenticode signing by scripts/sign.sh: a small Windows program and an MSI holding it are
# signed with a throwaway CA and code-signing certificate made here, then verified against that
# CA (and refused against another one); once more with the password in a file and a time stamp
# from a local RFC 3161 server; a wrong password fails and leaves the file as it was; without a
# certificate nothing changes and one line says so. The password never appears in
# osslsigncode's arguments.
#
#   test-signing.sh SCRATCH_PARENT     exit 77 (skipped) when a tool is missing
set -euo pipefail
parent=${1:?usage: test-signing.sh SCRATCH_PARENT}
for tool in osslsigncode openssl i686-w64-mingw32-gcc wixl python3 cmp; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
real_osslsigncode=$(command -v osslsigncode)

mkdir -p "$parent"
scratch=$(mktemp -d "$parent/signing.XXXXXX")
tsa_pid=
cleanup() {
    [[ -z $tsa_pid ]] || kill "$tsa_pid" 2>/dev/null || true
    rm -rf --one-file-system "$scratch"
}
trap cleanup EXIT
cd "$scratch"

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
fails() { ! "$@"; }

# Certificates: a CA, a code-signing certificate and a time-stamping one it issued, and an
# unrelated CA.
cat >ext.cnf <<'EOF'
[req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
quiet() { "$@" >openssl.log 2>&1 || { cat openssl.log >&2; return 1; }; }
make_ca() {
    quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days 2 \
        -subj "/CN=$2" -config ext.cnf -extensions ca
}
issue() {
    quiet openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
        -config ext.cnf
    quiet openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -CAcreateserial \
        -out "$1.crt" -days 2 -extfile ext.cnf -extensions "$3"
}
make_ca ca "Lessa Test CA"
make_ca other-ca "Unrelated Test CA"
issue signer "Lessa Test Signer" codesign
issue tsa "Lessa Test TSA" tsa
password="throwaway $RANDOM$RANDOM"
quiet openssl pkcs12 -export -in signer.crt -inkey signer.key -certfile ca.crt -out signer.pfx \
    -passout fd:3 3<<<"$password"
printf '%s\n' "$password" >password.txt

# A small Windows program and an MSI that installs it.
printf 'int main(void) { return 0; }\n' >hello.c
i686-w64-mingw32-gcc -s -o hello.exe hello.c
cat >hello.wxs <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Lessa signing test" Language="1033" Version="1.0.0" Manufacturer="Lessa"
           UpgradeCode="6f1c1c55-2a5e-4a3c-9d0a-4d7c0f1b9e21">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="LessaSigningTest">
          <Component Id="Main" Guid="*">
            <File Id="HelloExe" Source="hello.exe" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
EOF
wixl -a x86 -o hello.msi hello.wxs

# osslsigncode as sign.sh runs it, through a wrapper that records its arguments.
mkdir bin
cat >bin/osslsigncode <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$scratch/arguments.log"
exec "$real_osslsigncode" "\$@"
EOF
chmod +x bin/osslsigncode
export PATH="$scratch/bin:$PATH"

# lessa_win_sign FILE... in a fresh shell with only the given LESSA_SIGN_* variables.
sign() {
    # shellcheck disable=SC2016 # expanded by the inner shell
    env -u LESSA_SIGN_PFX -u LESSA_SIGN_PASSWORD -u LESSA_SIGN_PASSWORD_FILE \
        -u LESSA_SIGN_TIMESTAMP_URL -u LESSA_SIGN_NOTED "${sign_env[@]}" bash -c '
        set -euo pipefail
        source "$0/scripts/sign.sh"
        for file in "$@"; do lessa_win_sign "$file"; done' "$root" "$@"
}
verify() { # verify FILE CA [more osslsigncode arguments]
    local file=$1 ca=$2
    shift 2
    "$real_osslsigncode" verify -CAfile "$ca" "$@" -in "$file" >"$file.verify" 2>&1
}
verified_sha256() {
    verify "$@" && grep -q 'Message digest algorithm *: SHA256' "$1.verify" &&
        grep -q 'Signature verification: ok' "$1.verify"
}
fresh() { # fresh NAME: unsigned copies NAME.exe and NAME.msi
    cp hello.exe "$1.exe"
    cp hello.msi "$1.msi"
}

echo "== Without a certificate"
fresh unsigned
sign_env=()
output=$(sign unsigned.exe unsigned.msi)
echo "$output"
check "one line says the build is not signed" \
    test "$(grep -c '^Not signed' <<<"$output")" -eq 1 -a "$(wc -l <<<"$output")" -eq 1
check "the program is unchanged" cmp -s hello.exe unsigned.exe
check "the package is unchanged" cmp -s hello.msi unsigned.msi
check "the program carries no signature" fails verify unsigned.exe ca.crt

echo "== With a certificate, the password in the environment"
fresh signed
sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD="$password")
check "signing succeeds" sign signed.exe signed.msi
check "the program's SHA-256 signature verifies against the CA" verified_sha256 signed.exe ca.crt
check "the package's SHA-256 signature verifies against the CA" verified_sha256 signed.msi ca.crt
check "the program's signature does not verify against an unrelated CA" \
    fails verify signed.exe other-ca.crt
check "signing a signed program succeeds" sign signed.exe
check "signing a signed program again leaves one valid signature" verified_sha256 signed.exe ca.crt
check "... and only one" grep -q 'Number of verified signatures: 1' signed.exe.verify
# shellcheck disable=SC2016 # expanded by the inner shell
check "the password leaves the environment of what runs after signing is set up" \
    test -z "$(env LESSA_SIGN_PASSWORD="$password" bash -c \
        'source "$0/scripts/sign.sh"; env | grep LESSA_SIGN_PASSWORD' "$root")"

echo "== With the password in a file and a time stamp"
cat >tsa.cnf <<'EOF'
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = tsaserial
signer_cert = tsa.crt
certs = ca.crt
signer_key = tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
echo 01 >tsaserial
cat >tsa.py <<'EOF'
# A time-stamping authority on 127.0.0.1 answering RFC 3161 queries with openssl ts.
import http.server
import subprocess


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        with open('query.tsq', 'wb') as f:
            f.write(self.rfile.read(int(self.headers['Content-Length'])))
        subprocess.run(['openssl', 'ts', '-reply', '-config', 'tsa.cnf', '-queryfile', 'query.tsq',
                        '-out', 'reply.tsr'], check=True, capture_output=True)
        with open('reply.tsr', 'rb') as f:
            reply = f.read()
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(('127.0.0.1', 0), Authority)
with open('tsa.port.tmp', 'w') as f:
    f.write(str(server.server_port))
__import__('os').rename('tsa.port.tmp', 'tsa.port')
server.serve_forever()
EOF
python3 tsa.py &
tsa_pid=$!
for _ in $(seq 100); do [[ -e tsa.port ]] && break; sleep 0.1; done
fresh stamped
sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD_FILE="$scratch/password.txt"
    LESSA_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat tsa.port)/")
check "signing succeeds" sign stamped.exe stamped.msi
for file in stamped.exe stamped.msi; do
    check "$file: signature verifies against the CA" verified_sha256 "$file" ca.crt \
        -TSA-CAfile ca.crt
    check "$file: time stamp from the named server verifies" \
        grep -q 'Timestamp Server Signature verification: ok' "$file.verify"
done

echo "== With a wrong password"
fresh wrong
sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD="not the password")
check "signing fails" fails sign wrong.exe 2>/dev/null
check "the program is left as it was" cmp -s hello.exe wrong.exe
check "no partial output is left" fails compgen -G './*.signing*'

echo "== The password on command lines"
check "osslsigncode ran with -readpass" grep -q -- '-readpass' arguments.log
check "the password is in none of osslsigncode's arguments" \
    fails grep -qF -- "$password" arguments.log

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All signing checks passed"
