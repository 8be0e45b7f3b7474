#!/usr/bin/env bash
# The bash completion of jiajiemi-cli, sourced after bash-completion's own, offers for each
# line typed so far what the program accepts there.
#   completion_test.sh COMPLETION_FILE
# Neither -e nor -u: bash-completion's functions let commands fail and read unset variables,
# as an interactive shell allows.
completion=$(realpath "$1")
library=/usr/share/bash-completion/bash_completion
[ -r "$library" ] || { echo "needs $library (the bash-completion package)" >&2; exit 1; }
# shellcheck source=/dev/null
source "$library"
# shellcheck source=/dev/null
source "$completion"
function=$(complete -p jiajiemi-cli | sed -nE 's/.*-F ([^ ]+) .*/\1/p')
[ -n "$function" ] || { echo "$completion registers no function for jiajiemi-cli" >&2; exit 1; }

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch notes.txt report.e
mkdir sub

fail=0
# Completes LINE with the cursor at its end, splitting words as bash does (at spaces and
# at "="), and compares the offers, sorted, with EXPECTED.
check() {
  local line=$1 expected=$2 actual
  read -ra COMP_WORDS <<<"${line//=/ = }"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
  COMPREPLY=()
  "$function" jiajiemi-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  actual=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
  if [ "$actual" != "$expected" ]; then
    echo "'$line': offered '$actual', expected '$expected'" >&2
    fail=1
  fi
}

#     the line typed so far                                  what is offered
check 'jiajiemi-cli '                                          'decrypt encrypt verify'
check 'jiajiemi-cli v'                                         'verify'
check 'jiajiemi-cli -'                                         '--force --help --password-file --version'
check 'jiajiemi-cli --password-file notes.txt '                'decrypt encrypt verify'
check 'jiajiemi-cli encrypt '                                  'notes.txt report.e sub'
check 'jiajiemi-cli encrypt --force notes.txt r'               'report.e'
check 'jiajiemi-cli encrypt notes.txt report.e '               '--force --help --password-file'
check 'jiajiemi-cli decrypt report.e --'                       '--force --help --password-file'
check 'jiajiemi-cli verify report.e '                          '--help --password-file'
check 'jiajiemi-cli decrypt --password-file '                  'notes.txt report.e sub'
check 'jiajiemi-cli verify --password-file=n'                  'notes.txt'
check 'jiajiemi-cli decrypt --password-file=notes.txt report.e ' 'notes.txt report.e sub'
check 'jiajiemi-cli unknown '                                  ''
check 'jiajiemi-cli --force=e'                                 ''
check 'jiajiemi-cli encrypt -- '                               'notes.txt report.e sub'
check 'jiajiemi-cli -- encrypt --force r'                      'report.e'
check 'jiajiemi-cli encrypt -- notes.txt report.e '            ''
check 'jiajiemi-cli verify -- --password-file n'               ''

[ "$fail" = 0 ] && echo "completion: every line completes as jiajiemi-cli accepts it"
exit "$fail"
