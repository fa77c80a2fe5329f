#!/usr/bin/env bash
# Every option a program accepts is in its --help, and every option its --help lists is accepted:
#   help_options_test.sh MAKE_MANPAGE PROGRAM PAGE PREFIX PARSER_SOURCE...
# - the options of the help are its option lines' terms (make-manpage --terms, as the manual page has
#   them); each is given to the program, with a sample value when the term shows one, before --help:
#   a parser that accepts it goes on to --help and prints the usage with status 0, one that refuses it
#   fails (an option the parser does not know, or a value it does not take);
# - the parser's options are the literals its source compares arguments with (== "-x"): each must be
#   in the help;
# - the manual page PAGE (roff; "-" for none) names every option of the help.
# PREFIX goes before every probe ("--build" for vopa-training's headless build; "" for none).
set -euo pipefail
manpage_tool="$1" program="$2" page="$3" prefix="$4"
shift 4
fail() { echo "FAIL: $*"; exit 1; }

drive=$(mktemp -d)
trap 'rm -rf "$drive"' EXIT
export VOPA_DRIVE_C="$drive/c" HOME="$drive/home" XDG_DATA_HOME="$drive/data"
unset VOPA_PASSWORD VOPA_SA_PASSWORD VOPA_ODBC_DRIVER
probe() { timeout 30 "$program" $prefix "$@" </dev/null 2>&1; }

help=$(probe --help) || fail "$program $prefix --help failed"
sed -n 1p <<<"$help" | grep -q "^usage: " || fail "the help does not start with the usage"
mapfile -t terms < <("$manpage_tool" --terms <<<"$help")
[[ ${#terms[@]} -gt 0 ]] || fail "no option lines in the help"

# A sample value for an option's argument, after the name the help gives it.
sample() {
  case "$1" in
    \[*) ;;                                # optional: none given
    *'|'*) echo "${1%%|*}" ;;              # one of several words: the first
    PORT) echo 1433 ;; SECONDS) echo 5 ;; ID | N | S) echo 1 ;;
    -[0-9]*) echo "$1" ;;
    *) echo sample ;;
  esac
}

listed=()
for term in "${terms[@]}"; do
  read -r -a words <<<"$term"
  names=() value=""
  for w in "${words[@]}"; do
    w=${w%,}
    if [[ $w == -* && ! $w =~ ^-[0-9] ]]; then names+=("$w"); else value=$(sample "$w"); fi
  done
  for name in "${names[@]}"; do
    listed+=("$name")
    args=("$name")
    [[ -n $value ]] && args+=("$value")
    out=$(probe "${args[@]}" --help) || fail "'${args[*]}' is in the help but refused: $out"
    sed -n 1p <<<"$out" | grep -q "^usage: " || fail "'${args[*]} --help' did not print the help: $out"
    if [[ $page != "-" ]]; then
      escaped=${name//-/\\-}
      grep -qF -- "$escaped" "$page" || fail "the manual page $page does not name $name"
    fi
  done
done

# The probe tells accepted from refused: an unknown option before --help is refused. The windows take
# any option (QT-OPTION in their usage: what they do not know is Qt's), so there only the sources count.
if ! grep -q "QT-OPTION" <<<"$help"; then
  if out=$(probe --no-such-option --help); then fail "--no-such-option was accepted: the probe proves nothing"; fi
fi

for source in "$@"; do
  while read -r option; do
    printf '%s\n' "${listed[@]}" | grep -qxF -- "$option" ||
      fail "$source accepts $option, which the help of $program does not list"
  done < <(grep -oE '== "-[^"]+"' "$source" | sed -E 's/^== "(.*)"$/\1/' | sort -u)
done
echo "$program $prefix: ${#listed[@]} options, each in the help, accepted and in the manual page"
