#!/usr/bin/env bash
# Builds PostgreSQL's client library libpq, with the OpenSSL it speaks TLS through,
# as static libraries for x86_64-w64-mingw32 from Debian's own source packages
# (postgresql-15, openssl, with Debian's patches), so the Windows program reaches a
# team archive over TLS (sslmode=verify-full) as the Linux one does.
#
# Only what a client needs is built: OpenSSL's libcrypto and libssl (no programs,
# tests, documents, engines or loadable modules), and libpq with the parts of
# PostgreSQL's src/common and src/port it is linked with (PostgreSQL's own configure,
# for mingw). Differences from Debian's build, each for a static library in a
# program of ours:
#  - libpq keeps its own small pthread emulation for Windows; its functions share
#    their names with the winpthreads that std::thread uses, so in libpq.a they are
#    renamed (pq_pthread_mutex_lock...) and each side keeps its own;
#  - OpenSSL's MD5_Init, MD5_Update... are renamed in libcrypto.a (openssl_MD5_Init...):
#    libxlsxwriter's own MD5 has the same names;
#  - libpq's version resource stays out of libpq.a (the program has its own);
#  - no Kerberos (GSSAPI), LDAP, readline, zlib or ICU.
#
# The result goes to a cache folder outside the repo:
#   ${VELMORA_WINDOWS_CACHE:-$HOME/.cache/velmora-windows}/libpq-15.18-mingw
# (include/libpq-fe.h, postgres_ext.h, pg_config_ext.h, include/openssl/;
# lib/libpq.a, libpgcommon_shlib.a, libpgport_shlib.a, libssl.a, libcrypto.a; found
# by CMake through the toolchain file) and is reused while its stamp matches this
# recipe. Prints that folder on stdout. Quiet: full log in <cache>/logs/libpq.log.
# Takes about six minutes on two cores (OpenSSL about three, PostgreSQL's configure and
# libpq about three); an interrupted run keeps a finished OpenSSL.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=lib.sh
source "$here/lib.sh"

PG_VERSION=15.18
PG_DEB_VERSION=15.18-0+deb12u1
PG_ORIG=postgresql-15_15.18.orig.tar.bz2
PG_ORIG_SHA256=11df0df97fe3ea4ba9a791faaf39cee1d2fe571e78885b5b55d8517d27c323b4
OPENSSL_VERSION=3.0.20
OPENSSL_DEB_VERSION=3.0.20-1~deb12u2
OPENSSL_ORIG=openssl_3.0.20.orig.tar.gz
OPENSSL_ORIG_SHA256=c80a01dfc70ece4dc21168932c37739042d404d46ccc81a5986dd75314ecda6f
RECIPE=2

triple=x86_64-w64-mingw32
cc=$triple-gcc-posix
cflags=(-O2 -DNDEBUG)
# What libpq needs of OpenSSL, and nothing that loads code at run time (its programs
# and documents are left out by building the target build_libs alone). The folder
# of its configuration file (read when libpq starts TLS) is the one Windows builds
# of OpenSSL use, writable by administrators only, not a path of this machine.
openssl_options=(
    mingw64 no-shared no-tests no-module no-dso no-engine no-legacy
    no-ui-console no-comp no-ssl3 no-srp no-cmp no-cms no-ts no-gost
    "--openssldir=C:/Program Files/Common Files/SSL"
)
pg_options=(
    "--host=$triple" --with-ssl=openssl --without-readline --without-zlib --without-icu
    --without-gssapi --without-ldap --disable-nls --enable-thread-safety
)
# OpenSSL's old MD5 functions, which the MD5 bundled with libxlsxwriter defines too:
# renamed inside libcrypto.a (OpenSSL calls them itself; we call neither directly).
md5_names=(MD5 MD5_Init MD5_Update MD5_Final MD5_Transform)
# libpq's pthread emulation (pthread-win32.c), renamed inside libpq.a.
pthread_names=(pthread_self pthread_setspecific pthread_getspecific pthread_mutex_init
               pthread_mutex_lock pthread_mutex_unlock)

prefix="$VELMORA_WINDOWS_CACHE/libpq-$PG_VERSION-mingw"
build="$VELMORA_WINDOWS_CACHE/build/libpq-$PG_VERSION-mingw"
log="$VELMORA_WINDOWS_CACHE/logs/libpq.log"
openssl_stamp="openssl $OPENSSL_DEB_VERSION sha256 $OPENSSL_ORIG_SHA256 options ${openssl_options[*]} flags ${cflags[*]}"
stamp_text="postgresql-15 $PG_DEB_VERSION sha256 $PG_ORIG_SHA256 options ${pg_options[*]} $openssl_stamp recipe $RECIPE"

if [ -f "$prefix/.velmora-complete" ] && [ "$(cat "$prefix/.velmora-complete")" = "$stamp_text" ]; then
    echo "$prefix"
    exit 0
fi

command -v "$cc" >/dev/null || die "$cc missing: run scripts/windows/install-deps.sh"
command -v perl >/dev/null || die "perl missing (OpenSSL's Configure)"

mkdir -p "$VELMORA_WINDOWS_CACHE/logs"
: >"$log"
echo "libpq $PG_VERSION and OpenSSL $OPENSSL_VERSION for mingw: log in $log" >&2
started=$(date +%s)

openssl_src="$(fetch_debian_source openssl "$OPENSSL_DEB_VERSION" "$OPENSSL_ORIG" "$OPENSSL_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"
pg_src="$(fetch_debian_source postgresql-15 "$PG_DEB_VERSION" "$PG_ORIG" "$PG_ORIG_SHA256" "$VELMORA_WINDOWS_CACHE/src" "$log")"

# OpenSSL: the two libraries and their headers into the prefix.
if [ ! -f "$build/openssl/.velmora-installed" ] ||
   [ "$(cat "$build/openssl/.velmora-installed")" != "$openssl_stamp" ]; then
    rm -rf "$build" "$prefix"
    mkdir -p "$build/openssl" "$prefix/lib" "$prefix/include"
    (cd "$build/openssl" && run_logged "$log" perl "$openssl_src/Configure" "${openssl_options[@]}" \
        --prefix="$prefix" --libdir=lib CC="$cc" AR="$triple-ar" RANLIB="$triple-ranlib" \
        RC="$triple-windres" CFLAGS="${cflags[*]}")
    run_logged "$log" make -C "$build/openssl" -j"$VELMORA_WINDOWS_JOBS" build_libs
    printf '%s' "$openssl_stamp" >"$build/openssl/.velmora-installed"
    echo "  OpenSSL built after $(( $(date +%s) - started )) s" >&2
fi
mkdir -p "$prefix/lib" "$prefix/include/openssl"
renames=()
for name in "${md5_names[@]}"; do renames+=(--redefine-sym "$name=openssl_$name"); done
for lib in libssl.a libcrypto.a; do
    run_logged "$log" "$triple-objcopy" "${renames[@]}" "$build/openssl/$lib" "$prefix/lib/$lib"
done
cp "$openssl_src"/include/openssl/*.h "$build/openssl"/include/openssl/*.h "$prefix/include/openssl/"

# libpq: PostgreSQL's configure for mingw, then the three client libraries only.
rm -rf "$build/pg"
mkdir -p "$build/pg"
(cd "$build/pg" && run_logged "$log" "$pg_src/configure" "${pg_options[@]}" \
    --with-includes="$prefix/include" --with-libraries="$prefix/lib" \
    CC="$cc" CFLAGS="${cflags[*]}" LIBS="-lcrypt32 -lws2_32 -lgdi32")
# The headers PostgreSQL generates (error codes...), which a build from the top makes first.
run_logged "$log" make -C "$build/pg/src/backend" generated-headers
run_logged "$log" make -C "$build/pg/src/port" -j"$VELMORA_WINDOWS_JOBS" libpgport_shlib.a
run_logged "$log" make -C "$build/pg/src/common" -j"$VELMORA_WINDOWS_JOBS" libpgcommon_shlib.a
# libpq's objects as a static archive (its Makefile makes a DLL on Windows), without
# the version resource.
cat >"$build/pg/static-libpq.mk" <<'EOF'
velmora-static-libpq: $(filter-out $(WIN32RES),$(OBJS))
	rm -f libpq-static.a
	$(AR) rcs libpq-static.a $^
EOF
run_logged "$log" make -C "$build/pg/src/interfaces/libpq" -j"$VELMORA_WINDOWS_JOBS" \
    -f Makefile -f "$build/pg/static-libpq.mk" velmora-static-libpq
renames=()
for name in "${pthread_names[@]}"; do renames+=(--redefine-sym "$name=pq_$name"); done
run_logged "$log" "$triple-objcopy" "${renames[@]}" \
    "$build/pg/src/interfaces/libpq/libpq-static.a" "$prefix/lib/libpq.a"
cp "$build/pg/src/common/libpgcommon_shlib.a" "$build/pg/src/port/libpgport_shlib.a" "$prefix/lib/"
cp "$pg_src/src/interfaces/libpq/libpq-fe.h" "$pg_src/src/include/postgres_ext.h" \
    "$build/pg/src/include/pg_config_ext.h" "$prefix/include/"
# Nothing renamed may stay under its own name.
if "$triple-nm" "$prefix/lib/libpq.a" | grep -qE " T ($(IFS='|'; echo "${pthread_names[*]}"))\$"; then
    die "libpq.a still defines pthread functions under their own names"
fi
if "$triple-nm" "$prefix/lib/libcrypto.a" | grep -qE " T ($(IFS='|'; echo "${md5_names[*]}"))\$"; then
    die "libcrypto.a still defines MD5 functions under their own names"
fi
printf '%s' "$stamp_text" >"$prefix/.velmora-complete"
echo "  built in $(( $(date +%s) - started )) s" >&2
echo "$prefix"
