#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a desktop and a
# moved tree expect: every file in place, the menu entry and the metadata
# valid, the program's run path relative to itself, and the program, copied
# elsewhere, starting and finding its TLS wrapper there.
# $1: the build directory.
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# The wrapper's directory: lib/<multiarch triplet>/veilex on Debian.
wrapper_dir=$(cd "$prefix" && find lib -name libveilex_ssl.so -printf '%h\n' | head -n 1)
[ -n "$wrapper_dir" ] || fail "the TLS wrapper is not installed under lib/"
for file in bin/veilex "$wrapper_dir/libveilex_ssl.so" share/applications/veilex.desktop \
            share/icons/hicolor/scalable/apps/veilex.svg share/icons/hicolor/64x64/apps/veilex.png \
            share/metainfo/org.example.veilex.metainfo.xml share/man/man1/veilex.1; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
file "$prefix/share/icons/hicolor/64x64/apps/veilex.png" >"$work/file"
grep -q 'PNG image data, 64 x 64' "$work/file" || fail "the 64 px icon is not a 64 x 64 PNG: $(cat "$work/file")"

desktop-file-validate "$prefix/share/applications/veilex.desktop" || fail "desktop-file-validate"
grep -qx 'Categories=Network;' "$prefix/share/applications/veilex.desktop" || fail "Categories"
appstreamcli validate --no-net "$prefix/share/metainfo/org.example.veilex.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate --no-net"
LANG=C.UTF-8 groff -man -Tutf8 -ww -z "$prefix/share/man/man1/veilex.1" 2>"$work/groff" &&
  [ ! -s "$work/groff" ] || fail "man page: $(cat "$work/groff")"

[ -d "$prefix/share/veilex" ] || fail "share/veilex is not installed"

# The run path names the library's place relative to the program, nothing of
# the build tree.
runpath=$(readelf -d "$prefix/bin/veilex" | grep -E '\((RUNPATH|RPATH)\)' || true)
[[ "$runpath" == *"[\$ORIGIN/../$wrapper_dir]"* ]] || fail "run path: $runpath, wrapper in $wrapper_dir"
[[ "$runpath" != *"$build"* ]] || fail "run path into the build tree: $runpath"

# Moved elsewhere, the tree still holds together: the run path, resolved as
# the loader does from the program's own directory, reaches a wrapper whose
# own libraries (OpenSSL) all resolve.
mv "$prefix" "$work/moved"
moved=$work/moved
wrapper=$moved/bin/../$wrapper_dir/libveilex_ssl.so
[ -f "$wrapper" ] || fail "no wrapper at \$ORIGIN/../$wrapper_dir from the moved program"
ldd "$wrapper" >"$work/ldd"
grep -q 'not found' "$work/ldd" && fail "the wrapper's libraries: $(cat "$work/ldd")"
grep -q 'libssl\.so' "$work/ldd" || fail "the wrapper does not link OpenSSL: $(cat "$work/ldd")"

# The moved program's own loader finds it: a probe preloaded into the program
# opens the wrapper by name, as the TLS loader does, before main runs. The
# dynamic loader then searches the program's run path, from where the program
# now lies. (Under AddressSanitizer its runtime must come first.)
cat >"$work/probe.c" <<'PROBE'
#include <dlfcn.h>
#include <stdio.h>
#include <unistd.h>
__attribute__((constructor)) static void probe(void) {
  void* wrapper = dlopen("libveilex_ssl.so", RTLD_NOW);
  printf("%s\n", wrapper != NULL ? "wrapper found" : dlerror());
  fflush(stdout);
  _exit(wrapper != NULL ? 0 : 1);
}
PROBE
cc -shared -fPIC -o "$work/probe.so" "$work/probe.c" || fail "cannot build the loader probe"
ldd "$moved/bin/veilex" >"$work/ldd-veilex"
preload=$(awk '/libasan/ {print $3}' "$work/ldd-veilex")
LD_PRELOAD="${preload:+$preload }$work/probe.so" "$moved/bin/veilex" >"$work/probe" 2>&1 ||
  fail "the moved program does not find its TLS wrapper: $(cat "$work/probe")"
# The same program copied alone, without its lib/ beside it, does not: the
# probe can tell.
mkdir "$work/alone"
cp "$moved/bin/veilex" "$work/alone/"
LD_PRELOAD="${preload:+$preload }$work/probe.so" "$work/alone/veilex" >"$work/probe" 2>&1 &&
  fail "the probe found a wrapper where there is none: $(cat "$work/probe")"

# The moved program runs: `--help` when it answers it, else it starts its
# window (offscreen) and creates its data file beside itself, the copied
# tree being writable.
export QT_QPA_PLATFORM=offscreen HOME=$work/home XDG_DATA_HOME=$work/xdg
status=0
timeout 10 "$moved/bin/veilex" --help >"$work/help" 2>&1 || status=$?
if [ "$status" -eq 0 ] && [ -s "$work/help" ]; then
  grep -q -- '--data' "$work/help" || fail "--help does not mention --data"
elif [ "$status" -ne 124 ]; then
  fail "the moved program ended with $status: $(cat "$work/help")"
fi
# Its window, though its bin/ is writable, keeps the links in the user's data
# directory: it is an installed tree.
timeout 10 "$moved/bin/veilex" >"$work/window" 2>&1 || true
[ -f "$work/xdg/veilex/veilex.mlb" ] || fail "the installed program did not create $work/xdg/veilex/veilex.mlb"
[ ! -e "$moved/bin/veilex.mlb" ] || fail "the installed program keeps its links in bin/"
echo "installed tree checked"
