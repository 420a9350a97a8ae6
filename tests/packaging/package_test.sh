#!/usr/bin/env bash
# package_test.sh BUILD_DIR CPACK VERSION
# Makes the Debian package from the build folder's install rules (cpack, into a temporary folder)
# and checks it without installing anything: its control fields, the files it holds, that the
# unpacked programs start, the desktop entry and metainfo validators, and lintian.
set -uo pipefail
build=$1 cpack=$2 version=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

echo "== cpack"
if ! (cd "$build" && timeout 300 "$cpack" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL cpack did not make the package"
  exit 1
fi
debs=("$work"/out/*.deb)
arch=$(dpkg --print-architecture)
deb=$work/out/lessonforge_${version}_${arch}.deb
if [ ${#debs[@]} -ne 1 ] || [ "${debs[0]}" != "$deb" ]; then
  echo "FAIL expected one package $(basename "$deb"), cpack made: ${debs[*]##*/}"
  exit 1
fi

echo "== control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = lessonforge ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
for f in Maintainer Section Priority Description Installed-Size; do
  [ -n "$(field $f)" ] || fail "no $f field"
done
# Depends: what dpkg-shlibdeps found in the binaries, and the office suite the renderer starts.
depends=$(field Depends)
for d in 'libqt6widgets6 ' 'libqt6core6 ' 'libpq5 ' 'libcups2 ' 'libuno-cppu3 ' 'libzip4 ' 'libsqlite3-0 ' \
  'libreoffice-impress-nogui | libreoffice-impress' 'libreoffice-writer-nogui | libreoffice-writer'; do
  [[ ", $depends" == *", $d"* ]] || fail "Depends lacks '$d': $depends"
done
recommends=$(field Recommends)
for r in cups cups-client printer-driver-cups-pdf fonts-noto-cjk fonts-noto-core; do
  [[ ", $recommends," == *", $r,"* ]] || fail "Recommends lacks $r: $recommends"
done
echo "Depends: $depends"
echo "Recommends: $recommends"

echo "== files"
root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
programs=(lessonforge lessonforge-run lessonforge-deck lessonforge-doc tessarel-admin)
expected=(usr/share/applications/lessonforge.desktop
  usr/share/icons/hicolor/scalable/apps/lessonforge.svg
  usr/share/metainfo/org.lessonforge.lessonforge.metainfo.xml
  usr/share/doc/lessonforge/copyright usr/share/doc/lessonforge/changelog.gz
  usr/share/man/man8/tessarel-admin.8.gz
  "usr/share/lessonforge/templates/TOC Template.docx"
  "usr/share/lessonforge/templates/Index Template.docx")
for p in "${programs[@]}"; do
  expected+=("usr/bin/$p")
  [ "$p" = tessarel-admin ] || expected+=("usr/share/man/man1/$p.1.gz")
done
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/lessonforge.png")
done
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
# The shipped templates are Word documents with a header for the course's name.
for f in "$root"/usr/share/lessonforge/templates/*.docx; do
  unzip -p "$f" word/header1.xml | grep -q 'Course Name' || fail "$(basename "$f") holds no course name header"
done
for p in "${programs[@]}"; do
  [ -x "$root/usr/bin/$p" ] || fail "/usr/bin/$p is not executable"
  # A program must not look for libraries in the build folder (or the current one).
  runpath=$(readelf -d "$root/usr/bin/$p" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  [ -z "$runpath" ] || [ "$runpath" = /usr/lib/libreoffice/program ] ||
    fail "/usr/bin/$p has the library path '$runpath'"
done
# Nothing of the package may refer to the tree it was built in.
if grep -rlF "$(cd "$build" && pwd)" "$root" > "$work/refs"; then
  fail "files name the build folder: $(cat "$work/refs")"
fi
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$root/usr/share/applications/lessonforge.desktop")
[ -x "$root/usr/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which the package lacks"
[ "$(zcat "$root/usr/share/doc/lessonforge/changelog.gz" | sed -n '1s/^lessonforge (\([^)]*\)).*/\1/p')" = "$version" ] ||
  fail "the changelog's latest entry is not version $version"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.lessonforge.lessonforge.metainfo.xml" ||
  fail "the metainfo has no release $version"

echo "== the unpacked programs"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
for p in lessonforge-run tessarel-admin; do
  out=$("$root/usr/bin/$p" --help 2> "$work/stderr")
  status=$?
  [ $status -eq 0 ] || fail "/usr/bin/$p --help exited with status $status: $out $(cat "$work/stderr")"
  [[ "$out" == "usage: $p "* ]] || fail "/usr/bin/$p --help printed no usage: $out"
done
[ -z "$(find "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" -mindepth 1)" ] || fail "--help wrote files"

echo "== desktop-file-validate, appstreamcli"
desktop-file-validate "$root/usr/share/applications/lessonforge.desktop" ||
  fail "desktop-file-validate refused the desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.lessonforge.lessonforge.metainfo.xml" ||
  fail "appstreamcli refused the metainfo"

echo "== lintian"
# Errors fail the test; warnings and notes are shown. The overridden tag is in
# packaging/lintian-overrides, with its reason.
timeout 300 lintian --fail-on error --display-info "$deb" 2>&1 | grep -v 'running with root privileges'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian found errors"

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the package $(basename "$deb") passed"
