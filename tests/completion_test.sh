#!/usr/bin/env bash
# The bash completion made at build time, driven as bash drives it: the
# replies for a command line typed so far, and every option, --sim key and
# chip of the tool's help text among the words it knows.
#   tests/completion_test.sh KARTEX COMPLETION_FILE
set -uo pipefail
tool=$(realpath "$1")
completion=$(realpath "$2")
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

failed=0
# replies LINE...: what _kartex offers for the words of LINE, the last one
# being completed (an empty last word: a trailing space).
replies() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _kartex kartex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
  local line=$1 want=$2 got
  got=$(replies "$line")
  if [[ $got == "$want" ]]; then
    echo "ok   '$line' -> $got"
  else
    echo "FAIL '$line': got '$got', wanted '$want'"
    failed=1
  fi
}

# Run where no file starts as the words do.
cd "$(mktemp -d)" || exit 1
expect "kartex i" "info"
expect "kartex f" "fa fe fr fw"
expect "kartex --re" "--report"
expect "kartex --sim=chip=3/88" "3/8801 3/8802 3/8803"
expect "kartex --sim=rom=x.gba,sa" "x.gba,save x.gba,save-fault x.gba,save-image"
# COMP_WORDBREAKS holds = and :, so the replies are what follows the last of them.
expect "kartex --sim=save=flash64k:3" "321b"
expect "kartex --eeprom-order e" "emulator"
expect "kartex --video p" "plain"
expect "kartex --dat x.dat fr x.gba 0 " ""

# Every option, --sim key, save part and chip the tool lists is a word the
# completion knows.
help=$("$tool" --help)
sim=$("$tool" --sim=help)
for option in $(grep -oE '^  --[a-z-]+' <<<"$help"); do
  [[ " $_kartex_options " == *" $option "* ]] || { echo "FAIL: $option is not completed"; failed=1; }
done
for key in $(sed -n '/keys:$/,/^save=PART/p' <<<"$sim" | grep -oE '^  [a-z-]+'); do
  [[ " $_kartex_sim_keys " == *" $key "* ]] || { echo "FAIL: --sim key $key is not completed"; failed=1; }
done
for chip in $(grep -oE '^  [0-9]+/[0-9a-f]+' <<<"$sim"); do
  [[ " $_kartex_chips " == *" $chip "* ]] || { echo "FAIL: chip $chip is not completed"; failed=1; }
done
[[ " $_kartex_commands " == *" info "* ]] || { echo "FAIL: info is not completed"; failed=1; }
exit $failed
