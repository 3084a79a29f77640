#!/bin/sh
# Builds the Debian packages (`make package`) and checks them as an archive
# would:
#   - lintian on each .deb: no error and no warning (informational and
#     pedantic tags are shown but pass);
#   - appstreamcli on the form's AppStream metainfo, alone and as installed
#     by the package beside its desktop entry and icon (no network: the
#     screenshot's URL is not fetched); no error and no warning;
#   - desktop-file-validate on the desktop entry.
# Installs lintian, appstream and the rest when missing (install-deps.sh).
# The last line says which check failed.
#
#   scripts/check-package.sh   (from anywhere; uses build-package/)
set -eu
cd "$(dirname "$0")/.."

fail() {
    echo "check-package: $*" >&2
    exit 1
}

./scripts/install-deps.sh
# Only the packages of this build are checked, not any left in build-package/.
rm -f build-package/*.deb
make package >/dev/null || fail "make package failed"

found=0
for deb in build-package/*.deb; do
    [ -f "$deb" ] || continue
    found=$((found + 1))
    echo "check-package: lintian $deb"
    lintian --fail-on error,warning --display-info "$deb" ||
        fail "lintian reports an error or a warning for $deb (tags above)"
done
[ "$found" -eq 2 ] || fail "expected 2 packages in build-package/, found $found"

metainfo=$(ls packaging/*.metainfo.xml)
echo "check-package: appstreamcli validate $metainfo"
appstreamcli validate --no-net "$metainfo" ||
    fail "appstreamcli validate rejects $metainfo"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x build-package/wakebell-setup_*.deb "$tree"
echo "check-package: appstreamcli validate-tree (the installed wakebell-setup)"
appstreamcli validate-tree --no-net "$tree" ||
    fail "appstreamcli validate-tree rejects the metainfo as the package installs it"
desktop-file-validate "$tree"/usr/share/applications/*.desktop ||
    fail "desktop-file-validate rejects the package's desktop entry"
echo "check-package: both packages pass lintian, appstreamcli and desktop-file-validate"
