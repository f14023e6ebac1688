#!/usr/bin/env bash
# A clean Debian 12 root in which the README's commands run as they would for
# a newcomer: a minimal debootstrap root with empty package lists, the commit
# cloned into /root/JuxsNodes, and commands run there as root with nothing of
# the caller's environment. CI (.ci/run) and scripts/fresh-check.sh both use it.
#
#   clean-root.sh make ROOT               a fresh root (the bare one is built once, then copied)
#   clean-root.sh clone ROOT REPO COMMIT  the commit cloned into ROOT/root/JuxsNodes
#   clean-root.sh run ROOT LOG COMMAND    COMMAND run in the clone, its output in LOG;
#                                         exits with COMMAND's code, printing LOG's last lines on failure
#   clean-root.sh remove ROOT             the root deleted, never with anything mounted or running in it
#   clean-root.sh sweep                   roots under the cache's roots/ that no live run holds, deleted
#   clean-root.sh setup-summary LOG       apt's count of packages and megabytes from a LOG
#
# The bare root and apt's downloaded packages are kept in JUXS_ROOT_CACHE
# (default /var/cache/juxsnodes-ci): neither holds anything of ours, and every
# package is still installed in the root by scripts/setup.sh. JUXS_APT_CACHE=off
# downloads every package anew. LOG_TAIL lines of a failing log are shown (60).
set -euo pipefail

cache=${JUXS_ROOT_CACHE:-/var/cache/juxsnodes-ci}
suite=bookworm
bare_tar=$cache/$suite-minbase.tar
self=$(readlink -f "$0")

die() { echo "clean-root: $*" >&2; exit 1; }

# The package mirror this machine itself uses for the suite, from its apt
# sources (deb822 files first, then one-line ones): nothing is written down here.
mirror() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v s="$suite" 'BEGIN { RS = ""; FS = "\n" }
      { uri = ""; deb = 0; ok = 0; off = 0
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^[ \t]*#/) continue
          if (line ~ /^Types:/ && line ~ /[ \t]deb([ \t]|$)/) deb = 1
          if (line ~ /^Enabled:[ \t]*no/) off = 1
          if (line ~ /^URIs:/) { n = split(line, u, /[ \t]+/); uri = u[2] }
          if (line ~ /^Suites:/) { n = split(line, v, /[ \t]+/); for (j = 2; j <= n; j++) if (v[j] == s) ok = 1 }
        }
        if (deb && ok && !off && uri != "") { print uri; exit }
      }' "$f"
  done
  { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
    awk -v s="$suite" '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                                     if ($(i + 1) == s) { print $i; exit } }'
}

# The process ids whose root directory is ROOT or below it: what a run left
# behind (a Wine server, say).
procs_in() {
  local root=$1 p r
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    if [ "$r" = "$root" ] || [[ $r == "$root"/* ]]; then echo "${p#/proc/}"; fi
  done
}

end_procs() {
  local root=$1 sig pids
  for sig in TERM KILL; do
    pids=$(procs_in "$root" | tr '\n' ' ')
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    echo "clean-root: ending what still runs in the root ($sig):" $pids >&2
    # shellcheck disable=SC2086
    kill -s "$sig" $pids 2>/dev/null || true
    for _ in $(seq 20); do
      [ -n "$(procs_in "$root")" ] || return 0
      sleep 0.5
    done
  done
  [ -z "$(procs_in "$root")" ] || die "processes in $root do not end: $(procs_in "$root" | tr '\n' ' ')"
}

# Mount points at ROOT or below it, as any process on the machine sees them.
mounts_in() {
  local root=$1
  # A process that ends meanwhile makes cat fail: that is no error here.
  { cat /proc/[0-9]*/mountinfo 2>/dev/null || true; } | awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' | sort -u
}

remove_root() {
  local root
  root=$(readlink -f "$1")
  [ -d "$root" ] || return 0
  [ "$root" != / ] || die "refusing to remove /"
  end_procs "$root"
  local m
  m=$(mounts_in "$root")
  [ -z "$m" ] || die "not removing $root: still mounted there: $m"
  rm -rf --one-file-system "$root"
}

# A run holds ROOT.lock while it uses ROOT (see .ci/run); a root whose lock
# nobody holds was left by a run that was killed, and takes gigabytes.
sweep() {
  local lock root
  for lock in "$cache"/roots/*.lock; do
    [ -e "$lock" ] || continue
    root=${lock%.lock}
    exec 8<"$lock"
    if flock -n 8; then
      echo "clean-root: removing $root, left by an earlier run" >&2
      remove_root "$root" && rm -f "$lock"
    fi
    exec 8<&-
  done
}

# Installs a missing machine package (debootstrap) with the machine's own apt.
need() {
  command -v "$1" >/dev/null && return 0
  echo "clean-root: installing $2 on this machine" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$2" >/dev/null 2>&1 </dev/null || {
    apt-get update -q >/dev/null </dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$2" </dev/null >/dev/null
  }
  command -v "$1" >/dev/null || die "cannot install $2"
}

# The bare root, made once and kept as a tarball so each run starts from a
# copy of it; a lock keeps two runs from making it at once.
bare_root() {
  mkdir -p "$cache"
  exec 9>"$cache/.bare.lock"
  flock 9
  if [ ! -s "$bare_tar" ]; then
    need debootstrap debootstrap
    local m tmp=$cache/bare.$$ log=$cache/debootstrap.log
    m=$(mirror | awk 'NR == 1')
    [ -n "$m" ] || die "no apt source for $suite on this machine"
    echo "clean-root: making a minimal $suite root with debootstrap (kept in $bare_tar)" >&2
    remove_root "$tmp"
    # In a mount namespace of its own: what debootstrap mounts vanishes with it.
    if ! unshare --mount --propagation private debootstrap --variant=minbase "$suite" "$tmp" "$m" >"$log" 2>&1 </dev/null; then
      tail -n "${LOG_TAIL:-60}" "$log" >&2
      remove_root "$tmp"
      die "debootstrap failed (log: $log)"
    fi
    tar -C "$tmp" --numeric-owner -cf "$bare_tar.part" . && mv "$bare_tar.part" "$bare_tar"
    remove_root "$tmp"
  fi
  exec 9>&-
}

make_root() {
  local root=$1 f
  [ ! -e "$root" ] || die "$root already exists"
  bare_root
  mkdir -p "$root"
  tar -C "$root" --numeric-owner -xf "$bare_tar"
  cp /etc/resolv.conf /etc/hosts "$root/etc/"
  # Apt as the machine has it: its sources, and its settings for fetching
  # (a frozen snapshot's Release files have expired dates).
  rm -f "$root/etc/apt/sources.list" "$root/etc/apt/sources.list.d/"*
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && cp "$f" "$root$f"
  done
  apt-config dump | grep -E '^Acquire::(Check-Valid-Until|Check-Date|Retries|[^:]+::Proxy) ' \
    >"$root/etc/apt/apt.conf.d/90machine" || true
  # Empty package lists, as on a machine just installed: setup must update them.
  rm -rf "$root/var/lib/apt/lists" "$root/var/cache/apt/"*.bin
  mkdir -p "$root/var/lib/apt/lists/partial"
  find "$root/var/cache/apt/archives" -name '*.deb' -delete
  if [ "${JUXS_APT_CACHE:-on}" != off ] && [ -d "$cache/archives" ]; then
    find "$cache/archives" -maxdepth 1 -name '*.deb' -exec cp -l -t "$root/var/cache/apt/archives" {} +
  fi
}

# Packages apt downloaded in the root, kept for the next root (hard links).
keep_debs() {
  local root=$1
  [ "${JUXS_APT_CACHE:-on}" != off ] || return 0
  mkdir -p "$cache/archives"
  find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -ln -t "$cache/archives" {} + 2>/dev/null || true
}

clone() {
  local root=$1 repo=$2 commit=$3 dest=$1/root/JuxsNodes
  [ ! -e "$dest" ] || die "$dest already exists"
  git clone -q --no-hardlinks --no-checkout "$repo" "$dest"
  git -C "$dest" checkout -q --detach "$commit"
}

# Runs in a private mount namespace (see run): the root's file systems are
# mounted, COMMAND runs chrooted, and whatever it left running is ended and
# everything unmounted on the way out, however it ends.
inside_root=
inside_cleanup() {
  local m
  end_procs "$inside_root" || true
  for m in dev/shm dev/pts dev sys proc; do
    if mountpoint -q "$inside_root/$m"; then umount "$inside_root/$m" || umount -l "$inside_root/$m"; fi
  done
}
inside() {
  local root=$1 cmd=$2
  inside_root=$root
  trap inside_cleanup EXIT
  trap 'exit 143' TERM INT HUP
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/JuxsNodes && $cmd" </dev/null
}

run() {
  local root log=$2 cmd=$3 rc=0
  root=$(readlink -f "$1")
  [ -d "$root/root/JuxsNodes" ] || die "nothing cloned in $root"
  if [ "${JUXS_ROOT_ECHO:-0}" = 1 ]; then
    unshare --mount --propagation private "$self" inside "$root" "$cmd" 2>&1 | tee "$log" || rc=${PIPESTATUS[0]}
  else
    unshare --mount --propagation private "$self" inside "$root" "$cmd" >"$log" 2>&1 || rc=$?
  fi
  keep_debs "$root"
  if [ "$rc" -ne 0 ]; then
    echo "clean-root: '$cmd' exited $rc; the last lines of $log:" >&2
    tail -n "${LOG_TAIL:-60}" "$log" | sed 's/^/  | /' >&2
  fi
  return "$rc"
}

# apt's own words on what setup installed: "N newly installed", the megabytes
# of the archives ("Need to get") and those the install took ("After this operation").
setup_summary() {
  local n get disk
  mb() {
    # "Need to get 0 B/551 MB" when the archives were kept: the total counts.
    sed 's|^Need to get [0-9.,]* [kMG]\{0,1\}B/|Need to get |' "$2" |
      sed -n "s/^$1 \([0-9.,]\+\) \([kMG]\)B.*/\1 \2/p" |
      awk '{ v = $1; gsub(",", "", v); if ($2 == "k") v /= 1000; if ($2 == "G") v *= 1000; s += v } END { printf "%.0f", s }'
  }
  n=$(sed -n 's/.* \([0-9]\+\) newly installed.*/\1/p' "$1" | awk '{ s += $1 } END { print s + 0 }')
  get=$(mb "Need to get" "$1")
  disk=$(mb "After this operation," "$1")
  echo "$n packages, $get MB of archives, $disk MB on disk"
}

[ "$(id -u)" -eq 0 ] || die "run as root (debootstrap, mounts and chroot need it)"
case ${1:-} in
make) make_root "$2" ;;
clone) clone "$2" "$3" "$4" ;;
run) run "$2" "$3" "$4" ;;
inside) inside "$2" "$3" ;;
remove) remove_root "$2" ;;
sweep) sweep ;;
setup-summary) setup_summary "$2" ;;
*) sed -n '2,/^set -euo/p' "$self" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
esac
