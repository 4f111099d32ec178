# Authenticode signing of the Windows build (vipcard.exe, then the MSI that holds it), sourced by
# scripts/windows.sh. A code-signing certificate comes from the environment, never the
# repository:
#   LESSA_SIGN_PFX            the certificate with its private key, a PKCS#12 (.pfx) file
#   LESSA_SIGN_PASSWORD_FILE  a file holding its password, or
#   LESSA_SIGN_PASSWORD       the password itself
#   LESSA_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server (optional; without one the
#                             signature is valid only while the certificate is)
# Without LESSA_SIGN_PFX the build stays unsigned and says so once.
# shellcheck shell=bash

# Kept in a shell variable of this script only: exported, the password would reach every
# build and test process started after this, where /proc/PID/environ shows it.
lessa_sign_password=${LESSA_SIGN_PASSWORD:-}
unset LESSA_SIGN_PASSWORD

# lessa_win_sign FILE: signs FILE in place with SHA-256, time-stamped when a server is named.
lessa_win_sign() {
    local file=$1
    if [[ -z ${LESSA_SIGN_PFX:-} ]]; then
        if [[ -z ${LESSA_SIGN_NOTED:-} ]]; then
            echo "Not signed: no code-signing certificate given (LESSA_SIGN_PFX)"
            LESSA_SIGN_NOTED=1
        fi
        return 0
    fi
    [[ -r $LESSA_SIGN_PFX ]] ||
        { echo "error: cannot read the certificate LESSA_SIGN_PFX=$LESSA_SIGN_PFX" >&2; return 1; }
    command -v osslsigncode >/dev/null ||
        { echo "error: osslsigncode is not installed" >&2; return 1; }
    local args=(sign -pkcs12 "$LESSA_SIGN_PFX" -h sha256)
    if [[ -n ${LESSA_SIGN_TIMESTAMP_URL:-} ]]; then
        args+=(-ts "$LESSA_SIGN_TIMESTAMP_URL")
    fi
    # The password goes through a file or a pipe, never the command line that ps shows;
    # printf is a shell builtin.
    local password_source=-
    if [[ -n ${LESSA_SIGN_PASSWORD_FILE:-} ]]; then
        password_source=$LESSA_SIGN_PASSWORD_FILE
    fi
    local signed="$file.signing"
    rm -f "$signed"
    if ! printf '%s' "$lessa_sign_password" |
        osslsigncode "${args[@]}" -readpass "$password_source" -in "$file" -out "$signed" \
            >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        echo "error: signing $(basename "$file") failed" >&2
        return 1
    fi
    rm -f "$signed.log"
    chmod --reference="$file" "$signed"
    mv "$signed" "$file"
    echo "$(basename "$file"): signed (Authenticode, SHA-256${LESSA_SIGN_TIMESTAMP_URL:+, time-stamped})"
}
