# zelk-merge joins in constant memory: when both files list their keys in the same order each
# match costs one CSVFILE2 read; in another order a match may cost a whole pass over CSVFILE2,
# so the shuffled case is kept small (MERGE_SHUFFLED_ROWS). awk's hash join holds all of
# CSVFILE2 in memory and is the reference.
MERGE_ROWS=${MERGE_ROWS:-200000}
MERGE_SHUFFLED_ROWS=${MERGE_SHUFFLED_ROWS:-5000}

# merge_inputs ROWS: $OUT/merge-ROWS-{1,2,2shuf}.csv: a generated file, a second file of its
# keys and names, and that second file with its records in a fixed scrambled order.
merge_inputs() {
    local n=$1 base="$OUT/merge-$1"
    gen_csv "$n" "$base-1.csv"
    [ -s "$base-2.csv" ] || /usr/bin/awk -F, '{ print $1 "," $2 }' "$base-1.csv" > "$base-2.csv"
    [ -s "$base-2shuf.csv" ] || {
        head -n 1 "$base-2.csv"
        tail -n +2 "$base-2.csv" | /usr/bin/awk -F, -v n="$n" '{ print ($1 * 7919) % n "," $0 }' |
            sort -t, -k1,1n | cut -d, -f2-
    } > "$base-2shuf.csv"
}

awk_join='NR == FNR { a[$1] = $0; next } { print $0 "," a[$1] }'

merge_inputs "$MERGE_ROWS"
b="$OUT/merge-$MERGE_ROWS"
compare "zelk-merge $MERGE_ROWS same order" zelk-merge 1 "$b-1.csv" 1 "$b-2.csv" \
    --- "awk hash join" /usr/bin/awk -F, "$awk_join" "$b-2.csv" "$b-1.csv"
compare "zelk-merge -o $MERGE_ROWS same order" zelk-merge -o 1 "$b-1.csv" 1 "$b-2.csv" \
    --- "awk hash join" /usr/bin/awk -F, "$awk_join" "$b-2.csv" "$b-1.csv"

merge_inputs "$MERGE_SHUFFLED_ROWS"
s="$OUT/merge-$MERGE_SHUFFLED_ROWS"
compare "zelk-merge $MERGE_SHUFFLED_ROWS shuffled" zelk-merge 1 "$s-1.csv" 1 "$s-2shuf.csv" \
    --- "awk hash join" /usr/bin/awk -F, "$awk_join" "$s-2shuf.csv" "$s-1.csv"
