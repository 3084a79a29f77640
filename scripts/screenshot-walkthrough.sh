#!/bin/sh
# Walks through the setup program on a virtual X server as a new user does,
# against a local mail server, and writes the README's screenshots:
#   docs/walkthrough-form.png      the filled-in form
#   docs/walkthrough-question.png  the question before the test
#   docs/walkthrough-progress.png  the progress window during the test
#   docs/walkthrough-stored.png    the message after the settings are stored
#   docs/walkthrough-failure.png   the failure box of a refused password, 詳細 open
#   docs/walkthrough-settings.txt  what wakebell-settings then prints
#   scripts/screenshot-walkthrough.sh [BUILD_DIR]    (default: build)
#
# The mail server is Debian's aiosmtpd (the test suite's) with TLS from the
# first byte, a throwaway CA trusted through SSL_CERT_FILE, and one account.
# The progress window is caught on a second server that never answers, and
# that test is cancelled. Needs xvfb, xdotool and imagemagick
# (scripts/install-deps.sh).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
program=$root/$build/setup/wakebell-setup
settings=$root/$build/settings/wakebell-settings
for tool in "$program" "$settings"; do
    if [ ! -x "$tool" ]; then
        echo "screenshot-walkthrough: $tool is missing; build it first (make build)" >&2
        exit 1
    fi
done
work=$(mktemp -d)
server_pid=""
silent_pid=""
cleanup() {
    for pid in $server_pid $silent_pid; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p docs "$work/mails" "$work/certs"

/bin/sh tests/smtp/servers/make_test_certs.sh "$work/certs" >/dev/null
mkfifo "$work/ports"
/usr/bin/python3 tests/smtp/servers/aiosmtpd_server.py --cert "$work/certs/server.pem" \
    --key "$work/certs/server.key" --user taro --password 'secret-Pa55' \
    --record "$work/mails" >"$work/ports" 2>"$work/server.log" &
server_pid=$!
tls_port=$(sed -n 's/.* tls=\([0-9]*\).*/\1/p;q' <"$work/ports")
# A server that takes the connection and never answers.
/usr/bin/python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(4)
print(s.getsockname()[1], flush=True)
while True: time.sleep(3600)
' >"$work/silent" &
silent_pid=$!
while [ ! -s "$work/silent" ]; do sleep 0.1; done
silent_port=$(cat "$work/silent")

XDG_CONFIG_HOME=$work/config SSL_CERT_FILE=$work/certs/ca.pem QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
    sh -eu -c '
        program=$1 work=$2 tls_port=$3 silent_port=$4 docs=$5 settings=$6
        import=/usr/bin/import convert=/usr/bin/convert

        # Waits (bounded) for a visible window whose title matches $1.
        wait_window() {
            tries=0
            until xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
                tries=$((tries + 1))
                if [ $tries -gt 300 ]; then
                    echo "screenshot-walkthrough: no window \"$1\"" >&2
                    exit 1
                fi
                sleep 0.1
            done
            sleep 0.5  # painted
        }
        wait_gone() {
            tries=0
            while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
                tries=$((tries + 1))
                [ $tries -gt 300 ] && { echo "screenshot-walkthrough: \"$1\" stays" >&2; exit 1; }
                sleep 0.1
            done
        }
        # Without a window manager nothing gives the form the focus back
        # when a box closes; give it, as a click would.
        focus_form() {
            xdotool search --onlyvisible --name "^WakebellSetup$" windowfocus --sync
        }
        # Ends the program with its end button key, and waits (bounded).
        end_program() {
            focus_form
            xdotool key alt+x
            tries=0
            while kill -0 "$1" 2>/dev/null; do
                tries=$((tries + 1))
                [ $tries -gt 100 ] && { echo "screenshot-walkthrough: the form stays open" >&2; exit 1; }
                sleep 0.1
            done
        }
        shot() {
            "$import" -window root "png:$work/shot.png"
            "$convert" "$work/shot.png" -trim +repage -strip "$1"
        }
        # One window, whole; $2 is its id.
        shot_window() {
            "$import" -window "$2" "png:$work/shot.png"
            "$convert" "$work/shot.png" -bordercolor gray60 -border 1 -strip "$1"
        }
        # Fills the form Tab by Tab, as a user does; SMTP-Server first, so
        # that leaving E-Mail looks nothing up (example.test has no servers).
        fill() {
            xdotool key Tab Tab && xdotool type --delay 20 "localhost"
            xdotool key shift+Tab shift+Tab && xdotool type --delay 20 "taro@example.test"
            xdotool key Tab && xdotool type --delay 20 "pop.example.test"
            xdotool key Tab Tab && xdotool type --delay 20 "taro"
            xdotool key Tab && xdotool type --delay 20 "secret-Pa55"
            xdotool key Tab && xdotool type --delay 20 "$1"
            xdotool key Tab Tab Tab Tab
            xdotool type --delay 20 "hanako@example.test"
            xdotool key Tab && xdotool type --delay 20 "Office PC on"
            xdotool key Tab && xdotool type --delay 20 "Office PC off"
        }

        # First try: a server that never answers; the test is cancelled.
        "$program" & pid=$!
        wait_window "^WakebellSetup$"
        fill "$silent_port"
        xdotool key Return
        wait_window "^wakebell-setup$"
        xdotool key Return                   # Yes
        wait_window "通信のテスト"
        # Enter pressed once too often must leave the test running.
        xdotool key Return Return
        sleep 0.5
        xdotool search --onlyvisible --name "通信のテスト" >/dev/null || {
            echo "screenshot-walkthrough: Enter ended the test" >&2
            exit 1
        }
        shot "$docs/walkthrough-progress.png"
        xdotool key Escape                   # Cancel
        wait_gone "通信のテスト"
        wait_window "^wakebell-setup$"
        xdotool key Return                   # the failure message
        wait_gone "^wakebell-setup$"
        end_program $pid

        # Second try, on the real server.
        "$program" & pid=$!
        wait_window "^WakebellSetup$"
        fill "$tls_port"
        shot "$docs/walkthrough-form.png"
        xdotool key Return
        wait_window "^wakebell-setup$"
        shot "$docs/walkthrough-question.png"
        xdotool key Return                   # Yes
        wait_gone "通信のテスト"
        wait_window "^wakebell-setup$"
        shot "$docs/walkthrough-stored.png"
        xdotool key Return
        wait_gone "^wakebell-setup$"
        end_program $pid
        # What the notifier will read after the stored test.
        "$settings" | sed "s|$work/config|~/.config|" >"$docs/walkthrough-settings.txt"

        # Third try: the stored settings with a mistyped password.
        "$program" & pid=$!
        wait_window "^WakebellSetup$"
        xdotool key Tab Tab Tab Tab ctrl+a
        xdotool type --delay 20 "secret-Pa56"
        xdotool key Return
        wait_window "^wakebell-setup$"
        xdotool key Return                   # Yes
        wait_gone "通信のテスト"
        wait_window "^wakebell-setup$"
        xdotool key Tab space                # 詳細を表示...
        sleep 0.5
        # The box alone: without a window manager it sits on the form.
        shot_window "$docs/walkthrough-failure.png" \
            "$(xdotool search --onlyvisible --name "^wakebell-setup$" | head -n 1)"
        xdotool key Escape                   # OK
        wait_gone "^wakebell-setup$"
        end_program $pid
    ' walkthrough "$program" "$work" "$tls_port" "$silent_port" "$root/docs" "$settings"

ls "$work/mails"/*.data >/dev/null
echo "screenshot-walkthrough: wrote docs/walkthrough-*.png and docs/walkthrough-settings.txt"
