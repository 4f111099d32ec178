#!/usr/bin/env bash
# scripts/sign.sh signs a small Windows program and an MSI, with the password in a file, in
# LESSA_SIGN_PASSWORD, and from a PFX without one, so that both verify against a throwaway CA
# made here. The password reaches no argument or environment of osslsigncode, and its private
# file is gone afterwards; a wrong password leaves the file as it was.
#   test-signing.sh SCRATCH_PARENT [OSSLSIGNCODE]   exit 77 (skipped) when a tool is missing
# OSSLSIGNCODE: the one to run (by default the one in PATH), e.g. one unpacked by dpkg-deb -x.
set -euo pipefail
parent=${1:?usage: test-signing.sh SCRATCH_PARENT [OSSLSIGNCODE]}
real=${2:-$(command -v osslsigncode || echo osslsigncode)}
[[ -x $real ]] || { echo "SKIP: osslsigncode is not installed"; exit 77; }
for tool in openssl i686-w64-mingw32-gcc wixl cmp; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
real=$(realpath "$real")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/support/check.sh"
check_scratch "$parent" signing
cd "$scratch"
mkdir bin tmp out
"$real" --version 2>&1 | sed -n 1p

# A CA, a code-signing certificate it issued (in a PFX with a password and in one without), and
# an unrelated CA.
quiet() { "$@" >openssl.log 2>&1 || { cat openssl.log >&2; return 1; }; }
certificate() { # certificate NAME [openssl req arguments]
    quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days 2 \
        -subj "/CN=Lessa test $1" "${@:2}"
}
certificate ca
certificate other-ca
certificate signer -CA ca.crt -CAkey ca.key -addext basicConstraints=CA:FALSE \
    -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning
password="throwaway $RANDOM$RANDOM"
printf '%s\n' "$password" >password.txt
for pfx in signer:file:password.txt bare:pass:; do
    quiet openssl pkcs12 -export -in signer.crt -inkey signer.key -certfile ca.crt \
        -out "${pfx%%:*}.pfx" -passout "${pfx#*:}"
done

# A small Windows program and an (empty) MSI.
printf 'int main(void) { return 0; }\n' >hello.c
i686-w64-mingw32-gcc -s -o hello.exe hello.c
cat >hello.wxs <<'EOF'
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Product Id="*" Name="Signing test"
  Language="1033" Version="1.0.0" Manufacturer="Lessa"
  UpgradeCode="6f1c1c55-2a5e-4a3c-9d0a-4d7c0f1b9e21">
  <Package/><Directory Id="TARGETDIR" Name="SourceDir"/><Feature Id="Complete" Level="1"/>
</Product></Wix>
EOF
wixl -a x86 -o hello.msi hello.wxs

# osslsigncode as sign.sh runs it records its arguments, environment, and the modes of the
# password file and its folder.
cat >bin/osslsigncode <<EOF
#!/bin/bash
{ printf '%s\n' "\$*"; env; } >>"$scratch/calls.log"
for ((i = 1; i < \$#; i++)); do
    [[ \${!i} != -readpass ]] || { f=\${@:i+1:1}; stat -c %a "\$f" "\${f%/*}"; }
done >>"$scratch/modes.log"
exec "$real" "\$@"
EOF
chmod +x bin/osslsigncode

sign() { # sign FILE...: with only the LESSA_SIGN_* variables given in sign_env
    local file
    for file; do
        env -u LESSA_SIGN_PFX -u LESSA_SIGN_PASSWORD -u LESSA_SIGN_PASSWORD_FILE \
            -u LESSA_SIGN_TIMESTAMP_URL PATH="$scratch/bin:$PATH" TMPDIR="$scratch/tmp" \
            "${sign_env[@]}" "$root/scripts/sign.sh" "$file" || return
    done
}
verify() { # verify FILE CA: one valid SHA-256 signature, from a certificate that CA issued
    "$real" verify -CAfile "$2" -in "$1" >"$1.verify" 2>&1 &&
        grep -q 'Message digest algorithm *: SHA256' "$1.verify" &&
        grep -q 'Signature verification: ok' "$1.verify" &&
        grep -q 'Number of verified signatures: 1' "$1.verify"
}
signs() { # signs NAME: signs copies of the program and MSI, which then verify
    cp -p hello.exe "out/$1.exe" && cp hello.msi "out/$1.msi"
    check "$1: signing succeeds" sign "out/$1.exe" "out/$1.msi"
    check "$1: the program verifies against the CA" verify "out/$1.exe" ca.crt
    check "$1: the MSI verifies against the CA" verify "out/$1.msi" ca.crt
}

sign_env=()
cp -p hello.exe out/unsigned.exe
check "without a certificate one line says so" test "$(sign out/unsigned.exe)" = \
    "Not signed: no code-signing certificate given (LESSA_SIGN_PFX): unsigned.exe"
check "... and the program is unchanged" cmp -s hello.exe out/unsigned.exe

sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD_FILE="$scratch/password.txt")
signs file
check "file: it does not verify against another CA" not verify out/file.exe other-ca.crt
check "file: the program stays executable" test -x out/file.exe
check "file: a signed program signs again" sign out/file.exe
check "... and then has one valid signature" verify out/file.exe ca.crt
sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD="$password")
signs variable
sign_env=(LESSA_SIGN_PFX="$scratch/bare.pfx")
signs password-less
sign_env=(LESSA_SIGN_PFX="$scratch/signer.pfx" LESSA_SIGN_PASSWORD="not the password")
cp -p hello.exe out/wrong.exe
ls -a out >before.txt
check "a wrong password fails" not sign out/wrong.exe 2>/dev/null
check "... leaving the program as it was" cmp -s hello.exe out/wrong.exe
check "... and nothing beside it" cmp -s before.txt <(ls -a out)

check "the password is in none of osslsigncode's arguments and environment" \
    not grep -qF -- "$password" calls.log
check "the password file was 0600 in a 0700 folder" \
    test "$(sort -u modes.log | tr '\n' ' ')" = "600 700 "
check "no password file is left" test -z "$(ls -A tmp)"

check_totals
