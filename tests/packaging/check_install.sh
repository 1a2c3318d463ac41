#!/usr/bin/env bash
# Checks what makes the program at home on a desktop: the desktop file and the
# metainfo pass their validators, and cmake --install puts both programs, the
# desktop file, the icons and the metainfo where a desktop looks for them.
# Usage: check_install.sh SOURCE_DIR BUILD_DIR APP_ID
set -euo pipefail
src=$1
build=$2
id=$3

for tool in desktop-file-validate appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Validators print hints too; only errors and warnings fail.
validate_desktop() {
  local out
  out=$(desktop-file-validate "$1" 2>&1) || fail "desktop-file-validate $1: $out"
  if grep -E ': (error|warning):' <<<"$out"; then
    fail "desktop-file-validate $1"
  fi
}

validate_desktop "$src/resources/$id.desktop"
appstreamcli validate --no-net "$build/resources/$id.metainfo.xml" ||
  fail "appstreamcli validate $build/resources/$id.metainfo.xml"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

share=$prefix/share
for f in bin/quillmarsh bin/quillmarsh-cli "share/applications/$id.desktop" \
  "share/metainfo/$id.metainfo.xml" "share/icons/hicolor/scalable/apps/$id.svg" \
  share/doc/quillmarsh/copyright; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/quillmarsh" ] || fail "bin/quillmarsh is not executable"
for size in 16 24 32 48 64 128 256 512; do
  png=$share/icons/hicolor/${size}x${size}/apps/$id.png
  [ -f "$png" ] || fail "not installed: $png"
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not a ${size}px PNG"
done

desktop=$share/applications/$id.desktop
validate_desktop "$desktop"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" ||
  fail "appstreamcli validate (installed)"

# The menu entry starts a program that is installed, by the icon that is installed.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
program=${exec_line%% *}
[ -x "$prefix/bin/$program" ] || fail "Exec=$exec_line names no installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ "$icon" = "$id" ] || fail "Icon=$icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$share/metainfo/$id.metainfo.xml" || fail "metainfo does not launch $id.desktop"

# The copyright file is in Debian's machine-readable form, and every licence
# it names comes with its text (an indented body after the License: line).
copyright=$share/doc/quillmarsh/copyright
head -1 "$copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "$copyright: no Format line"
grep -qx 'Files: \*' "$copyright" || fail "$copyright: no 'Files: *' paragraph"
awk '/^License: /{want=1; name=$0; next}
     want{if ($0 !~ /^ /) {print name; bad=1}; want=0}
     END{exit bad || want}' "$copyright" >&2 || fail "$copyright: a licence without its text"

# The installed program answers without a display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$program" --version)
[[ "$version" == Quillmarsh\ * ]] || fail "installed $program --version printed: $version"
echo "desktop integration: all checks passed"
