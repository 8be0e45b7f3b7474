#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the package says about jiajiemi-cli is what the program says: the man page has every
# option, every command's description and every exit code with its meaning from --help,
# and the metainfo's newest release and the changelog's newest entry are the program's
# version.
#   docs_check.sh JIAJIEMI_CLI MAN_PAGE METAINFO CHANGELOG
set -euo pipefail
cli=$1 page=$2 metainfo=$3 changelog=$4
help=$("$cli" --help)
# The page's text without font changes and with plain hyphens, as a reader sees it.
text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$page")
fail=0
lacks() { echo "$page lacks $1" >&2; fail=1; }

options=$(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
[ -n "$options" ] || { echo "no options found in --help" >&2; exit 1; }
for option in $options; do
  grep -qF -- "$option" <<<"$text" || lacks "the option $option"
done

while read -r command description; do
  grep -qxF -- "$description" <<<"$text" || lacks "the description of $command: $description"
done < <(grep -E '^(encrypt|decrypt|verify) ' <<<"$help")

# One line per exit code, "CODE MEANING", its wrapped lines joined.
help_codes=$(awk '/^Exit codes:/ { on = 1; next }
  on && /^ +[0-9]+  [^ ]/ { if (c != "") print c; sub(/^ +/, ""); sub(/  +/, " "); c = $0; next }
  on && /^   +[^ ]/ { sub(/^ +/, ""); c = c " " $0 }
  END { print c }' <<<"$help")
page_codes=$(awk '/^\.SH/ { on = ($0 ~ /EXIT STATUS/); next }
  on && /^\.B [0-9]+$/ { if (c != "") print c; c = $2; next }
  on && /^\./ { next }
  on && c != "" { c = c " " $0 }
  END { print c }' <<<"$text")
[ "$(wc -l <<<"$help_codes")" -ge 10 ] || { echo "fewer than ten exit codes found in --help" >&2; exit 1; }
diff <(echo "$help_codes") <(echo "$page_codes") >&2 || lacks "the exit codes of --help as they are (above: < --help, > page)"

version=$("$cli" --version | awk '{ print $2 }')
released=$(grep -oE -m1 '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[ "$version" = "$released" ] || { echo "$metainfo: newest release $released, program $version" >&2; fail=1; }
entry=$(sed -nE '1s/^jiajiemi \(([^)]*)\) .*/\1/p' "$changelog")
[ "$version" = "$entry" ] || { echo "$changelog: newest entry ${entry:-unreadable}, program $version" >&2; fail=1; }

[ "$fail" = 0 ] && echo "docs: the man page, the metainfo and the changelog match jiajiemi-cli $version"
exit "$fail"
