#!/usr/bin/env bash
# Builds the Debian package build/tovk_<version>_amd64.deb from the build in
# build/ (brought up to date first, which is quick when it is current) and
# checks it with lintian. Needs root only to install missing Debian packages.
#
# Layout: the server's own directory is /usr/lib/tovk (the program finds what
# stands beside it through /proc/self/exe, so /usr/sbin/tovksrv is a link);
# there the key files and errfiles are links into /etc/tovk, the
# configuration; the registry is in /var/lib/tovk, the logs in /var/log/tovk.
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE=$PWD
BUILD_DIR=${TOVK_BUILD_DIR:-build}

# --- what building the package needs ------------------------------------------
scripts/install-deps.sh dpkg-dev lintian mandoc

scripts/build.sh
VERSION=$(sed -n 's/^project(tovk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$VERSION" ] || { echo "package.sh: no project VERSION in CMakeLists.txt" >&2; exit 1; }
# The first Debian revision of that upstream version.
DEB_VERSION="$VERSION-1"
DEB="$SOURCE/$BUILD_DIR/tovk_${DEB_VERSION}_amd64.deb"
WORK="$SOURCE/$BUILD_DIR/package"
ROOT="$WORK/root"
PKG="$SOURCE/packaging/deb"

rm -rf "$WORK"
mkdir -p "$ROOT/DEBIAN"
umask 022
# The install step gives the programs the run path of an installation
# ($ORIGIN alone, not the build tree's directories).
cmake --install "$BUILD_DIR" --prefix "$WORK/install" >/dev/null
BIN="$WORK/install/bin"

# --- files ------------------------------------------------------------------------
LIBDIR=usr/lib/tovk
install -d "$ROOT/$LIBDIR" "$ROOT/usr/sbin" "$ROOT/usr/bin" "$ROOT/etc/tovk/errfiles" \
  "$ROOT/usr/share/tovk/admin-www" "$ROOT/usr/share/doc/tovk" "$ROOT/lib/systemd/system" \
  "$ROOT/etc/logrotate.d" "$ROOT/usr/share/man/man1" "$ROOT/usr/share/man/man5" \
  "$ROOT/usr/share/man/man8"

install -m 0755 "$BIN/tovksrv" "$ROOT/$LIBDIR/"
for library in admin.dll tovkcpl.cpl libtovkmsg.so libtovklog.so libduravuva.so; do
  install -m 0644 "$BIN/$library" "$ROOT/$LIBDIR/"
done
ln -s ../lib/tovk/tovksrv "$ROOT/usr/sbin/tovksrv"
install -m 0755 "$BIN/tovksc" "$BIN/tovkreg" "$ROOT/usr/sbin/"
install -m 0755 "$BIN/tovkcontrol" "$ROOT/usr/bin/"
# What the server looks for beside itself is configuration: it lives in /etc.
for name in cert.pem key.pem .rnd errfiles; do
  ln -s "/etc/tovk/$name" "$ROOT/$LIBDIR/$name"
done
install -m 0644 "$BIN"/errfiles/* "$ROOT/etc/tovk/errfiles/"

# The administration pages: served only once an alias maps them.
install -m 0644 "$WORK/install/share/tovk/admin-www/index.html" \
  "$WORK/install/share/tovk/admin-www/help.html" \
  "$ROOT/usr/share/tovk/admin-www/"
ln -s ../../../lib/tovk/admin.dll "$ROOT/usr/share/tovk/admin-www/admin.dll"
ln -s /etc/tovk/admin.aut "$ROOT/usr/share/tovk/admin-www/http.aut"
install -m 0644 "$PKG/admin.aut" "$ROOT/etc/tovk/admin.aut"
install -m 0644 "$PKG/default.reg" "$PKG/index.html" "$ROOT/usr/share/tovk/"

# The unit: the text tovksrv /I writes for the installed program and account.
"$BUILD_DIR/bin/tovkunit" /usr/lib/tovk/tovksrv tovk >"$ROOT/lib/systemd/system/tovk.service"
chmod 0644 "$ROOT/lib/systemd/system/tovk.service"
install -m 0644 "$PKG/tovk.logrotate" "$ROOT/etc/logrotate.d/tovk"

# Manual pages, checked first: a warning fails the build.
for page in docs/man/*.[158]; do
  mandoc -T lint -W warning "$page"
  section=${page##*.}
  gzip -9n <"$page" >"$ROOT/usr/share/man/man$section/$(basename "$page").gz"
done

install -m 0644 "$PKG/copyright" "$ROOT/usr/share/doc/tovk/copyright"
install -D -m 0644 "$PKG/lintian-overrides" "$ROOT/usr/share/lintian/overrides/tovk"
# The changelog's date is the last commit's, so that the same tree gives
# the same package.
DATE=$(git -C "$SOURCE" log -1 --format=%aD 2>/dev/null || date -R)
sed -e "s/@VERSION@/$DEB_VERSION/" -e "s/@DATE@/$DATE/" "$PKG/changelog.in" |
  gzip -9n >"$ROOT/usr/share/doc/tovk/changelog.Debian.gz"

# Binaries without their debugging sections, as Debian ships them.
for program in "$ROOT/$LIBDIR/tovksrv" "$ROOT/usr/sbin/tovksc" "$ROOT/usr/sbin/tovkreg" \
  "$ROOT/usr/bin/tovkcontrol"; do
  strip --remove-section=.comment --remove-section=.note "$program"
done
for library in "$ROOT/$LIBDIR"/*.so "$ROOT/$LIBDIR"/admin.dll "$ROOT/$LIBDIR"/tovkcpl.cpl; do
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$library"
done

# --- control --------------------------------------------------------------------
install -m 0755 "$PKG/postinst" "$PKG/prerm" "$PKG/postrm" "$ROOT/DEBIAN/"
(cd "$ROOT" && find etc -type f -printf '/%p\n' | sort) >"$ROOT/DEBIAN/conffiles"
# dpkg-shlibdeps wants a source package's control file to stand in.
mkdir -p "$WORK/shlibs/debian"
printf 'Source: tovk\n\nPackage: tovk\nArchitecture: amd64\n' >"$WORK/shlibs/debian/control"
DEPENDS=$(cd "$WORK/shlibs" && dpkg-shlibdeps -O -l"$ROOT/$LIBDIR" \
  "$ROOT/$LIBDIR/tovksrv" "$ROOT/$LIBDIR"/*.so "$ROOT/$LIBDIR/admin.dll" \
  "$ROOT/$LIBDIR/tovkcpl.cpl" "$ROOT/usr/sbin/tovksc" "$ROOT/usr/sbin/tovkreg" \
  "$ROOT/usr/bin/tovkcontrol" 2> >(grep -v "can't extract name and version" >&2) |
  sed -n 's/^shlibs:Depends=//p')
SIZE=$(du -sk --exclude=DEBIAN "$ROOT" | cut -f1)
sed -e "s/@VERSION@/$DEB_VERSION/" -e "s/@DEPENDS@/$DEPENDS/" -e "s/@INSTALLED_SIZE@/$SIZE/" \
  "$PKG/control.in" >"$ROOT/DEBIAN/control"
(cd "$ROOT" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
  xargs -0 md5sum) >"$ROOT/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$ROOT" "$DEB" >/dev/null
echo "built $DEB"

# --- checks -------------------------------------------------------------------------
lintian --fail-on error "$DEB"
