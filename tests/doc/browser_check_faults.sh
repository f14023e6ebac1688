#!/usr/bin/env bash
# The browser check against a page with one fault of each kind it looks for:
# it must fail, and name each one.
#   browser_check_faults.sh FIXTURE SITE_JS WORK SITE_CHECK
set -uo pipefail
fixture=$1 script=$2 work=$3 check=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/site" "$work/refs"
cp "$fixture"/*.html "$script" "$work/site/"
out=$("$here/browser_check.sh" "$work/site" "$work/refs" "$work/run" "$check" 2>&1)
status=$?
echo "$out"
[ $status -ne 0 ] || { echo "browser_check_faults: the check passed a broken page"; exit 1; }
missing=0
for expected in 'broken link to missing.png' 'broken link to nowhere.html' 'image did not load: missing.png' \
  'text overflows its box: <div> "A sentence far too long' 'panel text "Much too wide"' \
  'console: "a fault of the page"' 'no reference screenshot' 'tab Two leaves page 0 shown' \
  'broken.html at 390 px:' 'the page is wider than the window'; do
  grep -qF -- "$expected" <<<"$out" || { echo "browser_check_faults: not reported: $expected"; missing=1; }
done
exit $missing
