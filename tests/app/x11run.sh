#!/bin/sh
# Runs a command on the X server of xvfb-run with a window manager (openbox), as a user's
# desktop has one: maximizing, placing and focusing go through it.
openbox >/dev/null 2>&1 &
manager=$!
sleep 1
"$@"
status=$?
kill "$manager" 2>/dev/null
exit $status
