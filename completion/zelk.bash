# bash completion for the zelk programs.
#
# Options come from the program's own usage text (--help), so they are never out of date;
# when several match, they are listed with their help text. Options that take a file
# complete file names; operands complete file names. With -Q (and for zelk-colnum's
# FIELD_NAMES_LIST), a field operand completes the header names of the CSV file named
# elsewhere on the command line (for zelk-merge, KEY_FIELD1 those of CSVFILE1 and KEY_FIELD2
# those of CSVFILE2), reading only its first record; in a comma-separated list the name after
# the last comma is completed.
#
# A header name is whatever a file holds: it is inserted quoted for the shell, in the quotes
# the word was begun with (readline closes them) or with printf %q, so that no part of it is
# expanded or run, and completion results never go through word splitting or globbing.

# The options of a program's usage text as "-X", the argument's name (may be empty) and the
# help text, separated by the byte 0x1f: the option lines, then any option that the Usage
# line requires (zelk-order-keys' -kKEYDEF...) and no option line describes, with its
# "NAME defines ..." line as help.
_zelk_option_lines() {
    "$1" --help 2>&1 | LC_ALL=C awk '
        /^Usage:/ {
            for (i = 2; i <= NF; i++)
                if ($i ~ /^-[A-Za-z][A-Z_]+(\.\.\.)?$/) required[++n] = $i
            next
        }
        match($0, /^  ?-[^ -][^ ]* *-- */) {
            opt = substr($0, 1, RLENGTH)
            sub(/^ +/, "", opt)
            sub(/ *-- *$/, "", opt)
            seen[substr(opt, 1, 2)] = 1
            print substr(opt, 1, 2) "\037" substr(opt, 3) "\037" substr($0, RLENGTH + 1)
            next
        }
        $2 == "defines" { help = $0; sub(/^[^ ]* defines /, "", help); defines[$1] = help }
        END {
            for (i = 1; i <= n; i++) {
                opt = substr(required[i], 1, 2)
                if (opt in seen) continue
                arg = required[i]
                repeat = sub(/\.\.\.$/, "", arg)
                arg = substr(arg, 3)
                help = (arg in defines) ? defines[arg] " " : ""
                print opt "\037" arg "\037" help "(required" (repeat ? ", repeatable" : "") ")"
            }
        }'
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
    local cur prev prog
    prog=${COMP_WORDS[0]}
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local lines
    lines=$(_zelk_option_lines "$prog")

    local sep=$'\x1f' opt arg help takes_arg=
    while IFS=$sep read -r opt arg help; do
        [[ -n $arg ]] && takes_arg+=${opt#-}
    done <<<"$lines"

    # The argument of an option given as a separate word: a file, or nothing to offer.
    if [[ $prev == -? && -n $takes_arg && $takes_arg == *"${prev#-}"* ]]; then
        while IFS=$sep read -r opt arg help; do
            [[ $opt == "$prev" ]] || continue
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

    # The operands before and after the word being completed (options may follow them), and
    # whether -Q is among the options.
    local query=0 w i j dashdash=0 operands=() here=-1
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
        w=${COMP_WORDS[i]}
        if ((i == COMP_CWORD)); then
            here=${#operands[@]}
            operands+=("")
            continue
        fi
        if ((dashdash)) || [[ $w != -?* ]]; then
            _zelk_dequote "" "$w"
            [[ $_zelk_text == \~/* ]] && _zelk_text=$HOME/${_zelk_text#\~/}
            operands+=("$_zelk_text")
            continue
        fi
        [[ $w == -- ]] && dashdash=1 && continue
        # A word of options: its letters up to the first that takes an argument, which is the
        # rest of the word or else the next word.
        for ((j = 1; j < ${#w}; j++)); do
            [[ ${w:j:1} == Q && $lines == *"-Q$sep"* ]] && query=1
            if [[ $takes_arg == *"${w:j:1}"* ]]; then
                ((j + 1 == ${#w} && i + 1 != COMP_CWORD)) && ((i++))
                break
            fi
        done
    done

    # The CSV file whose header names the word may be: for zelk-merge the file after the key
    # field, else any file operand.
    local names=0 file=
    case ${prog##*/} in
    zelk-merge)
        if ((query && (here == 0 || here == 2))) && [[ -f ${operands[here + 1]} ]]; then
            names=1 file=${operands[here + 1]}
        fi
        ;;
    *)
        [[ ${prog##*/} == zelk-colnum ]] && names=1
        ((query)) && names=1
        for w in "${operands[@]}"; do
            [[ -n $w && -f $w ]] && file=$w
        done
        ;;
    esac

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
