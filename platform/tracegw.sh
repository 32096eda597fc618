#!/bin/sh
# Stand-in for the router's trace tool: "tracegw -I HOST" traces the real
# path with ICMP echo and prints three header lines, then one line per hop:
# " N  name (address)  times", or " N  * * *" for a hop that did not answer.
if [ "$1" != -I ] || [ -z "$2" ]; then
  echo "usage: tracegw -I HOST" >&2
  exit 1
fi
host=$2
echo "tracegw: ICMP route trace to $host"
echo "30 hops max, 3 probes per hop, 1 s wait"
echo "hop  name (address)  times"
# Debian's traceroute prints its own header first and, with -n, bare
# addresses; the name of a hop here is its address, as without reverse names.
# Its /usr/sbin name goes through /etc/alternatives, which a router root lacks.
tr=$(command -v traceroute.db || command -v traceroute)
"$tr" -I -n -w 1 -q 3 -m 30 "$host" 2>/dev/null | tail -n +2 |
  sed -E 's/^( *[0-9]+)  ([0-9.]+) /\1  \2 (\2) /'
