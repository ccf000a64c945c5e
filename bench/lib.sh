# Shared helpers for the benchmark cases (sourced by bench/run).
# Each case file defines its timings with `bench LABEL -- COMMAND...` and `ratio`.

# gen_csv ROWS FILE [quoted]: a deterministic CSV of ROWS data records and a header:
# id,name,amount,when,text. With "quoted", every third text field is quoted and holds a comma.
gen_csv() {
    local rows=$1 file=$2 quoted=${3:-}
    [ -s "$file" ] && return 0
    /usr/bin/awk -v n="$rows" -v q="$quoted" 'BEGIN {
        srand(42);
        print "id,name,amount,when,text";
        for (i = 1; i <= n; i++) {
            amt = int(rand() * 1000000) / 100;
            t = sprintf("2024-%02d-%02d %02d:%02d:%02d", 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60);
            txt = "lorem ipsum dolor " i % 977;
            if (q != "" && i % 3 == 0) txt = "\"lorem, ipsum " i % 977 "\"";
            printf "%d,name%d,%.2f,%s,%s\n", i, int(rand() * 100000), amt, t, txt;
        }
    }' > "$file"
}

# bench LABEL COMMAND...: best wall time of $BENCH_RUNS runs (default 3), output to /dev/null.
# The time is left in BENCH_LAST (seconds).
bench() {
    local label=$1; shift
    local best="" t
    for _ in $(seq "${BENCH_RUNS:-3}"); do
        local start end
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1 || true
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    BENCH_LAST=$best
    printf '  %-48s %8.3f s\n' "$label" "$best"
}

# compare LABEL_A CMD_A... --- LABEL_B CMD_B...: times both, prints A/B.
compare() {
    local la=$1; shift
    local a=() b=()
    while [ "$1" != "---" ]; do a+=("$1"); shift; done
    shift
    local lb=$1; shift
    b=("$@")
    bench "$la" "${a[@]}"; local ta=$BENCH_LAST
    bench "$lb" "${b[@]}"; local tb=$BENCH_LAST
    printf '  %-48s %8.2f\n' "ratio ($la / $lb)" "$(echo "$ta / $tb" | bc -l)"
}

# gen_wide ROWS FILE: a deterministic CSV of ROWS records of 100 fields (c1..c100): numbers,
# words, and every tenth field quoted with a comma inside.
gen_wide() {
    local rows=$1 file=$2
    [ -s "$file" ] && return 0
    /usr/bin/awk -v n="$rows" 'BEGIN {
        srand(7);
        h = "c1"; for (j = 2; j <= 100; j++) h = h ",c" j; print h;
        for (i = 1; i <= n; i++) {
            s = i;
            for (j = 2; j <= 100; j++) {
                if (j % 10 == 0) v = "\"w" (i + j) % 89 ", x\"";
                else if (j % 3 == 0) v = "word" (i * j) % 997;
                else v = int(rand() * 100000) / 10;
                s = s "," v;
            }
            print s;
        }
    }' > "$file"
}
