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

# bench_cpu LABEL COMMAND...: like bench, but also the CPU time (user + system, the command
# and its children) and the peak memory of the run with the best wall time. Needs GNU time.
# The times are left in BENCH_LAST and BENCH_CPU (seconds).
bench_cpu() {
    local label=$1; shift
    local best="" cpu="" rss="" w u s m
    local tf; tf=$(mktemp)
    for _ in $(seq "${BENCH_RUNS:-3}"); do
        /usr/bin/time -f '%e %U %S %M' -o "$tf" "$@" > /dev/null 2>&1 || true
        read -r w u s m < <(tail -1 "$tf")
        if [ -z "$best" ] || [ "$(echo "$w < $best" | bc -l)" = 1 ]; then
            best=$w; cpu=$(echo "$u + $s" | bc -l); rss=$m
        fi
    done
    rm -f "$tf"
    BENCH_LAST=$best BENCH_CPU=$cpu
    printf '  %-44s %7.2f s wall %7.2f s cpu %7d KiB\n' "$label" "$best" "$cpu" "$rss"
}

# compare_cpu LABEL CMD... --- LABEL CMD... [--- LABEL CMD...]: bench_cpu for each, then the
# ratios of the first to each other, in wall and CPU time.
compare_cpu() {
    local labels=() cmds=() cur=() i
    while [ $# -gt 0 ]; do
        labels+=("$1"); shift
        cur=()
        while [ $# -gt 0 ] && [ "$1" != "---" ]; do cur+=("$1"); shift; done
        [ $# -gt 0 ] && shift
        cmds+=("$(printf '%q ' "${cur[@]}")")
    done
    local walls=() cpus=()
    for i in "${!labels[@]}"; do
        eval "bench_cpu \"\${labels[$i]}\" ${cmds[$i]}"
        walls+=("$BENCH_LAST"); cpus+=("$BENCH_CPU")
    done
    for i in "${!labels[@]}"; do
        [ "$i" = 0 ] && continue
        printf '  %-44s %7.2f wall %7.2f cpu\n' "ratio to ${labels[$i]}" \
            "$(echo "${walls[0]} / ${walls[$i]}" | bc -l)" "$(echo "${cpus[0]} / ${cpus[$i]}" | bc -l)"
    done
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
