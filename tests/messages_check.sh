#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The window's man page shows every message the commands can show: each whole message as
# it is, and each message built around a path (a ...Before text, the path, an ...After
# text) as the whole sentence, with PATH for the path.
#   messages_check.sh MESSAGES_HEADER MAN_PAGE
set -euo pipefail
header=$1 page=$2
# The page's text without font changes and with plain hyphens, as a reader sees it.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$page")
fail=0

declared=$(grep -c 'std::string_view [A-Za-z0-9_]* *=' "$header" || true)
names=() values=()
while IFS=$'\t' read -r name value; do
  names+=("$name") values+=("$value")
done < <(sed -nE 's/^inline constexpr std::string_view ([A-Za-z0-9_]+) = "([^"\\]*)";$/\1\t\2/p' "$header")
# A message written another way (over two lines, with an escape) would be skipped unseen.
[ "${#names[@]}" = "$declared" ] && [ "$declared" -ge 10 ] ||
  { echo "$header: read ${#names[@]} of $declared messages; each must be one line, with no escape" >&2; exit 1; }

befores=() afters=()
for i in "${!names[@]}"; do
  case ${names[i]} in
    *Before) befores+=("${values[i]}") ;;
    *After) afters+=("${values[i]}") ;;
    *) grep -qF -- "${values[i]}" <<<"$text" || { echo "$page lacks ${names[i]}: ${values[i]}" >&2; fail=1; } ;;
  esac
done
# Every opening and every closing fragment is part of at least one whole sentence.
for b in "${befores[@]}"; do
  found=0
  for a in "${afters[@]}"; do grep -qF -- "${b}PATH$a" <<<"$text" && found=1; done
  [ "$found" = 1 ] || { echo "$page lacks a sentence ${b}PATH…" >&2; fail=1; }
done
for a in "${afters[@]}"; do
  found=0
  for b in "${befores[@]}"; do grep -qF -- "${b}PATH$a" <<<"$text" && found=1; done
  [ "$found" = 1 ] || { echo "$page lacks a sentence …PATH$a" >&2; fail=1; }
done

[ "$fail" = 0 ] && echo "docs: $page shows all ${#names[@]} messages of $header"
exit "$fail"
