#!/usr/bin/env bash
# Opens every page of the node reference in headless Chromium, as a reader's
# browser would, and fails on a console message, an image that does not load,
# text wider than its box, a broken local link, or a screenshot that differs
# from its committed reference; and once more as wide as a phone (390 px),
# where nothing may be cut off either.
#
#   browser_check.sh SITE REFERENCES WORK SITE_CHECK [--update]
#
# SITE is the site's folder, REFERENCES the reference screenshots, WORK a
# folder of the build for Chromium's profile, its home and the screenshots
# taken (nothing goes to $HOME or /tmp). --update writes the screenshots taken
# as the new references.
set -uo pipefail

site=$1 refs=$2 work=$3 check=$4 update=${5:-}
chromium=$(command -v chromium) || { echo "browser_check: chromium is not installed (scripts/setup.sh installs it)"; exit 1; }
rm -rf "$work"
mkdir -p "$work/shots" "$work/home"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
width=1100 narrow=390

# One page in a fresh headless window of WIDTHxHEIGHT; the page's DOM after
# its scripts ran goes to stdout, Chromium's log to stderr.
open_page() { # URL WIDTH HEIGHT [more flags]
  "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$work/profile" \
    --enable-logging=stderr --v=0 --virtual-time-budget=5000 --window-size="$2,$3" "${@:4}" --dump-dom "$1"
}

# What the page's own check wrote into it: its fault lines, or "ok".
check_result() { # DOM
  sed -n '/<pre id="check-result"/,/<\/pre>/p' "$1"
}

faults=0
fault() { echo "$*"; faults=$((faults + 1)); }

pages=("$site"/*.html)
[ -e "${pages[0]}" ] || { echo "browser_check: no pages in $site"; exit 1; }
"$check" links "${pages[@]}" || faults=$((faults + 1))

for page in "${pages[@]}"; do
  name=$(basename "$page" .html)
  url="file://$(cd "$(dirname "$page")" && pwd)/$name.html#check"
  # First the check, which also measures the page; then the screenshot at
  # the page's full height.
  open_page "$url" "$width" 900 >"$work/$name.dom" 2>"$work/$name.log"
  result=$(check_result "$work/$name.dom")
  height=$(printf '%s' "$result" | sed -n 's/.*data-height="\([0-9]*\)".*/\1/p' | head -1)
  text=$(printf '%s' "$result" | sed -e 's/<pre[^>]*>//' -e 's/<\/pre>.*//')
  if [ -z "$height" ]; then
    fault "$name.html: the page's check did not run"
    continue
  fi
  [ "$text" = ok ] || fault "$name.html: $(printf '%s' "$text" | sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&amp;/\&/g')"
  [ "$height" -le 12000 ] || { fault "$name.html: $height px high, taller than a screenshot may be"; continue; }
  open_page "$url" "$width" "$height" --screenshot="$work/shots/$name.png" >/dev/null 2>>"$work/$name.log"
  # As wide as a phone: the same check, no screenshot.
  open_page "$url" "$narrow" 900 >"$work/$name.narrow.dom" 2>>"$work/$name.log"
  narrow_text=$(check_result "$work/$name.narrow.dom" | sed -e 's/<pre[^>]*>//' -e 's/<\/pre>.*//')
  [ -n "$narrow_text" ] || narrow_text="the check did not run"
  [ "$narrow_text" = ok ] ||
    fault "$name.html at $narrow px: $(printf '%s' "$narrow_text" | sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&amp;/\&/g')"
  if grep -q ':CONSOLE' "$work/$name.log"; then
    fault "$name.html: console: $(grep ':CONSOLE' "$work/$name.log" | sed 's/^[^"]*//' | head -3 | tr '\n' ' ')"
  fi
  if [ ! -s "$work/shots/$name.png" ]; then
    fault "$name.html: no screenshot was taken"
  elif [ "$update" = --update ]; then
    mkdir -p "$refs" && cp "$work/shots/$name.png" "$refs/$name.png"
  elif [ ! -f "$refs/$name.png" ]; then
    fault "$name.html: no reference screenshot $refs/$name.png"
  else
    "$check" picture "$work/shots/$name.png" "$refs/$name.png" "$work/shots/$name.diff.png" || faults=$((faults + 1))
  fi
done
# A reference without a page is a page that went missing.
for ref in "$refs"/*.png; do
  [ -e "$ref" ] || continue
  [ -f "$site/$(basename "$ref" .png).html" ] || fault "$(basename "$ref"): a reference screenshot of no page"
done

echo "browser_check: ${#pages[@]} pages, $faults fault(s)"
[ "$faults" -eq 0 ]
