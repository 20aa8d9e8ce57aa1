#!/usr/bin/env bash
# The Debian package: how long `make deb` takes on a built tree (the install
# into the staging tree, the dependency scan and the archive), the package's
# size and its installed size.
#   bench_package.sh <build folder> <scratch folder> [runs]
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
runs=${3:-3}
mkdir -p "$out"
times=()
for ((i = 0; i < runs; ++i)); do
  rm -rf "$out/pkg"
  start=$(date +%s.%N)
  (cd "$build" && cpack -G DEB -B "$out/pkg" >"$out/cpack.log" 2>&1)
  end=$(date +%s.%N)
  times+=("$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')")
done
median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}')
deb=$(ls "$out"/pkg/tunabel_*.deb)
printf 'bench package_time median=%.1fs floor=- ratio=- target=report runs=%d ok\n' "$median" "$runs"
printf 'bench package_size median=%dKiB floor=- ratio=- target=report ok\n' $(($(stat -c %s "$deb") / 1024))
printf 'bench package_installed_size median=%sKiB floor=- ratio=- target=report ok\n' \
  "$(dpkg-deb -f "$deb" Installed-Size)"
