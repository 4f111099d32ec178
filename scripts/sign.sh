#!/usr/bin/env bash
# sign.sh FILE: signs a Windows executable or MSI in place (Authenticode, SHA-256, by
# osslsigncode), time-stamped when a server is named. The build runs it after linking
# vipcard.exe and after making the MSI. The certificate comes from the environment, never the
# repository:
#   LESSA_SIGN_PFX            the certificate with its private key, a PKCS#12 (.pfx) file
#   LESSA_SIGN_PASSWORD_FILE  a file holding its password, or
#   LESSA_SIGN_PASSWORD       the password itself (neither: a PFX without a password)
#   LESSA_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server (optional; without one the
#                             signature is valid only while the certificate is)
# Without LESSA_SIGN_PFX the file stays unsigned, one line says so, and the exit status is 0.
set -euo pipefail
(($# == 1)) || { echo "usage: sign.sh FILE" >&2; exit 2; }
file=$1

if [[ -z ${LESSA_SIGN_PFX:-} ]]; then
    echo "Not signed: no code-signing certificate given (LESSA_SIGN_PFX): $(basename "$file")"
    exit 0
fi
[[ -f $file ]] || { echo "error: no file to sign: $file" >&2; exit 1; }
[[ -r $LESSA_SIGN_PFX ]] ||
    { echo "error: cannot read the certificate LESSA_SIGN_PFX=$LESSA_SIGN_PFX" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "error: osslsigncode is not installed" >&2; exit 1; }

# Read into a variable of this shell only, and out of the environment that osslsigncode
# would inherit (and /proc/PID/environ would show).
password=
if [[ -n ${LESSA_SIGN_PASSWORD_FILE:-} ]]; then
    password=$(<"$LESSA_SIGN_PASSWORD_FILE")
elif [[ -n ${LESSA_SIGN_PASSWORD:-} ]]; then
    password=$LESSA_SIGN_PASSWORD
fi
unset LESSA_SIGN_PASSWORD

# The password file and the signed copy live in a folder only this user can enter (umask makes
# the file 0600 from its creation, with no window before a chmod).
umask 077
work=$(mktemp -d)
cleanup() { rm -f "$work/password" "$work/signed" "$work/log"; rmdir "$work"; }
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

args=(sign -pkcs12 "$LESSA_SIGN_PFX" -h sha256)
# osslsigncode 2.5 reads -readpass from a file only, not "-"; and an empty password file fails
# (2.5 and 2.9 alike), while no password option at all opens a PFX without a password.
if [[ -n $password ]]; then
    printf '%s' "$password" >"$work/password" # printf is a builtin: no command line shows it
    args+=(-readpass "$work/password")
fi
if [[ -n ${LESSA_SIGN_TIMESTAMP_URL:-} ]]; then
    args+=(-ts "$LESSA_SIGN_TIMESTAMP_URL")
fi
# osslsigncode refuses an existing output file; a failure leaves FILE as it was.
if ! osslsigncode "${args[@]}" -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "error: signing $(basename "$file") failed" >&2
    exit 1
fi
chmod --reference="$file" "$work/signed"
mv -f "$work/signed" "$file"
stamped=${LESSA_SIGN_TIMESTAMP_URL:+, time-stamped}
echo "$(basename "$file"): signed (Authenticode, SHA-256$stamped)"
