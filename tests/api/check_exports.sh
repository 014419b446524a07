#!/usr/bin/env bash
# Compares the dynamic symbols libvitrel_api.so defines with the expected
# list (demangled). All stbi_* functions count as one line "stbi_*" and all
# members of the exported VkRenderer class as one line "VkRenderer::*";
# lines "require NAME" name members that must be among them.
set -euo pipefail
lib=$1
expected=$2

raw=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3-)
actual=$(echo "$raw" | sed -e 's/^stbi_.*/stbi_*/' -e 's/^VkRenderer::.*/VkRenderer::*/' | sort -u)
want=$(grep -v -e '^#' -e '^require ' "$expected" | sed '/^$/d' | sort -u)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected (< expected, > actual):"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
missing=0
while read -r name; do
  if ! grep -qF "$name(" <<<"$raw"; then
    echo "missing export: $name"
    missing=1
  fi
done < <(sed -n 's/^require //p' "$expected")
[ "$missing" = 0 ] || exit 1
# The symbol tables are read into variables first: with pipefail, a
# `nm | grep -q` pipeline fails whenever grep stops reading before nm ends.
plain=$(nm -D --defined-only "$lib")
everything=$(nm -D "$lib")
# stb_image must be exported with its usual entry points.
if ! grep -q ' T stbi_load_from_memory$' <<<"$plain"; then
  echo "stbi_load_from_memory is not exported from $lib"
  exit 1
fi
# shaderc and glslang are linked in statically and stay hidden.
if grep -Eiq 'shaderc|glslang|spvtools' <<<"$everything"; then
  echo "shaderc/glslang symbols leak from $lib"
  exit 1
fi
echo "exported symbols: ok ($(echo "$actual" | wc -l) entries)"
