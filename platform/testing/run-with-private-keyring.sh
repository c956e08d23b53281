#!/bin/sh
# run-with-private-keyring.sh <program> [arguments...]
# Runs a test program on a private D-Bus session with a fresh, unlocked gnome-keyring-daemon, and with
# HOME and the XDG folders in a new temporary folder, so the real user's keyring and home are never
# touched. When that cannot be set up, the program still runs, with VELMOR_TEST_KEYRING_UNAVAILABLE
# saying why, so that its tests skip with the reason printed.
set -u

case " $* " in
*" --gtest_list_tests "*) exec "$@" ;; # listing the tests needs no keyring
esac

root=$(mktemp -d /tmp/velmor-keyring-XXXXXX) || exit 1
trap 'rm -rf "$root"' EXIT
trap 'exit 130' HUP INT TERM
mkdir -m 700 "$root/home" "$root/data" "$root/config" "$root/cache" "$root/runtime"
export HOME="$root/home" XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" \
    XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime"
unset DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL VELMOR_TEST_KEYRING VELMOR_TEST_KEYRING_UNAVAILABLE
# A test that changes its keyring for good (locks it, say) runs itself again through this script.
VELMOR_TEST_KEYRING_RUNNER=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
export VELMOR_TEST_KEYRING_RUNNER

without_keyring() {
    VELMOR_TEST_KEYRING_UNAVAILABLE="$1"
    export VELMOR_TEST_KEYRING_UNAVAILABLE
    shift
    "$@"
    exit $?
}

for tool in dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" >/dev/null 2>&1 || without_keyring "$tool is not installed" "$@"
done

# Inside the private session: start the daemon (it makes and unlocks a new login keyring with the
# password on its standard input, and leaves when the session bus goes), then run the program.
dbus-run-session -- sh -c '
    touch "$XDG_RUNTIME_DIR/session-started"
    if printf "velmor-test" | gnome-keyring-daemon --unlock --components=secrets --daemonize \
        >/dev/null 2>"$XDG_RUNTIME_DIR/keyring.log"; then
        VELMOR_TEST_KEYRING=1 exec "$@"
    fi
    VELMOR_TEST_KEYRING_UNAVAILABLE="gnome-keyring-daemon did not start: $(cat "$XDG_RUNTIME_DIR/keyring.log")" \
        exec "$@"
' velmor-keyring-session "$@"
status=$?
[ -e "$root/runtime/session-started" ] || without_keyring "dbus-run-session could not start a session bus" "$@"
exit $status
