#!/usr/bin/env bash
# Checks the Debian package as a user meets it: what it holds, what lintian,
# desktop-file-validate and appstreamcli say, and the programs run from an
# unpacked copy in a scratch folder, finding their language files there.
# Usage: check_package.sh PACKAGE.deb VERSION
set -euo pipefail
deb=$1
version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$deb" ] || fail "no package at $deb (make package builds it)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# What it holds.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' > "$scratch/contents"
for path in \
    /usr/bin/velmora /usr/bin/velmora-cli /usr/bin/velmora-sim /usr/lib/velmora/modules/velmora-report-pdf.so \
    /usr/share/velmora/par/Lan_Ver.ini /usr/share/velmora/par/Lan_En.ini /usr/share/velmora/par/Lan.ini \
    /usr/share/applications/org.velmora.Velmora.desktop \
    /usr/share/icons/hicolor/scalable/apps/velmora.svg /usr/share/icons/hicolor/64x64/apps/velmora.png \
    /usr/share/metainfo/org.velmora.Velmora.metainfo.xml \
    /usr/share/man/man1/velmora.1.gz /usr/share/man/man1/velmora-cli.1.gz /usr/share/man/man1/velmora-sim.1.gz \
    /usr/share/doc/velmora/copyright /usr/share/doc/velmora/changelog.Debian.gz; do
    grep -qx "$path" "$scratch/contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libqt6widgets6*) ;; *) fail "Depends does not name Qt: '$depends'" ;; esac
case "$depends" in *libxlsxwriter*) ;; *) fail "Depends does not name libxlsxwriter: '$depends'" ;; esac
case "$depends" in *libpq5*) ;; *) fail "Depends does not name libpq5 (loaded, not linked): '$depends'" ;; esac
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "version $(dpkg-deb -f "$deb" Version)"

# No errors from the Debian and desktop checkers (lintian runs as root only with this flag).
lintian --allow-root --fail-on error "$deb" || fail "lintian reports errors"

# The programs from an unpacked copy, started from a folder without par/.
dpkg-deb -x "$deb" "$scratch/root"
desktop-file-validate "$scratch/root/usr/share/applications/org.velmora.Velmora.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/org.velmora.Velmora.metainfo.xml" ||
    fail "appstreamcli validate"
for page in velmora velmora-cli velmora-sim; do
    gzip -t "$scratch/root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
done
bin=$scratch/root/usr/bin
for program in velmora velmora-cli velmora-sim; do
    out=$("$bin/$program" --version) || fail "$program --version failed"
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
done
mkdir "$scratch/work"
cd "$scratch/work"
export XDG_DATA_HOME=$scratch/data
help=$("$bin/velmora-cli" --help)
grep -qxF "language files: $scratch/root/usr/share/velmora/par" <<<"$help" ||
    fail "velmora-cli does not read the unpacked par/: $help"
grep -qxF "own files (splicer folders, archive): $scratch/data/velmora" <<<"$help" ||
    fail "velmora-cli does not keep its files in XDG_DATA_HOME: $help"
# The language files are read from there: Chinese chosen, the message is Chinese.
printf '[DlgPara]\r\nComm_Lanage=0\r\n' > "$scratch/root/usr/share/velmora/par/Lan_Ver.ini"
if "$bin/velmora-cli" -p "$scratch/no-such-port" read splice 2> "$scratch/err"; then
    fail "read from a missing port succeeded"
fi
grep -q "通讯端口错误" "$scratch/err" || fail "not in Chinese: $(cat "$scratch/err")"
echo "package $(basename "$deb"): contents, lintian, desktop entry, AppStream data and the unpacked programs are right"
