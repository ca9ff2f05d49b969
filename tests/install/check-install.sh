#!/usr/bin/env bash
# Installs the build into a scratch prefix and packs it with CPack, then
# checks that both hold the programs, the desktop entry, the icons and the
# AppStream file, and that the package names its run-time dependencies.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

expected=(
  bin/lumaro bin/lumaro-render bin/lumaro-fetch bin/lumaro-reach
  share/applications/example.lumaro.Lumaro.desktop
  share/metainfo/example.lumaro.Lumaro.metainfo.xml
  share/icons/hicolor/scalable/apps/example.lumaro.Lumaro.svg
  share/icons/hicolor/symbolic/apps/example.lumaro.Lumaro-symbolic.svg
)
status=0

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for f in "${expected[@]}"; do
  if [[ ! -e "$scratch/prefix/$f" ]]; then echo "install lacks $f"; status=1; fi
done
for program in lumaro lumaro-render lumaro-fetch lumaro-reach; do
  if [[ ! -x "$scratch/prefix/bin/$program" ]]; then echo "$program is not executable"; status=1; fi
done
# The installed renderer runs on its own, outside the build tree.
if ! "$scratch/prefix/bin/lumaro-render" --help | grep -q -- --strip-metadata; then
  echo "installed lumaro-render does not run"; status=1
fi

(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/lumaro_*.deb)
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in "${expected[@]}"; do
  if ! grep -qx "./usr/$f" <<<"$listing"; then echo "package lacks /usr/$f"; status=1; fi
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libexiv2-27 qt6-qpa-plugins qt6-image-formats-plugins; do
  if ! grep -q "$dep" <<<"$depends"; then echo "package does not depend on $dep"; status=1; fi
done
if [[ $(dpkg-deb -f "$deb" Package) != lumaro ]]; then echo "package is not named lumaro"; status=1; fi

# The unpacked package as a desktop sees it: the entry validates, runs a
# program the package carries and names an icon it installs, and that
# program starts and keeps running (offscreen, stopped after a few seconds).
tree=$scratch/tree
dpkg-deb -x "$deb" "$tree"
entry=$tree/usr/share/applications/example.lumaro.Lumaro.desktop
if ! desktop-file-validate "$entry"; then echo "packaged desktop entry does not validate"; status=1; fi
if ! appstreamcli validate --no-net "$tree/usr/share/metainfo/example.lumaro.Lumaro.metainfo.xml" \
  >/dev/null; then
  echo "packaged AppStream file does not validate"; status=1
fi
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
if [[ ! -x $tree/usr/bin/$program ]]; then echo "the entry runs $program, not in the package"; status=1; fi
icon=$(sed -n 's/^Icon=//p' "$entry")
if ! compgen -G "$tree/usr/share/icons/hicolor/*/apps/$icon.svg" >/dev/null; then
  echo "the entry's icon $icon is not in the package"; status=1
fi
started=0
LUMARO_HOME=$scratch/home LUMARO_LIBRARY=$scratch/home QT_QPA_PLATFORM=offscreen \
  timeout 4 "$tree/usr/bin/$program" || started=$?
if [[ $started != 124 ]]; then echo "packaged $program did not keep running (exit $started)"; status=1; fi
exit $status
