#!/bin/sh
# Installs what the Cycles comparison in bench/peer/ needs, from Debian's
# packages. Blender is a peer to compare with, not a dependency of the
# library or its tests, so it is kept out of scripts/install-deps.sh.
set -eu
apt-get update
apt-get install -y --no-install-recommends \
    blender \
    python3-numpy \
    python3-scipy \
    python3-matplotlib \
    python3-openimageio
