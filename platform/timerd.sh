#!/bin/sh
# Stand-in for the router's timer daemon: keeps its pid in /var/run/timer.pid
# and appends one line per SIGHUP to $TIMER_JOURNAL
# (default /var/run/timer.journal), so tests can see who woke it.
journal=${TIMER_JOURNAL:-/var/run/timer.journal}
trap 'echo SIGHUP >> "$journal"' HUP
trap 'rm -f /var/run/timer.pid; exit 0' TERM
echo $$ > /var/run/timer.pid
while :; do
  sleep 1 &
  wait $!
done
