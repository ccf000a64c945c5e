# bash completion for the zelk programs.
#
# Options come from the program's own usage text (--help), so they are never out of date;
# when several match, they are listed with their help text. Options that take a file
# complete file names; operands complete file names. With -Q (and for zelk-colnum's
# FIELD_NAMES_LIST), a field operand completes the header names of the CSV file named
# elsewhere on the command line, reading only its first record; in a comma-separated list
# the name after the last comma is completed.
#
# A header name is whatever a file holds: it is inserted quoted for the shell, in the quotes
# the word was begun with (readline closes them) or with printf %q, so that no part of it is
# expanded or run, and completion results never go through word splitting or globbing.

# The option lines of a program's usage text as "-X", the argument's name (may be empty) and
# the help text, separated by the byte 0x1f.
_zelk_option_lines() {
    "$1" --help 2>&1 | sed -n 's/^ \{1,2\}-\([^ -]\)\([^ ]*\) *-- *\(.*\)$/-\1\x1f\2\x1f\3/p'
}

# The header names of a CSV file, each followed by a NUL byte: its first record as
# zelk-next-row reads it (nothing for a file that is not CSV), split into its fields, each
# unquoted, the first without a UTF-8 byte order mark.
_zelk_header_names() {
    local next rec name
    next=$(dirname -- "$(command -v "$2")")/zelk-next-row
    [ -x "$next" ] || next=zelk-next-row
    IFS= read -r -d '' rec < <("$next" -z <"$1" 2>/dev/null) || return 0
    rec=${rec#$'\xEF\xBB\xBF'}
    [[ -n $rec ]] || return 0
    while :; do
        if [[ $rec == \"* ]]; then
            rec=${rec#\"}
            name=
            while :; do
                name+=${rec%%\"*}
                rec=${rec#*\"}
                [[ $rec == \"* ]] || break
                name+=\"
                rec=${rec#\"}
            done
        else
            name=${rec%%,*}
            rec=${rec#"$name"}
        fi
        printf '%s\0' "$name"
        [[ $rec == ,* ]] || return 0
        rec=${rec#,}
    done
}

# Where a quote left open in word $1 begins: _zelk_open is the index after it (0 for none) and
# _zelk_style the quote (empty for none).
_zelk_open_quote() {
    local w=$1 i c q=
    _zelk_open=0
    for ((i = 0; i < ${#w}; i++)); do
        c=${w:i:1}
        if [[ -z $q ]]; then
            case $c in
            \\) ((++i)) ;;
            \' | \") q=$c _zelk_open=$((i + 1)) ;;
            esac
        elif [[ $q == \' ]]; then
            [[ $c == \' ]] && q=
        else
            case $c in
            \\) ((++i)) ;;
            \") q= ;;
            esac
        fi
    done
    _zelk_style=$q
    [[ -n $q ]] || _zelk_open=0
}

# In _zelk_text, the text that typed word $2 stands for, read from inside quote $1 (empty:
# none): quotes and backslashes removed as the shell would, nothing expanded.
_zelk_dequote() {
    local q=$1 w=$2 i c out=
    for ((i = 0; i < ${#w}; i++)); do
        c=${w:i:1}
        if [[ -z $q ]]; then
            case $c in
            \\) ((++i)); out+=${w:i:1} ;;
            \' | \") q=$c ;;
            *) out+=$c ;;
            esac
        elif [[ $q == \' ]]; then
            if [[ $c == \' ]]; then q=; else out+=$c; fi
        elif [[ $c == \" ]]; then
            q=
        elif [[ $c == \\ && ${w:i+1:1} == [\\\"\$\`] ]]; then
            ((++i)); out+=${w:i:1}
        else
            out+=$c
        fi
    done
    _zelk_text=$out
}

# In _zelk_text, text $2 quoted for the shell inside quote $1 (empty: outside any quote).
_zelk_quote() {
    local s=$2
    case $1 in
    \') _zelk_text=${s//\'/\'\\\'\'} ;;
    \")
        s=${s//\\/\\\\}
        s=${s//\"/\\\"}
        s=${s//\$/\\\$}
        _zelk_text=${s//\`/\\\`}
        ;;
    *) printf -v _zelk_text %q "$s" ;;
    esac
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
            [[ $arg == *FILE* ]] && mapfile -t COMPREPLY < <(compgen -f -- "$cur") &&
                compopt -o filenames 2>/dev/null
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
        # Readline keeps what comes up to a quote left open and closes that quote itself;
        # the rest of the word is replaced, up to its last comma as typed.
        _zelk_open_quote "$cur"
        local style=$_zelk_style text=${cur:_zelk_open} head= tail name
        if [[ $text == *,* ]]; then
            head=${text%,*},
            text=${text##*,}
        fi
        _zelk_dequote "$style" "$text"
        tail=$_zelk_text
        while IFS= read -r -d '' name; do
            [[ $name == "$tail"* ]] || continue
            _zelk_quote "$style" "$name"
            COMPREPLY+=("$head$_zelk_text")
        done < <(_zelk_header_names "$file" "$prog")
        if ((${#COMPREPLY[@]})); then
            # A list goes on after a comma.
            [[ ${prog##*/} == zelk-columns || ${prog##*/} == zelk-colnum ]] &&
                compopt -o nospace 2>/dev/null
            return 0
        fi
    fi

    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
    return 0
}

complete -F _zelk zelk-beside zelk-colnum zelk-columns zelk-concat zelk-dedupe \
    zelk-from-delim zelk-lint zelk-match zelk-match-expr zelk-match-rows zelk-merge \
    zelk-next-cell zelk-next-row zelk-order zelk-order-keys zelk-range zelk-row-tally \
    zelk-rows zelk-script-column zelk-script-rows zelk-setcell zelk-show zelk-subst \
    zelk-table zelk-tidy zelk-timestamp zelk-to-delim zelk-width-tally
