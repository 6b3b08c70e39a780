#!/usr/bin/env bash
# Writes bash completion for kartex from the tool's own --help and
# --sim=help text, so that the words it offers are always the tool's.
#   cmake/bash_completion.sh KARTEX OUTPUT
set -euo pipefail
tool=$1
out=$2
help=$("$tool" --help)
sim=$("$tool" --sim=help)

words() { sort -u | tr '\n' ' ' | sed 's/ $//'; }

# The usage lines name the commands (kartex fr file_name ...); ours stand
# in the help as "  info    describe ...".
commands=$( { grep -oE 'kartex [a-z]+( |$)' <<<"$help" | awk '{print $2}'
              grep -E '^  [a-z]+ {2,}' <<<"$help" | awk '{print $1}'; } | words)
options=$(grep -oE '^  --[a-z-]+' <<<"$help" | sed 's/^ *//' | words)
# Options followed by a value in the help: "--dat FILE", "--usb VID:PID".
valued=$(grep -oE '^  --[a-z-]+ [A-Z]' <<<"$help" | awk '{print $1}' | words)
sim_keys=$(sed -n '/keys:$/,/^save=PART/p' <<<"$sim" | grep -oE '^  [a-z-]+' | sed 's/^ *//' | words)
save_parts=$(sed -n '/^save=PART/,/^core=mgba/p' <<<"$sim" | grep -oE '^  [a-z0-9]+(:[0-9a-f]+)?' | sed 's/^ *//' | words)
chips=$(grep -oE '^  [0-9]+/[0-9a-f]+' <<<"$sim" | sed 's/^ *//' | words)

for list in commands options valued sim_keys save_parts chips; do
  if [ -z "${!list}" ]; then
    echo "bash_completion.sh: no $list found in the tool's help text" >&2
    exit 1
  fi
done

cat >"$out.tmp" <<COMPLETION
# bash completion for kartex, made from its --help and --sim=help text.

_kartex_commands="$commands"
_kartex_options="$options"
_kartex_valued="$valued"
_kartex_sim_keys="$sim_keys"
_kartex_save_parts="$save_parts"
_kartex_chips="$chips"

# Replies are whole words; bash replaces only what follows the last word
# break (= and : among them) of the word being completed.
_kartex_trim() {
  local word=\$1 i
  for ((i = \${#word} - 1; i >= 0; i--)); do
    if [[ \$COMP_WORDBREAKS == *"\${word:i:1}"* ]]; then
      COMPREPLY=("\${COMPREPLY[@]#"\${word:0:i+1}"}")
      return
    fi
  done
}

_kartex() {
  local cur prev words cword
  _init_completion -n =: || return
  COMPREPLY=()
  case \$cur in
    --sim=*)
      local spec=\${cur#--sim=}
      local last=\${spec##*,}
      local head=\${cur%"\$last"}
      case \$last in
        chip=*) COMPREPLY=(\$(compgen -P "\${head}chip=" -W "\$_kartex_chips" -- "\${last#chip=}")) ;;
        save=*) COMPREPLY=(\$(compgen -P "\${head}save=" -W "\$_kartex_save_parts" -- "\${last#save=}")) ;;
        *=*) ;;
        *) COMPREPLY=(\$(compgen -P "\$head" -W "\$_kartex_sim_keys" -- "\$last")) ;;
      esac
      compopt -o nospace 2>/dev/null
      _kartex_trim "\$cur"
      return
      ;;
    -*)
      COMPREPLY=(\$(compgen -W "\$_kartex_options --sim=" -- "\$cur"))
      [[ \${#COMPREPLY[@]} -eq 1 && \${COMPREPLY[0]} == --sim= ]] && compopt -o nospace 2>/dev/null
      return
      ;;
  esac
  case \$prev in
    --files) _filedir -d; return ;;
    --eeprom-order) COMPREPLY=(\$(compgen -W "tool emulator" -- "\$cur")); return ;;
    --video) COMPREPLY=(\$(compgen -W "changes plain" -- "\$cur")); return ;;
    --usb|--timeout) return ;;
  esac
  if [[ " \$_kartex_valued " == *" \$prev "* ]]; then
    _filedir
    return
  fi
  # The first word that is no option, nor an option's value, is the command.
  local i have_command=
  for ((i = 1; i < cword; i++)); do
    [[ \${words[i]} == -* ]] && continue
    [[ " \$_kartex_valued " == *" \${words[i-1]} "* ]] && continue
    have_command=1
    break
  done
  if [[ -z \$have_command ]]; then
    COMPREPLY=(\$(compgen -W "\$_kartex_commands" -- "\$cur"))
  fi
  # A bare video file name stands where the command word does.
  _filedir
}
complete -F _kartex kartex
COMPLETION
mv "$out.tmp" "$out"
