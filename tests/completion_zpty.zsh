# Types $KESTRUNE_LINE and a Tab into an interactive zsh under zpty, with
# the completion found in $KESTRUNE_COMPLETIONS, and prints each match the
# completion system would offer as "OFFERED <match>". compadd is wrapped so
# that matches are printed instead of inserted.
#
#     KESTRUNE_COMPLETIONS=DIR KESTRUNE_LINE='kestrune hash-file --hash ' zsh -f completion_zpty.zsh
zmodload zsh/zpty || exit 1

zpty kestrune zsh -f -i
zpty -w kestrune "PROMPT='' RPROMPT='' fpath=(${(q)KESTRUNE_COMPLETIONS} \$fpath)"
zpty -w kestrune 'autoload -Uz compinit && compinit -u -D'
zpty -w kestrune "zstyle ':completion:*' list-grouped false; zstyle ':completion:*' insert-tab false"
zpty -w kestrune 'bindkey "^I" complete-word'
zpty -w kestrune 'compadd() {
    if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then
        builtin compadd "$@"
        return
    fi
    local -a hits
    builtin compadd -A hits "$@"
    local hit
    for hit in $hits; do print -r -- "OFF""ERED $hit"; done
}'
zpty -w kestrune 'finish() { print -r -- "END-OF-""MATCHES"; zle send-break }; zle -N finish; bindkey "^X" finish'
zpty -w -n kestrune "$KESTRUNE_LINE"$'\t'$'\C-X'

integer deadline=$(( SECONDS + 20 ))
local output= chunk
while (( SECONDS < deadline )); do
    if zpty -r -t kestrune chunk; then
        output+=$chunk
        [[ $output == *END-OF-MATCHES* ]] && break
    else
        sleep 0.05
    fi
done
zpty -d kestrune
[[ $output == *END-OF-MATCHES* ]] || { print -r -- "no end of matches: $output"; exit 1 }
# The terminal's echo and escapes may share a line with the first match.
local line
for line in ${(f)${output//$'\r'/}}; do
    [[ $line == *OFFERED\ * ]] && print -r -- "OFFERED ${line##*OFFERED }"
done
exit 0
