#!/usr/bin/env bash
# Builds the Debian package of a build with CPack and lists it: the files of
# the installed tree under /usr, and the run-time dependencies, those that
# dpkg-shlibdeps finds (Qt, OpenSSL) and those declared by hand. Installing it
# is a manual check (it changes the machine). Exits 77 (skipped) without the
# Debian package tools. $1: the build directory.
set -euo pipefail
build=$(cd "${1:?usage: check-deb.sh BUILD_DIR}" && pwd)
for tool in dpkg-deb dpkg-shlibdeps cpack; do  # cpack's DEB generator uses the other two
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1) ||
  fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/veilex_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no package written: $(cat "$work/cpack.log")"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
grep -qE '^\./usr/lib/([^/]+/)?veilex/libveilex_ssl\.so$' "$work/contents" ||
  fail "the TLS wrapper is not in the package: $(cat "$work/contents")"
for file in ./usr/bin/veilex ./usr/share/applications/veilex.desktop \
            ./usr/share/icons/hicolor/scalable/apps/veilex.svg ./usr/share/icons/hicolor/64x64/apps/veilex.png \
            ./usr/share/metainfo/org.example.veilex.metainfo.xml ./usr/share/man/man1/veilex.1; do
  grep -qx -- "$file" "$work/contents" || fail "$file is not in the package: $(cat "$work/contents")"
done

# Nothing for dpkg to run: the wrapper needs no ldconfig.
dpkg-deb -I "$deb" >"$work/info"
grep -qE 'postinst|postrm' "$work/info" && fail "maintainer scripts in the package: $(cat "$work/info")"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6core6 libc6 libssl3 qt6-translations-l10n; do
  echo "$depends" | grep -q "\\b$package\\b" || fail "Depends lacks $package: $depends"
done
# Each package once, whether dpkg-shlibdeps found it or it is named by hand.
twice=$(echo "$depends" | tr ',' '\n' | sed -E 's/^ *//; s/[ (].*//' | sort | uniq -d)
[ -z "$twice" ] || fail "Depends names $twice more than once: $depends"
echo "package $(basename "$deb"): Depends: $depends"
