#!/usr/bin/env bash
# Installs everything Vitrel needs to build, test, fuzz and render on Debian 12
# (bookworm), as root. Safe to run again: it only adds what is missing.
#
# - Mesa's lavapipe (software Vulkan with ray tracing) comes from
#   bookworm-backports; bookworm's own Mesa lacks the ray-tracing extensions.
# - Vulkan Memory Allocator (header only) comes from trixie, pinned so that
#   nothing else is ever taken from trixie.
# - Everything else comes from bookworm.
# Added apt sources reuse the Debian mirror this machine is already configured
# with.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh must run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

BOOKWORM_PKGS=(
  build-essential cmake ninja-build pkg-config
  libvulkan-dev vulkan-tools vulkan-validationlayers
  libshaderc-dev glslang-tools glslc spirv-tools
  libstb-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev binutils python3 locales
  libcli11-dev libtinygltf-dev libtinyobjloader-dev libopenexr-dev nlohmann-json3-dev
)

# The first mirror URI that serves plain "bookworm" (not -security): read from
# either the deb822 sources or the one-line sources.list format.
find_mirror() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '
      /^[[:space:]]*$/ { if (u != "" && s) { print u; exit } u=""; s=0; next }
      /^URIs:/ { u=$2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") s=1 }
      END { if (u != "" && s) print u }' "$f" | head -n1)
    if [ -n "$uri" ]; then echo "$uri"; return 0; fi
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    uri=$(awk '$1 == "deb" && $0 !~ /^#/ {
        for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { u=$i; break }
        if ($(i+1) == "bookworm") { print u; exit } }' "$f")
    if [ -n "$uri" ]; then echo "$uri"; return 0; fi
  done
  return 1
}

missing_pkgs() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

have_rt_lavapipe() {
  # Backports Mesa is 24.x or newer; bookworm's is 22.x without ray tracing.
  local v
  v=$(dpkg-query -W -f='${Version}' mesa-vulkan-drivers 2>/dev/null || true)
  [ -n "$v" ] && dpkg --compare-versions "$v" ge 24
}

MIRROR=$(find_mirror || true)
if [ -z "$MIRROR" ]; then
  echo "install-deps.sh: no Debian bookworm mirror found in the apt sources" >&2
  exit 1
fi

changed=0
SRC=/etc/apt/sources.list.d/vitrel-extra.sources
want_src="Types: deb
URIs: $MIRROR
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $MIRROR
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
if [ ! -f "$SRC" ] || [ "$(cat "$SRC")" != "$want_src" ]; then
  printf '%s\n' "$want_src" > "$SRC"
  changed=1
fi

PIN=/etc/apt/preferences.d/vitrel-trixie
want_pin="Package: *
Pin: release n=trixie
Pin-Priority: 1

Package: libvulkan-memory-allocator-dev
Pin: release n=trixie
Pin-Priority: 600"
if [ ! -f "$PIN" ] || [ "$(cat "$PIN")" != "$want_pin" ]; then
  printf '%s\n' "$want_pin" > "$PIN"
  changed=1
fi

need=$(missing_pkgs "${BOOKWORM_PKGS[@]}" libvulkan-memory-allocator-dev)
if [ "$changed" = 1 ] || [ -n "$need" ] || ! have_rt_lavapipe; then
  apt-get update -qq
fi
if [ -n "$need" ]; then
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $need
fi
if ! have_rt_lavapipe; then
  apt-get install -y -qq --no-install-recommends -t bookworm-backports mesa-vulkan-drivers
fi

# The tests run the number parsing and formatting under a decimal-comma
# locale, as hosts that call setlocale(LC_ALL, "") do.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

echo "install-deps.sh: dependencies present (mesa-vulkan-drivers $(dpkg-query -W -f='${Version}' mesa-vulkan-drivers))"
