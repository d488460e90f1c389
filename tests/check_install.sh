#!/bin/sh
# Installs the build tree into a temporary prefix, checks what lands there with the
# freedesktop validators, starts the installed program once to see it register itself, and,
# when lintian is installed, checks the Debian package made from the same tree.
#   tests/check_install.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/kelvor bin/AddStart share/applications/org.kelvor.kelvor.desktop \
    share/icons/hicolor/16x16/apps/kelvor.png share/icons/hicolor/32x32/apps/kelvor.png \
    share/icons/hicolor/scalable/apps/kelvor.svg share/metainfo/org.kelvor.kelvor.metainfo.xml \
    share/man/man1/kelvor.1.gz share/man/man1/AddStart.1.gz \
    share/doc/kelvor/copyright share/doc/kelvor/changelog.gz; do
    [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
for size in 16 32; do
    actual=$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/apps/kelvor.png")
    [ "$actual" = "${size}x${size}" ] || { echo "the ${size}x${size} icon is $actual"; exit 1; }
done
# The manual pages format without a warning from groff (as lintian checks them).
for page in kelvor AddStart; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "man $page: $warnings"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/org.kelvor.kelvor.desktop"
appstreamcli validate-tree --no-net "$prefix"
appstreamcli validate --strict --pedantic --no-net \
    "$prefix/share/metainfo/org.kelvor.kelvor.metainfo.xml"

# The installed kelvor finds the installed AddStart beside it.
XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/kelvor" &
kelvor=$!
entry=$work/config/autostart/Kelvor.desktop
tries=0
while [ ! -f "$entry" ] && [ $tries -lt 200 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
kill -TERM $kelvor
wait $kelvor
grep -qxF "Exec=\"$prefix/bin/kelvor\"" "$entry" || { echo "no autostart entry for $prefix/bin/kelvor"; exit 1; }
grep -qxF "TryExec=$prefix/bin/kelvor" "$entry" || { echo "the autostart entry has no TryExec"; exit 1; }

# The package of this tree (scripts/package adds Debian's hardening flags): no error and no
# warning, pedantic tags included.
if command -v lintian >/dev/null && command -v cpack >/dev/null; then
    (cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
    lintian --pedantic --fail-on error,warning "$work"/package/kelvor_*.deb
fi
echo "installed tree is complete and valid"
