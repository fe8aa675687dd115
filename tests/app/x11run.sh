#!/bin/sh
# Runs a command on the X server of xvfb-run with a window manager (openbox), as a user's
# desktop has one: maximizing, placing and focusing go through it.
# Under the sanitizers, leaks of the desktop libraries are not ours (lsan.supp names them).
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan.supp"
export LSAN_OPTIONS
openbox >/dev/null 2>&1 &
manager=$!
sleep 1
"$@"
status=$?
kill "$manager" 2>/dev/null
exit $status
