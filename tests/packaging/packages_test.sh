#!/usr/bin/env bash
# The Debian packages, built and checked as an administrator would meet them: run by test.sh after the
# tests. Builds the packaging preset (a Release build of the installed programs only) and its packages,
# then checks:
#   - lintian: no error, and no warning but those packaging/debian/lintian-warnings-kept lists (each with
#     its reason, also in the README);
#   - the packages' contents (every installed file where it belongs) and dependencies (no Qt in
#     qen-training-cli nor qen-training-server);
#   - from the packages alone, unpacked into a throwaway root: the installed vopa-demo makes a demo
#     installation and the installed vopa-build builds the training database from it;
#   - the manual pages render without a warning, one per installed program;
#   - the desktop entry, the AppStream data, the icons and the systemd units validate.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
fail() { echo "FAIL: $*"; exit 1; }
started=$SECONDS

build=build/packaging
cmake --preset packaging >/dev/null
cmake --build --preset packaging -j "$(nproc)" >/dev/null
rm -f "$build"/*.deb
cpack --preset packaging >/dev/null 2>"$build/cpack.err" || fail "cpack failed: $(cat "$build/cpack.err")"
version=$(sed -nE 's/^project\(vopa_training VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
gui="$build/qen-training_${version}_${arch}.deb"
cli="$build/qen-training-cli_${version}_${arch}.deb"
server="$build/qen-training-server_${version}_${arch}.deb"
for deb in "$gui" "$cli" "$server"; do [[ -f $deb ]] || fail "no package $deb"; done
echo "packages built ($((SECONDS - started)) s): $(du -h "$gui" "$cli" "$server" | awk '{printf "%s %s  ", $2, $1}')"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# lintian: errors fail; a warning fails unless it is one of the kept ones.
kept="$source_dir/packaging/debian/lintian-warnings-kept"
lintian --tag-display-limit 0 "$gui" "$cli" "$server" >"$work/lintian" 2>&1 || true
grep -E '^E: ' "$work/lintian" && fail "lintian reports errors"
while read -r line; do
  tag=$(awk '{print $3}' <<<"$line")
  grep -qE "^$tag( |$)" "$kept" || fail "lintian warning not kept in $kept: $line"
done < <(grep -E '^W: ' "$work/lintian" || true)
echo "lintian: no error; warnings kept: $(grep -cE '^W: ' "$work/lintian" || true)"

# Dependencies from the binaries: Qt only for the windows.
for deb in "$cli" "$server"; do
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -qi "libqt" <<<"$depends" && fail "$(basename "$deb") depends on Qt: $depends"
  grep -q "libc6" <<<"$depends" || fail "$(basename "$deb") has no dependencies from its binaries: $depends"
done
dpkg-deb -f "$gui" Depends | grep -q "libqt6widgets6" || fail "qen-training does not depend on Qt's widgets"
dpkg-deb -f "$server" Depends | grep -q "qen-training-cli (= $version)" || fail "the server does not depend on the cli"
for deb in "$gui" "$cli" "$server"; do
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$(basename "$deb") has not the version $version"
done

# Every file where it belongs.
expect() {
  local deb=$1
  shift
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
  for path in "$@"; do grep -qxF "$path" "$work/contents" || fail "$(basename "$deb") lacks $path"; done
}
docs() { echo "/usr/share/doc/$1/copyright" "/usr/share/doc/$1/changelog.gz"; }
expect "$gui" /usr/bin/vopa-training /usr/share/qen-training/FILECOPY.avi /usr/share/man/man1/vopa-training.1.gz \
  /usr/share/applications/it.qen.Training.desktop /usr/share/metainfo/it.qen.Training.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/it.qen.Training.svg /usr/share/icons/hicolor/48x48/apps/it.qen.Training.png \
  /usr/share/icons/hicolor/256x256/apps/it.qen.Training.png $(docs qen-training)
expect "$cli" /usr/bin/vopa-build /usr/bin/vopa-sqlcmd /usr/bin/vopa-demo /usr/share/man/man1/vopa-build.1.gz \
  /usr/share/man/man1/vopa-sqlcmd.1.gz /usr/share/man/man1/vopa-demo.1.gz $(docs qen-training-cli)
expect "$server" /usr/bin/vopa-server /usr/share/man/man1/vopa-server.1.gz /usr/lib/systemd/system/vopa-server.service \
  /usr/lib/systemd/system/vopa-build-nightly@.service /usr/lib/systemd/system/vopa-build-nightly@.timer \
  /usr/lib/sysusers.d/qen-training-server.conf $(docs qen-training-server)
dpkg-deb -c "$gui" | grep -q "/usr/bin/FILECOPY.avi" && fail "the clip is installed beside the programs"

# The packages unpacked into a throwaway root; from there alone, a demo installation and a training build.
root="$work/root"
for deb in "$gui" "$cli" "$server"; do dpkg -x "$deb" "$root"; done
for program in "$root"/usr/bin/*; do
  file "$program" | grep -q "stripped" && ! file "$program" | grep -q "not stripped" || fail "$program is not stripped"
done
mkdir -p "$work/home" "$work/run"
cd "$work"
installed() {
  env -i PATH=/usr/bin:/bin HOME="$work/home" VOPA_DRIVE_C="$work/drive_c" XDG_RUNTIME_DIR="$work/run" \
    QT_QPA_PLATFORM=offscreen "$@"
}
installed "$root/usr/bin/vopa-demo" --rows 2000 >"$work/demo.out" 2>"$work/demo.err" ||
  fail "the installed vopa-demo failed: $(cat "$work/demo.err")"
grep -q "^user amministratore password demo2024" "$work/demo.out" || fail "the demo installation has not its users"
echo demo2024 | installed "$root/usr/bin/vopa-build" --user amministratore --password-stdin --yes \
  >"$work/build.out" 2>"$work/build.err" || fail "the installed vopa-build failed: $(tail -5 "$work/build.err")"
grep -q "tables copied completely" "$work/build.out" || fail "the build did not copy its tables: $(cat "$work/build.out")"
tables=$(installed "$root/usr/bin/vopa-sqlcmd" -S "(local)" -d VoPaDatiTraining -b -h -1 -W \
  -Q "SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES") || fail "the installed vopa-sqlcmd cannot read the training database"
[[ $(sed -n 1p <<<"$tables") -gt 100 ]] || fail "the training database has not its tables: $tables"
installed "$root/usr/bin/vopa-training" --help | grep -q "^usage: vopa-training" || fail "the installed vopa-training has no help"
cd "$source_dir"
echo "the installed programs built the training database: $(tail -1 "$work/build.out" | cut -d';' -f1)"

# Manual pages: one per program, each rendering without a warning at 80 columns.
for program in "$root"/usr/bin/*; do
  page="$root/usr/share/man/man1/$(basename "$program").1.gz"
  [[ -f $page ]] || fail "no manual page for $(basename "$program")"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$(basename "$page") does not render cleanly: $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null >"$work/page"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS" EXAMPLES; do
    grep -qx "$section" "$work/page" || fail "$(basename "$page") has no $section"
  done
  # Text shown as it is (the examples) is not broken by man: a line too long runs past the terminal.
  wide=$(awk 'length > 80' "$work/page")
  [[ -z $wide ]] || fail "$(basename "$page") has lines wider than 80 columns: $wide"
done

# Desktop entry, AppStream data, icons.
desktop-file-validate "$root/usr/share/applications/it.qen.Training.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/it.qen.Training.metainfo.xml" >"$work/appstream" 2>&1 ||
  fail "the AppStream data does not validate: $(cat "$work/appstream")"
# One application id: the entry's icon is the theme's icon of that name, the AppStream component has that
# id and launches that entry.
app=it.qen.Training
grep -qx "Icon=$app" "$root/usr/share/applications/$app.desktop" || fail "the desktop entry's icon is not $app"
grep -q "<id>$app</id>" "$root/usr/share/metainfo/$app.metainfo.xml" || fail "the AppStream id is not $app"
grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$root/usr/share/metainfo/$app.metainfo.xml" ||
  fail "the AppStream data does not launch $app.desktop"
grep -qx "Exec=vopa-training" "$root/usr/share/applications/$app.desktop" || fail "the desktop entry does not start vopa-training"
for size in 48 256; do
  rsvg-convert -w $size -h $size "$root/usr/share/icons/hicolor/scalable/apps/it.qen.Training.svg" -o "$work/icon.png"
  cmp -s "$work/icon.png" "$root/usr/share/icons/hicolor/${size}x${size}/apps/it.qen.Training.png" ||
    fail "the ${size} px icon is not the SVG's rendering (packaging/desktop/icons/render.sh)"
done

# systemd: the units verify against the unpacked root (their programs are looked for there), the user's
# file parses.
# What the units need of a system: the host's own units (sysinit.target, ...) and /bin/sh, which is
# essential on every Debian system; put where they shadow nothing of the packages.
units="$root/usr/lib/systemd/system"
mkdir -p "$root/usr/local/lib/systemd" "$root/bin"
cp -r /usr/lib/systemd/system "$root/usr/local/lib/systemd/"
cp /bin/sh "$root/bin/sh"
cp "$units/vopa-build-nightly@.service" "$units/vopa-build-nightly@amministratore.service"
cp "$units/vopa-build-nightly@.timer" "$units/vopa-build-nightly@amministratore.timer"
SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --root="$root" --man=no "$units/vopa-server.service" \
  "$units/vopa-build-nightly@amministratore.service" "$units/vopa-build-nightly@amministratore.timer" >"$work/verify" 2>&1 ||
  fail "the systemd units do not verify: $(cat "$work/verify")"
[[ ! -s "$work/verify" ]] || fail "systemd-analyze verify complains: $(cat "$work/verify")"
systemd-sysusers --root="$root" --dry-run qen-training-server.conf >"$work/sysusers" 2>&1 ||
  fail "the sysusers.d file does not parse: $(cat "$work/sysusers")"
grep -q "Creating user 'vopa'" "$work/sysusers" || fail "the sysusers.d file makes no user vopa: $(cat "$work/sysusers")"

echo "packages checked in $((SECONDS - started)) s"
