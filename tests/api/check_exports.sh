#!/usr/bin/env bash
# Compares the dynamic symbols libvitrel_api.so defines with the expected
# list (demangled; all stbi_* functions count as one line "stbi_*").
set -euo pipefail
lib=$1
expected=$2

actual=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- \
  | sed -e 's/^stbi_.*/stbi_*/' | sort -u)
want=$(grep -v '^#' "$expected" | sed '/^$/d' | sort -u)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected (- expected, + actual):"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
# stb_image must be exported with its usual entry points.
nm -D --defined-only "$lib" | grep -q ' T stbi_load_from_memory$'
# shaderc and glslang are linked in statically and stay hidden.
if nm -D "$lib" | grep -Eiq 'shaderc|glslang|spvtools'; then
  echo "shaderc/glslang symbols leak from $lib"
  exit 1
fi
echo "exported symbols: ok ($(echo "$actual" | wc -l) entries)"
