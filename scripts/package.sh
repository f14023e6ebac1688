#!/usr/bin/env bash
# The release: builds both archives and checks them as a user receives them.
#   build/JuxsNodes-VERSION-linux-x86_64.tar.gz
#   build-windows/JuxsNodes-VERSION-windows-x64.zip
# Each is unpacked into an empty folder under build-package. There every file
# the install guide lists must be, SHA256SUMS must verify; the Windows plug-in
# files must export _mod_descrip alone, import only system DLLs, load under
# Wine in the packaged hostsim.exe with their 30 records and pass its
# validate; the Linux modules must pass the packaged hostsim's validate, run
# from the unpacked folder with nothing of the build tree on its paths.
# Ends with each archive's name, size and files.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fail() { echo "package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(JuxsNodes VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
linux_name=JuxsNodes-$version-linux-x86_64
windows_name=JuxsNodes-$version-windows-x64

[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j"$jobs" --target package >/dev/null
[ -f build-windows/CMakeCache.txt ] || cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-windows -j"$jobs" --target package >/dev/null
linux_archive=build/$linux_name.tar.gz
windows_archive=build-windows/$windows_name.zip

# Unpacked into empty folders; each archive holds its one folder.
check=$PWD/build-package
rm -rf "$check"
mkdir -p "$check/linux" "$check/windows"
(cd "$check/linux" && cmake -E tar xf "../../$linux_archive")
(cd "$check/windows" && cmake -E tar xf "../../$windows_archive")
[ "$(ls "$check/linux")" = "$linux_name" ] || fail "$linux_archive does not hold the one folder $linux_name"
[ "$(ls "$check/windows")" = "$windows_name" ] || fail "$windows_archive does not hold the one folder $windows_name"
lin=$check/linux/$linux_name
win=$check/windows/$windows_name
lin_guide=$lin/share/doc/JuxsNodes/INSTALL.md
win_guide=$win/INSTALL.md

# The guide names the release, and each archive holds every file its section
# of the guide lists ("- `PATH`" lines; a Windows path's \ read as /).
for guide in "$lin_guide" "$win_guide"; do
  [ -f "$guide" ] || fail "no install guide at ${guide#"$check/"}"
  [ "$(head -n 1 "$guide")" = "# Installing JuxsNodes $version" ] || fail "${guide#"$check/"} does not name release $version"
done
check_listed() { # FOLDER GUIDE SECTION
  local n=0 f
  while IFS= read -r f; do
    [ -f "$1/$f" ] || fail "the guide lists $f, which ${1#"$check/"} lacks"
    n=$((n + 1))
  done < <(awk -v h="## $3" '/^## / {on = ($0 == h)} on && /^- `/' "$2" | sed 's/^- `\([^`]*\)`.*/\1/' | tr '\\' /)
  [ "$n" -gt 0 ] || fail "the guide's section \"$3\" lists no files"
  echo "package: ${1#"$check/"}: the $n files the guide lists are there"
}
check_listed "$win" "$win_guide" "What the Windows archive holds"
check_listed "$lin" "$lin_guide" "What the Linux archive holds"

# SHA256SUMS verifies, and covers every other file.
for dir in "$lin" "$win"; do
  (cd "$dir" && sha256sum --quiet --strict -c SHA256SUMS) || fail "${dir#"$check/"}: SHA256SUMS does not verify"
  [ "$(wc -l <"$dir/SHA256SUMS")" = "$(find "$dir" -type f ! -path "$dir/SHA256SUMS" | wc -l)" ] ||
    fail "${dir#"$check/"}: SHA256SUMS does not list every file"
done

# Windows: each plug-in file exports _mod_descrip alone and imports from
# system DLLs only; so does hostsim.exe import.
objdump=x86_64-w64-mingw32-objdump
modules=(for-host-9.6/JuxsNodes.p for-first-node-interface/JuxsNodes.p)
for m in "${modules[@]}"; do
  cmake -DOBJDUMP="$objdump" -DDLL="$win/$m" -P tests/check_dll.cmake >/dev/null
done
for dll in $("$objdump" -p "$win/for-node-developers/hostsim.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
  case $dll in
  kernel32.dll | msvcrt.dll | ucrtbase.dll | shell32.dll | api-ms-win-*) ;;
  *) fail "hostsim.exe imports $dll, which is not part of Windows" ;;
  esac
done

# Windows, under Wine, in the unpacked for-node-developers folder as the guide
# has it: the packaged hostsim.exe loads each plug-in file (..\FOLDER\JuxsNodes.p)
# and lists its 30 records, each activating (Render Info's panel record has
# none), validates it with no failure, shows a panel, and says of each command
# it lacks that it lacks it, in one line with status 2.
wine=$(sed -n 's/^JUXS_WINE:FILEPATH=//p' build-windows/CMakeCache.txt)
[ -x "$wine" ] || fail "no Wine to run hostsim.exe (JUXS_WINE in build-windows)"
export WINEPREFIX=$PWD/build-windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
sh cmake/wine_session.sh start "$wine"
trap 'sh cmake/wine_session.sh stop "$wine"' EXIT
hostsim_exe() { (cd "$win/for-node-developers" && "$wine" hostsim.exe "$@") | tr -d '\r'; }
for m in "${modules[@]}"; do
  m=..\\${m/\//\\}
  out=$(hostsim_exe servers "$m") || fail "hostsim.exe servers $m failed: $out"
  [ "$(head -n 1 <<<"$out")" = "$m: 30 server records" ] || fail "hostsim.exe servers $m: $(head -n 1 <<<"$out")"
  [ "$(grep -cE '^Node(Handler|Interface) .*(activation 0 \(ok\)|no activation)$' <<<"$out")" = 30 ] ||
    fail "hostsim.exe servers $m: not every record activates: $out"
  out=$(hostsim_exe validate "$m") || fail "hostsim.exe validate $m: $(grep FAIL <<<"$out")"
  [[ $(tail -n 1 <<<"$out") =~ ^"$m: "[0-9]+" checks, 0 failed"$ ]] || fail "hostsim.exe validate $m: $(tail -n 1 <<<"$out")"
  echo "package: windows: hostsim.exe under Wine: $m lists 30 records; $(tail -n 1 <<<"$out")"
  out=$(hostsim_exe panel "$m" "Jux Sqrt") || fail "hostsim.exe panel $m \"Jux Sqrt\": $out"
  [ "$(head -n 1 <<<"$out")" = 'Panel of "Sqrt (1)" (Jux Sqrt)' ] || fail "hostsim.exe panel $m \"Jux Sqrt\": $out"
done
out=$(hostsim_exe --version)
[[ $out == "hostsim $version"* ]] || fail "hostsim.exe --version gives \"$out\", not release $version"
for cmd in render save doc; do
  status=0
  err=$( (cd "$win/for-node-developers" && "$wine" hostsim.exe "$cmd" x.json) 2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] && [ "$(wc -l <<<"$err")" = 1 ] && grep -q "^hostsim: $cmd: not in this build" <<<"$err" ||
    fail "hostsim.exe $cmd: status $status, \"$err\""
done

# Linux, from the unpacked folder, with only the system's programs and
# libraries on the paths: the packaged hostsim validates both modules, and
# renders with the one the install put beside it when given none.
if readelf -d "$lin/bin/hostsim" "$lin"/lib/juxsnodes/*/JuxsNodes.p | grep -E 'R(UN)?PATH'; then
  fail "a packaged Linux file carries a library search path"
fi
hostsim() { (cd "$lin" && env -i PATH=/usr/bin:/bin HOME="$check" bin/hostsim "$@"); }
for m in "${modules[@]}"; do
  out=$(hostsim validate "lib/juxsnodes/$m") || fail "hostsim validate $m: $(grep FAIL <<<"$out")"
  tail -n 1 <<<"$out" | grep -qE ": [0-9]+ checks, 0 failed$" || fail "hostsim validate $m: $(tail -n 1 <<<"$out")"
  echo "package: linux: hostsim $(tail -n 1 <<<"$out")"
done
out=$(hostsim --version)
[[ $out == "hostsim $version"* ]] || fail "hostsim --version gives \"$out\", not release $version"
hostsim render share/doc/JuxsNodes/node-reference/sqrt/preview-1.json -o "$check/sqrt.png" --size 32x24 >/dev/null 2>&1 ||
  fail "the packaged hostsim does not render with its own module"
[ -s "$check/sqrt.png" ] || fail "the packaged hostsim wrote no picture"

# The guide's Debian packages are all hostsim needs beyond the base system:
# each library it names is owned by one of them, or by the C and C++ runtimes.
packages=" $(sed -n 's/^ *apt-get install //p' "$lin_guide") libc6 libstdc++6 libgcc-s1 "
owner() { # the package owning a library file, whichever of /lib and /usr/lib it is listed under
  local p
  for p in "$1" "/usr$1" "${1#/usr}" "$(readlink -f "$1")"; do
    dpkg -S "$p" 2>/dev/null | sed -n '1s/:.*//p' | grep . && return 0
  done
  return 1
}
for lib in $(readelf -d "$lin/bin/hostsim" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  path=$(ldd "$lin/bin/hostsim" | awk -v l="$lib" '$1 == l {print $3}')
  pkg=$(owner "$path") || fail "hostsim needs $lib, which no Debian package owns"
  [[ $packages == *" $pkg "* ]] || fail "hostsim needs $lib from $pkg, which the guide's apt-get line does not name"
done

# cmake --install lays out what the Linux archive holds.
rm -rf "$check/prefix"
cmake --install build --prefix "$check/prefix" >/dev/null
diff <(cd "$check/prefix" && find . -type f | sort) <(cd "$lin" && find . -type f ! -path ./SHA256SUMS | sort) >&2 ||
  fail "cmake --install does not lay out what the Linux archive holds"

# What a user gets: each archive's name, size and files (the node reference
# as one line).
for archive in "$windows_archive" "$linux_archive"; do
  echo "package: $(basename "$archive"): $(stat -c %s "$archive") bytes"
  cmake -E tar tvf "$archive" | awk '$1 !~ /^d/ {
      path = $NF; sub(/^[^\/]*\//, "", path)
      if (path ~ /node-reference\//) { sub(/node-reference\/.*/, "node-reference/", path); n[path]++; s[path] += $5; next }
      printf "  %9d  %s\n", $5, path
    }
    END { for (p in n) printf "  %9d  %s (%d files)\n", s[p], p, n[p] }' | sort -k2
done
