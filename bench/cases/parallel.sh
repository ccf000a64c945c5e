# The programs that work on several cores, on one ~200 MB file with quoted fields: 1, 2 and
# every core (-jNUM), with wall time, CPU time (every worker's) and peak memory (the largest
# process), and each run's wall and CPU time against -j1's.
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null
F=$OUT/parallel.csv T=$OUT/parallel.tsv W=$OUT/parallel-warn.csv
gen_csv 3400000 "$F" quoted
[ -s "$T" ] || zelk-to-delim -j1 '\t' "$F" > "$T"
# The same with a record of one field every 500,000: a warning each with zelk-match -w.
[ -s "$W" ] || awk 'NR % 500000 == 0 { print "short" } { print }' "$F" > "$W"
echo " $(du -h "$F" | cut -f1) of CSV, $(nproc) cores"
scale() {
    local label=$1; shift
    local jobs w1 c1
    for jobs in $(printf '%s\n' 1 2 "$(nproc)" | awk '!seen[$0]++'); do
        bench_cpu "$label -j$jobs" "$1" "-j$jobs" "${@:2}"
        if [ "$jobs" = 1 ]; then
            w1=$BENCH_LAST c1=$BENCH_CPU
        else
            printf '  %-44s %7.2f wall %7.2f cpu\n' "  -j$jobs against -j1" \
                "$(echo "$w1 / $BENCH_LAST" | bc -l)" "$(echo "$BENCH_CPU / $c1" | bc -l)"
        fi
    done
}
scale "zelk-match 2 'name1[0-4]'" zelk-match 2 'name1[0-4]' "$F"
scale "zelk-match -w 2 'name1[0-4]' (6 warnings)" zelk-match -w 2 'name1[0-4]' "$W"
scale "zelk-range -m1000 -x5000 3" zelk-range -m1000 -x5000 3 "$F"
scale "zelk-subst 5 ipsum IPSUM" zelk-subst 5 ipsum IPSUM "$F"
scale "zelk-lint" zelk-lint "$F"
scale "zelk-tidy" zelk-tidy "$F"
scale "zelk-columns 1,3,5" zelk-columns 1,3,5 "$F"
scale "zelk-to-delim '\\t'" zelk-to-delim '\t' "$F"
scale "zelk-from-delim '\\t'" zelk-from-delim '\t' "$T"
scale "zelk-width-tally" zelk-width-tally "$F"
scale "zelk-row-tally" zelk-row-tally "$F"
scale "zelk-timestamp 4 (two formats)" zelk-timestamp 4 '%Y-%m-%d %H:%M:%S' '%d/%m/%Y %H:%M' "$F"
