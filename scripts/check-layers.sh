#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder above it. The folders from the bottom
# up; each may include its own headers and those of the folders below. The resource header holds
# only numbers and is shared by all. Within the driver, the start-up flow is the top: only the
# entry point includes it, never the command line, the flows or the removal engine it runs.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers=(base filesystem settings localisation integration driver)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
status=0
for dir in "$root"/uninstall/*/; do
  folder=$(basename "$dir")
  [ "$folder" = resources ] && continue
  own=$(rank "$folder")
  if [ "$own" -lt 0 ]; then
    echo "uninstall/$folder: a folder that is no layer (add it to scripts/check-layers.sh)"
    status=1
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^#include "([a-z]+)\/.*/\1/' <<<"$text")
    [ "$target" = resources ] && continue
    if [ "$(rank "$target")" -gt "$own" ] || [ "$(rank "$target")" -lt 0 ]; then
      echo "${file#"$root"/}:$line: $folder includes $target, a layer above it: $text"
      status=1
    fi
  done < <(grep -Hn -E '^#include "[a-z]+/' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done
while IFS=: read -r file line text; do
  case "${file##*/}" in main.cpp | startup.cpp) continue ;; esac
  echo "${file#"$root"/}:$line: only the entry point includes the start-up flow: $text"
  status=1
done < <(grep -Hn -E '^#include "driver/startup\.h"' "$root"/uninstall/driver/*.h \
  "$root"/uninstall/driver/*.cpp 2>/dev/null || true)
[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
