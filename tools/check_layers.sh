#!/usr/bin/env bash
# Checks that the server's layers depend on each other one way only:
#
#   runtime -> rtcm -> geodesy -> module -> service -> app
#
# A file of a layer may include headers of its own layer and of the layers
# before it; a layer's library may link only those libraries. The three
# shared libraries include nothing of the server but the INI layer (Marlo).
# Prints every violation and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(runtime rtcm geodesy module service app)
rank() { local i; for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }

bad=0
for layer in "${layers[@]}"; do
  own=$(rank "$layer")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
    other=$(rank "$target")
    [ "$other" -lt 0 ] && continue
    if [ "$other" -gt "$own" ]; then
      echo "check_layers: $file ($layer) includes $target: ${line#*:}"
      bad=1
    fi
  done < <(grep -rHn -E '^#include "[a-z]+/' "server/$layer" --include='*.cpp' --include='*.h' || true)

  # Links of the layer's library.
  links=$(sed -n "/target_link_libraries(tarvik_$layer /,/)/p" "server/$layer/CMakeLists.txt" | grep -oE 'tarvik_[a-z]+' | sort -u)
  for l in $links; do
    name=${l#tarvik_}
    [ "$name" = "$layer" ] && continue
    other=$(rank "$name")
    [ "$other" -lt 0 ] && continue
    if [ "$other" -gt "$own" ]; then
      echo "check_layers: tarvik_$layer links $l"
      bad=1
    fi
  done
done

if grep -rn -E 'LINK_INTERFACE_MULTIPLICITY' server --include=CMakeLists.txt; then
  echo "check_layers: a link cycle is being papered over"
  bad=1
fi
for lib in marlo projection orvel; do
  while IFS= read -r line; do
    case "$line" in
      # the standalone file layer (tarvik_ini) that Marlo links
      *'"runtime/CFileIni.h"'*|*'"runtime/IniText.h"'*|*'"runtime/RegularFile.h"'*) [ "$lib" = marlo ] && continue ;;
    esac
    echo "check_layers: $lib reaches into the server: $line"
    bad=1
  done < <(grep -rHn -E '^#include "(runtime|rtcm|geodesy|module|service|app)/' "$lib" --include='*.cpp' --include='*.h' || true)
done

if [ "$bad" -ne 0 ]; then exit 1; fi
echo "check_layers: ${layers[*]} - every include and link runs one way"
