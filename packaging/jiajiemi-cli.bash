# SPDX-License-Identifier: MIT
# bash completion for jiajiemi-cli: its commands, its options, and file names for the
# operands and for --password-file. bash-completion loads it, and its helpers do the
# word splitting and the file names.

_jiajiemi_cli() {
    local cur prev words cword split
    _init_completion -s || return

    # The command is the first word that is neither an option nor --password-file's FILE;
    # options may come anywhere, before it too. After "--" every word is an operand.
    local command= operands=0 ended= i
    for ((i = 1; i < cword; i++)); do
        if [[ -z $ended ]]; then
            case ${words[i]} in
                --) ended=1; continue ;;
                --password-file) ((++i)); continue ;;
                -?*) continue ;;
            esac
        fi
        if [[ -z $command ]]; then command=${words[i]}; else ((++operands)); fi
    done

    # --password-file FILE and --password-file=FILE
    if [[ -z $ended && $prev == --password-file ]]; then
        _filedir
        return
    fi
    [[ -z $ended ]] && $split && return

    local options needed
    case $command in
        '')
            if [[ -z $ended && $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W '--force --password-file --help --version' -- "$cur")
            else
                mapfile -t COMPREPLY < <(compgen -W 'encrypt decrypt verify' -- "$cur")
            fi
            return
            ;;
        encrypt | decrypt) options='--force --password-file --help' needed=2 ;;
        verify) options='--password-file --help' needed=1 ;;
        *) return ;;  # not a command: nothing would be accepted after it
    esac
    # The operands are files; once they are all there, only options are left.
    if [[ -n $ended ]]; then
        ((operands < needed)) && _filedir
    elif [[ $cur == -* ]] || ((operands >= needed)); then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    else
        _filedir
    fi
} &&
    complete -F _jiajiemi_cli jiajiemi-cli
