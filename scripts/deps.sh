#!/usr/bin/env bash
# Installs what the builds and tests need, only when it is missing.
# Idempotent; never adds the i386 architecture (wine32 breaks this machine).
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev googletest \
         g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev \
         wine wine64 xvfb xauth locales osslsigncode unzip zip binutils-mingw-w64-x86-64 \
         fonts-wqy-zenhei openssl python3; do
  have_pkg "$p" || need+=("$p")
done

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
if [ ${#need[@]} -gt 0 ]; then
  echo "deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The players' machines run with the Chinese ANSI code page (936); Wine takes it from the locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
echo "deps: ok"
