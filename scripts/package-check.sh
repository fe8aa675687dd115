#!/usr/bin/env bash
# The installation and the Debian package, checked: installs into a temporary prefix and lists
# what came against packaging/installed-files.txt, validates the desktop file and the AppStream
# metainfo, builds the package with cpack and runs lintian on it (no errors or warnings).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh desktop-file-utils appstream lintian dpkg-dev file
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) > build/installed-files.txt
diff -u packaging/installed-files.txt build/installed-files.txt
desktop-file-validate packaging/com.korvath.strandis.desktop
appstreamcli validate --no-net --pedantic packaging/com.korvath.strandis.metainfo.xml
rm -f build/strandis_*.deb
(cd build && cpack -G DEB >/dev/null)
lintian --fail-on error,warning --pedantic build/strandis_*.deb
echo "Package: $(ls build/strandis_*.deb): installed files, desktop file, metainfo and lintian all fine"
