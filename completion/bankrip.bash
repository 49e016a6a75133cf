# bash completion for bankrip: options, their values, banks and folders.
# Installed as share/bash-completion/completions/bankrip (loaded when first
# needed by bash-completion); without it, source this file from ~/.bashrc.

_bankrip() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # The options of bankrip --help (tests/support/completion_check.py
    # keeps the two in step): those that take a value, and the others.
    local with_value='-o --output -s --sound -k --key --format -j --jobs --replace'
    local plain='-l --list --json --no-loops --keep-original --scan -q --quiet -v --verbose -h --help -V --version'

    # The first form, a bank first: then the destination folder.
    if ((COMP_CWORD >= 2)) && [[ ${COMP_WORDS[1]} != -* ]]; then
        ((COMP_CWORD == 2)) || return 0
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return 0
    fi

    # After "--" every word is a bank or a folder.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return 0
        fi
    done

    # The value of an option: the next word, or after "=" (its own word
    # where COMP_WORDBREAKS holds "=", as it does by default).
    local option= value=$cur prefix=
    if [[ $cur == = ]]; then
        option=$prev value=
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*} value=${cur#*=} prefix=$option=
    elif [[ " $with_value " == *" $prev "* ]]; then
        option=$prev
    fi
    case $option in
        -o | --output | --replace)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -P "$prefix" -- "$value")
            return 0 ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "wav flac" -P "$prefix" -- "$value")
            return 0 ;;
        -s | --sound | -k | --key | -j | --jobs)
            return 0 ;;  # sound numbers or names, keys, counts: nothing to offer
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$with_value $plain --" -- "$cur")
        return 0
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _bankrip bankrip
