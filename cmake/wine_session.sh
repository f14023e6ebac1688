#!/bin/sh
# One Wine server for a test run, its output (and the first start's) in files
# in the prefix's folder, so that no pipe of the caller's stays open in it.
#   WINEPREFIX=... wine_session.sh start WINE_LOADER | stop [WINE_LOADER]
set -eu
action=${1:-} wine=${2:-wine}
: "${WINEPREFIX:?set WINEPREFIX}"
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=wineserver
logs=$(dirname "$WINEPREFIX")
case $action in
start)
  mkdir -p "$WINEPREFIX"
  # A server already running for this prefix (an earlier run) is kept.
  "$server" -p >>"$logs/wineserver.log" 2>&1 </dev/null || true
  # The first start makes the prefix (about a minute); later ones reuse it.
  if ! "$wine" wineboot --init >"$logs/wineboot.log" 2>&1 </dev/null; then
    echo "wine: wineboot failed, see $logs/wineboot.log" >&2
    exit 1
  fi
  ;;
stop)
  "$server" -k >/dev/null 2>&1 </dev/null || true
  "$server" -w >/dev/null 2>&1 </dev/null || true
  ;;
*)
  echo "usage: $0 start WINE_LOADER | stop [WINE_LOADER]" >&2
  exit 2
  ;;
esac
