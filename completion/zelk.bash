# bash completion for the zelk programs.
#
# Options come from the program's own usage text (--help), so they are never out of date;
# when several match, they are listed with their help text. Options that take a file
# complete file names; operands complete file names. With -Q (and for zelk-colnum's
# FIELD_NAMES_LIST), a field operand completes the header names of the CSV file named
# elsewhere on the command line, reading only its first record; in a comma-separated list
# the name after the last comma is completed.

# The option lines of a program's usage text as "-X", the argument's name (may be empty) and
# the help text, separated by the byte 0x1f.
_zelk_option_lines() {
    "$1" --help 2>&1 | sed -n 's/^ \{1,2\}-\([^ -]\)\([^ ]*\) *-- *\(.*\)$/-\1\x1f\2\x1f\3/p'
}

# The header names of a CSV file, one a line: unquoted, without a UTF-8 byte order mark.
_zelk_header_names() {
    local show
    show=$(dirname -- "$(command -v "$2")")/zelk-show
    [ -x "$show" ] || show=zelk-show
    "$show" 1 "$1" 2>/dev/null | sed -n "s/^ *[0-9]*: '\\(.*\\)'\$/\\1/p" |
        sed '1s/^\xEF\xBB\xBF//; /^".*"$/{s/^"//; s/"$//; s/""/"/g;}'
}

_zelk() {
    local cur prev prog words cword
    prog=${COMP_WORDS[0]}
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local lines
    lines=$(_zelk_option_lines "$prog")

    local sep=$'\x1f' opt arg help
    # The argument of an option given as a separate word: a file, or nothing to offer.
    if [[ $prev == -? ]]; then
        while IFS=$sep read -r opt arg help; do
            [[ $opt == "$prev" && -n $arg ]] || continue
            [[ $arg == *FILE* ]] && COMPREPLY=($(compgen -f -- "$cur"))
            return 0
        done <<<"$lines"
    fi

    if [[ $cur == -* ]]; then
        local matches=() only=
        while IFS=$sep read -r opt arg help; do
            [[ $opt == "$cur"* ]] || continue
            matches+=("$opt$arg -- $help")
            only=$opt
        done <<<"$lines"
        if ((${#matches[@]} == 1)); then
            COMPREPLY=("$only")
        else
            # Listed with their help text; only the common prefix is inserted.
            COMPREPLY=("${matches[@]}")
        fi
        return 0
    fi

    # Header names: after -Q (in a word of options), or zelk-colnum's list.
    local names=0 w i file=
    [[ ${prog##*/} == zelk-colnum ]] && names=1
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
        w=${COMP_WORDS[i]}
        ((i == COMP_CWORD)) && continue
        [[ $w == -[!-]* && $w == *Q* && $lines == *"-Q$sep"* ]] && names=1
        [[ $w != -* && -f $w ]] && file=$w
    done
    if ((names)) && [[ -n $file ]]; then
        local head= tail=$cur name
        if [[ $cur == *,* ]]; then
            head=${cur%,*},
            tail=${cur##*,}
        fi
        local IFS=$'\n'
        for name in $(_zelk_header_names "$file" "$prog"); do
            [[ $name == "$tail"* ]] && COMPREPLY+=("$head$name")
        done
        if ((${#COMPREPLY[@]})); then
            # A list goes on after a comma.
            [[ ${prog##*/} == zelk-columns || ${prog##*/} == zelk-colnum ]] &&
                compopt -o nospace 2>/dev/null
            return 0
        fi
    fi

    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
    compopt -o filenames 2>/dev/null
    return 0
}

complete -F _zelk zelk-beside zelk-colnum zelk-columns zelk-concat zelk-dedupe \
    zelk-from-delim zelk-lint zelk-match zelk-match-expr zelk-match-rows zelk-merge \
    zelk-next-cell zelk-next-row zelk-order zelk-order-keys zelk-range zelk-row-tally \
    zelk-rows zelk-script-column zelk-script-rows zelk-setcell zelk-show zelk-subst \
    zelk-table zelk-tidy zelk-timestamp zelk-to-delim zelk-width-tally
