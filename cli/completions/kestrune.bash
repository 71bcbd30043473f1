# bash completion for kestrune                               -*- shell-script -*-
# Needs nothing from the bash-completion package, and works with it.

# Filled in from `kestrune list --json` when the tool is built.
_kestrune_digests='@KESTRUNE_DIGESTS@'
_kestrune_ciphers='@KESTRUNE_CIPHERS@'
_kestrune_modes='@KESTRUNE_MODES@'

_kestrune_commands='hash-string hash-file encrypt-string decrypt-string encrypt-file decrypt-file identify gen-password
    list selftest batch call register unregister help upgrade age-decrypt'

# The options of a command (of the tool itself for ''), one word each: the
# option, then after a colon the kind of value it takes, if it takes one.
_kestrune_options() {
    case $1 in
        '') echo '-h --help --version' ;;
        hash-string) echo '-h --help --codepage:codepage --hash:digest' ;;
        hash-file)
            echo '-h --help --codepage:codepage --hash:digest --format:format --tag -c:file --check:file --status --strict --ignore-missing
                  -w --warn --progress -q --quiet' ;;
        encrypt-string)
            echo '-h --help --codepage:codepage --cipher:cipher --hash:digest --password-file:file --password-env:variable --password:text
                  --allow-empty-password' ;;
        decrypt-string)
            echo '-h --help --codepage:codepage --cipher:cipher --hash:digest --password-file:file --password-env:variable --password:text
                  --allow-empty-password --lenient' ;;
        encrypt-file | decrypt-file)
            echo '-h --help --codepage:codepage --cipher:cipher --hash:digest --mode:mode --password-file:file --password-env:variable
                  --password:text --allow-empty-password --progress -q --quiet' ;;
        upgrade)
            echo '-h --help --codepage:codepage --cipher:cipher --hash:digest --mode:mode --password-file:file --password-env:variable
                  --password:text --allow-empty-password --text:text --batch:file -r:text --recipient:text
                  -R:file --recipients-file:file -p --passphrase --passphrase-file:file --passphrase-env:variable
                  --work-factor:text -a --armor --lenient' ;;
        age-decrypt)
            echo '-h --help --codepage:codepage -i:file --identity:file -p --passphrase --passphrase-file:file --passphrase-env:variable
                  --max-work-factor:text' ;;
        identify)
            echo '-h --help --codepage:codepage --file:file --digest:text --password-file:file --password-env:variable --password:text
                  --allow-empty-password --passwords:file --known-prefix:text --known-type:text --top:text --json' ;;
        gen-password) echo '-h --help --codepage:codepage -n:text --length:text -s:text --style:text -c:text --count:text' ;;
        list) echo '-h --help --json' ;;
        call) echo '-h --help --codepage:codepage --put:property' ;;
        help) echo '-h --help --all' ;;
        *) echo '-h --help --codepage:codepage' ;;
    esac
}

# What a command's operands are.
_kestrune_operands() {
    case $1 in
        hash-file | encrypt-file | decrypt-file | batch | upgrade | age-decrypt) echo file ;;
        help) echo command ;;
        call) echo member ;;
    esac
}

# Sets COMPREPLY to the values of a kind that start with $2 (names in any case).
_kestrune_values() {
    local kind=$1 cur=$2 words=
    case $kind in
        digest) words=$_kestrune_digests ;;
        cipher) words=$_kestrune_ciphers ;;
        mode) words=$_kestrune_modes ;;
        format) words='hex sum tag' ;;
        codepage) words='874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258' ;;
        command) words=$_kestrune_commands ;;
        member) words='HashString HashFile EncryptString DecryptString EncryptFile DecryptFile GenPassword HashSize
                       HashAlgorithm CipherAlgorithm CipherMode MaxKeySize OnStartPage OnEndPage' ;;
        property)
            words='HashAlgorithm= CipherAlgorithm= CipherMode='
            type compopt &>/dev/null && compopt -o nospace ;;
        variable) mapfile -t COMPREPLY < <(compgen -v -- "$cur"); return ;;
        file)
            type compopt &>/dev/null && compopt -o filenames
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        *) return ;;
    esac
    local word
    for word in $words; do
        [[ ${word,,} == "${cur,,}"* ]] && COMPREPLY+=("$word")
    done
}

_kestrune() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev= command= option= kind= joined= i entry
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # The tool's own options take no value, so the first other word is the command.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then
            command=${COMP_WORDS[i]}
            break
        fi
    done

    # --option VALUE, --option=VALUE (bash splits the = off as a word of its own)
    option=$prev
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then  # = taken out of COMP_WORDBREAKS
        option=${cur%%=*}
        cur=${cur#*=}
        joined=$option=
    fi
    if [[ -n $command && $option == -* ]]; then
        for entry in $(_kestrune_options "$command"); do
            [[ $entry == "$option":* ]] && kind=${entry#*:}
        done
        if [[ -n $kind ]]; then
            _kestrune_values "$kind" "$cur"
            [[ -n $joined ]] && COMPREPLY=("${COMPREPLY[@]/#/$joined}")
            return 0
        fi
    fi

    if [[ $cur == -* ]]; then
        for entry in $(_kestrune_options "$command"); do
            [[ ${entry%%:*} == "$cur"* ]] && COMPREPLY+=("${entry%%:*}")
        done
    elif [[ -z $command ]]; then
        _kestrune_values command "$cur"
    else
        _kestrune_values "$(_kestrune_operands "$command")" "$cur"
    fi
    return 0
}

complete -F _kestrune kestrune
