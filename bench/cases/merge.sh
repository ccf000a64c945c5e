# zelk-merge against two hash joins that hold CSVFILE2 in memory: Miller's (mlr join -u) and
# gawk's (an array of CSVFILE2's records). The files hold the same keys; in the shuffled case
# CSVFILE2's records are in a fixed scrambled order, so zelk-merge indexes CSVFILE2 after its
# first look behind the scan position; in the same-order case it reads CSVFILE2 forward once and
# holds nothing. Sizes: MERGE_ROWS and MERGE_BIG_ROWS (MERGE_BIG_ROWS=0 leaves the big one out).
# MERGE_PEER_ROWS caps the size at which Miller and gawk run too (Miller holds some 3 KB a
# record).
MERGE_ROWS=${MERGE_ROWS:-200000}
MERGE_BIG_ROWS=${MERGE_BIG_ROWS:-2000000}
MERGE_PEER_ROWS=${MERGE_PEER_ROWS:-2000000}
command -v mlr >/dev/null || apt-get install -y -qq miller >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null

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

# bench_peak LABEL COMMAND...: the best wall time and the best processor time (user + system)
# of $BENCH_RUNS runs (default 3), and the largest peak memory (maximum resident set size) among
# them. On a busy machine the processor time is the steadier measure. The times are left in
# BENCH_LAST (wall) and BENCH_CPU.
bench_peak() {
    local label=$1; shift
    local best="" cpu="" peak=0 t u s kb
    for _ in $(seq "${BENCH_RUNS:-3}"); do
        read -r t u s kb < <(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -n 1)
        u=$(echo "$u + $s" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
        if [ -z "$cpu" ] || [ "$(echo "$u < $cpu" | bc -l)" = 1 ]; then cpu=$u; fi
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    BENCH_LAST=$best
    BENCH_CPU=$cpu
    printf '  %-44s %7.2f s wall %7.2f s cpu %8.1f MB\n' "$label" "$best" "$cpu" \
        "$(echo "$peak / 1024" | bc -l)"
}

# ratio LABEL A_WALL A_CPU B_WALL B_CPU
ratio() {
    printf '  %-44s %7.2f wall   %7.2f cpu\n' "$1" "$(echo "$2 / $4" | bc -l)" \
        "$(echo "$3 / $5" | bc -l)"
}

awk_join='NR == FNR { a[$1] = $0; next } { print $0 "," a[$1] }'

for n in $MERGE_ROWS $MERGE_BIG_ROWS; do
    [ "$n" -gt 0 ] || continue
    merge_inputs "$n"
    b="$OUT/merge-$n"
    bench_peak "zelk-merge $n same order" zelk-merge 1 "$b-1.csv" 1 "$b-2.csv"
    bench_peak "zelk-merge -o $n same order" zelk-merge -o 1 "$b-1.csv" 1 "$b-2.csv"
    bench_peak "zelk-merge $n shuffled" zelk-merge 1 "$b-1.csv" 1 "$b-2shuf.csv"
    zelk=("$BENCH_LAST" "$BENCH_CPU")
    bench_peak "zelk-merge $n shuffled, CSVFILE2 on a pipe" \
        sh -c 'cat "$2" | zelk-merge 1 "$1" 1' sh "$b-1.csv" "$b-2shuf.csv"
    [ "$n" -le "$MERGE_PEER_ROWS" ] || continue
    bench_peak "mlr join -u $n shuffled" mlr --csv join -u -j id -f "$b-2shuf.csv" "$b-1.csv"
    ratio "ratio zelk-merge / mlr join -u, shuffled" "${zelk[@]}" "$BENCH_LAST" "$BENCH_CPU"
    bench_peak "gawk hash join $n shuffled" /usr/bin/awk -F, "$awk_join" "$b-2shuf.csv" "$b-1.csv"
    ratio "ratio zelk-merge / gawk, shuffled" "${zelk[@]}" "$BENCH_LAST" "$BENCH_CPU"
done

# One-to-many: each of MANY_KEYS keys (a customers file) joined with all its records of a
# MANY_ROWS-record file (invoices, each key MANY_ROWS / MANY_KEYS times, in a scrambled order),
# as a full outer join: zelk-merge -m -a -r beside Miller's mlr join --ul --ur (which holds the
# customers in memory and streams the invoices) and csvkit's csvjoin --outer (which holds both
# files; MANY_CSVKIT_ROWS invoices and a tenth as many keys, by default the same files).
MANY_ROWS=${MANY_ROWS:-1000000}
MANY_KEYS=${MANY_KEYS:-100000}
MANY_CSVKIT_ROWS=${MANY_CSVKIT_ROWS:-$MANY_ROWS}
command -v csvjoin >/dev/null || apt-get install -y -qq csvkit >/dev/null

# many_inputs ROWS KEYS: $OUT/many-ROWS-{keys,recs}.csv.
many_inputs() {
    local rows=$1 keys=$2 base="$OUT/many-$1"
    [ -s "$base-keys.csv" ] || /usr/bin/awk -v n="$keys" 'BEGIN {
        print "id,customer"
        for (i = 1; i <= n; i++) printf "%d,customer %d\n", i, i * 31 % 9973
    }' > "$base-keys.csv"
    [ -s "$base-recs.csv" ] || /usr/bin/awk -v n="$rows" -v k="$keys" 'BEGIN {
        print "invoice,id,amount"
        for (i = 1; i <= n; i++) printf "%d,%d,%.2f\n", i, (i * 7919) % k + 1, (i * 37 % 100000) / 100
    }' > "$base-recs.csv"
}

many_inputs "$MANY_ROWS" "$MANY_KEYS"
b="$OUT/many-$MANY_ROWS"
bench_peak "zelk-merge -m -a -r $MANY_KEYS x $MANY_ROWS" \
    zelk-merge -m -a -r 1 "$b-keys.csv" 2 "$b-recs.csv"
zelk=("$BENCH_LAST" "$BENCH_CPU")
bench_peak "mlr join --ul --ur $MANY_KEYS x $MANY_ROWS" \
    mlr --csv join --ul --ur -j id -f "$b-keys.csv" "$b-recs.csv"
ratio "ratio zelk-merge -m / mlr join" "${zelk[@]}" "$BENCH_LAST" "$BENCH_CPU"
if [ "$MANY_CSVKIT_ROWS" != "$MANY_ROWS" ]; then
    many_inputs "$MANY_CSVKIT_ROWS" "$((MANY_CSVKIT_ROWS / 10))"
    b="$OUT/many-$MANY_CSVKIT_ROWS"
    bench_peak "zelk-merge -m -a -r $((MANY_CSVKIT_ROWS / 10)) x $MANY_CSVKIT_ROWS" \
        zelk-merge -m -a -r 1 "$b-keys.csv" 2 "$b-recs.csv"
    zelk=("$BENCH_LAST" "$BENCH_CPU")
fi
bench_peak "csvjoin --outer $((MANY_CSVKIT_ROWS / 10)) x $MANY_CSVKIT_ROWS" \
    csvjoin --outer -c id "$b-keys.csv" "$b-recs.csv"
ratio "ratio zelk-merge -m / csvjoin --outer" "${zelk[@]}" "$BENCH_LAST" "$BENCH_CPU"
