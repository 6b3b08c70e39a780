#!/usr/bin/env bash
# Include direction: a folder includes only itself and the folders below it.
#
#   scripts/check-includes.sh [ROOT]
#
# Prints one line per include against the layering and exits non-zero when
# there is any. Run by the test suite (ctest include_direction).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# folder: the folders its files may include from, besides itself
declare -A allowed=(
  [contract]=""
  [common]="contract"
  [link]="common contract"
  [cart]="link common contract"
  [host]="link common contract"
  [vts]="link common contract"
  [sim]="link common contract"
  [agent]="contract"
  [examples]="host agent contract"
  [app]="cart host vts sim link common contract agent"
)

# One pass over every include line: folder, file and target, checked in awk.
for folder in "${!allowed[@]}"; do
  echo "allow $folder ${allowed[$folder]}"
done | cat - <(
  for folder in "${!allowed[@]}"; do
    [ -d "$root/$folder" ] || continue
    grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$root/$folder" \
      --include='*.h' --include='*.c' --include='*.cpp' --include='*.S' | sed "s|^|$folder |" || true
  done
) | awk -v root="$root" '
  $1 == "allow" { ok[$2 " " $2] = 1; for (i = 3; i <= NF; i++) ok[$2 " " $i] = 1; next }
  {
    folder = $1
    hit = substr($0, length(folder) + 2)
    file = hit; sub(/:.*/, "", file)
    target = hit; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
    slash = index(target, "/")
    if (slash == 0) next                      # a file beside it, or a system header
    top = substr(target, 1, slash - 1)
    if ((folder " " top) in ok) next
    if (system("test -d \"" root "/" top "\"") != 0) next   # not one of ours (a generated header)
    sub("^" root "/", "", file)
    printf "%s: includes %s, above or beside %s/\n", file, target, folder
    bad = 1
  }
  END { exit bad }'
