#!/usr/bin/env bash
# Builds the Debian packages (pellumin, libcorvane1, libcorvane-dev) from
# this checkout with dpkg-buildpackage -b -us -uc, in a copy of the tracked
# files under OUT_DIR/src, so that neither the checkout nor its parent
# folder gets build files; the .deb files land in OUT_DIR. Then runs lintian
# on them when it is installed: an error fails, warnings are listed.
#
# Usage: build-packages.sh [OUT_DIR] [--help]   (default OUT_DIR: build/package)
# Environment: JOBS=N parallel jobs (default 2); ccache is used when
# installed (CCACHE_DIR as set).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
out=${1:-$root/build/package}
mkdir -p "$out" && out=$(cd "$out" && pwd)

for tool in dpkg-buildpackage dh; do
  command -v "$tool" >/dev/null ||
    { echo "build-packages: no $tool (Debian's dpkg-dev and debhelper)" >&2; exit 1; }
done

# One version: the package's must be project(VERSION).
cmake_version=$(sed -n 's/^project(Pellumin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb_version=$(sed -n '1s/^pellumin (\([^)-]*\).*/\1/p' "$root/debian/changelog")
if [ "$cmake_version" != "$deb_version" ]; then
  echo "build-packages: debian/changelog says $deb_version, CMakeLists.txt project(VERSION) $cmake_version" >&2
  exit 1
fi

echo "build-packages: copying the tracked files to $out/src"
rm -rf "$out/src" "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes
mkdir -p "$out/src"
(cd "$root" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$out/src") ||
  { echo "build-packages: cannot copy the sources" >&2; exit 1; }

launcher=""
command -v ccache >/dev/null && launcher=ccache
echo "build-packages: dpkg-buildpackage -b -us -uc (${JOBS:-2} jobs${launcher:+, ccache})"
(cd "$out/src" &&
  DEB_BUILD_OPTIONS="parallel=${JOBS:-2} nocheck" PELLUMIN_COMPILER_LAUNCHER=$launcher \
  CCACHE_BASEDIR="$out/src" dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1) || {
  tail -n 40 "$out/build.log" >&2
  echo "build-packages: dpkg-buildpackage failed (log: $out/build.log)" >&2
  exit 1
}
# dpkg-buildpackage writes beside the source folder, which is $out.
ls "$out"/*.deb

if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$out"/*.changes >"$out/lintian.log" 2>&1
  errors=$(grep -c '^E: ' "$out/lintian.log")
  warnings=$(grep -c '^W: ' "$out/lintian.log")
  sed -n '/^[EW]: /p' "$out/lintian.log"
  echo "build-packages: lintian: $errors errors, $warnings warnings (log: $out/lintian.log)"
  [ "$errors" -eq 0 ] || exit 1
else
  echo "build-packages: skipped: lintian (not installed)"
fi
