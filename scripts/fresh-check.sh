#!/usr/bin/env bash
# The README's two commands as a newcomer runs them: in a fresh minimal Debian 12
# root, as root, the commit (HEAD unless named; committed work only) cloned into
# it. Prints one line per command with its exit code and time; each command's
# output is in build/fresh-check/. Run it after any change to the set-up, the
# build files or the dependencies. Needs root; the root is deleted afterwards
# unless --keep is given.
#   scripts/fresh-check.sh [--keep] [COMMIT]
set -euo pipefail
cd "$(dirname "$0")/.."
# Interrupted: stop after the command under way has ended and left the root.
trap 'exit 130' INT
trap 'exit 143' TERM HUP
keep=0
[ "${1:-}" = --keep ] && { keep=1; shift; }
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "fresh-check: uncommitted changes are not in the check; it runs $commit" >&2

cache=${JUXS_ROOT_CACHE:-/var/cache/juxsnodes-ci}
logs=$PWD/build/fresh-check
mkdir -p "$cache/roots" "$logs"
scripts/clean-root.sh sweep
root=$(mktemp -d "$cache/roots/fresh-check.XXXXXX")
rmdir "$root"
# Held while the root is in use, so that a sweep leaves it alone.
exec 8>"$root.lock"
flock 8
finish() {
  if [ "$keep" = 1 ]; then
    rm -f "$root.lock" # a kept root is no sweep's to remove
    echo "fresh-check: the root is kept in $root (remove it with scripts/clean-root.sh remove $root)"
  else scripts/clean-root.sh remove "$root" && rm -f "$root.lock"; fi
}
trap finish EXIT

start=$SECONDS
scripts/clean-root.sh make "$root"
scripts/clean-root.sh clone "$root" "$PWD" "$commit"
echo "fresh-check: ${commit:0:12} in a fresh root ($((SECONDS - start)) s to make it)"
failed=0
for cmd in scripts/showcase.sh scripts/test.sh; do
  log=$logs/$(basename "$cmd" .sh).log
  t=$SECONDS rc=0
  LOG_TAIL=30 scripts/clean-root.sh run "$root" "$log" "$cmd" || rc=$?
  t=$((SECONDS - t))
  printf '%-20s exit %-3d %3dm%02ds  (set-up installed %s; log %s)\n' \
    "$cmd" "$rc" $((t / 60)) $((t % 60)) "$(scripts/clean-root.sh setup-summary "$log")" "$log"
  [ "$rc" -eq 0 ] || failed=1
done
exit "$failed"
