# zelk-group's group-by sum against Miller (stats1, which hashes the groups) and GNU datamash
# (-g on input sorted on the key, or -s to sort it first; it reads standard input only), with 1k and 1M groups whose keys
# appear scrambled. zelk-group hashes the unsorted file; with -s it streams the sorted one.
# Size: GROUP_ROWS (10M by default; the files take some 40 bytes a record).
GROUP_ROWS=${GROUP_ROWS:-10000000}
command -v mlr >/dev/null || apt-get install -y -qq miller >/dev/null
command -v datamash >/dev/null || apt-get install -y -qq datamash >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null

# gen_groups ROWS FILE: id,k1k,k1m,amount, the keys of 1000 and 1000000 groups scrambled.
gen_groups() {
    [ -s "$2" ] && return 0
    /usr/bin/awk -v n="$1" 'BEGIN {
        srand(42);
        print "id,k1k,k1m,amount";
        for (i = 1; i <= n; i++)
            printf "%d,c%d,c%d,%.2f\n", i, (i * 7919) % 1000, (i * 7919) % 1000000,
                int(rand() * 1000000) / 100;
    }' > "$2"
}

g="$OUT/group-$GROUP_ROWS"
gen_groups "$GROUP_ROWS" "$g.csv"
for f in 2 3; do
    [ -s "$g-sorted$f.csv" ] || {
        head -n 1 "$g.csv"
        tail -n +2 "$g.csv" | LC_ALL=C sort -s -t, -k$f,$f
    } > "$g-sorted$f.csv"
done

for f in 2 3; do
    name=$(head -n 1 "$g.csv" | cut -d, -f$f)
    echo "  -- $GROUP_ROWS records, groups by $name, unsorted"
    compare_cpu "zelk-group $f count,sum:4" zelk-group $f count,sum:4 "$g.csv" \
        --- "mlr stats1 -a sum,count -g $name" \
        mlr --icsv --ocsv stats1 -a sum,count -f amount -g "$name" "$g.csv" \
        --- "datamash -s -g $f sum 4 count 4" \
        sh -c 'datamash -t, --header-in -s -g "$1" sum 4 count 4 < "$2"' sh "$f" "$g.csv"
    echo "  -- $GROUP_ROWS records, groups by $name, sorted"
    compare_cpu "zelk-group -s $f count,sum:4" zelk-group -s $f count,sum:4 "$g-sorted$f.csv" \
        --- "datamash -g $f sum 4 count 4" \
        sh -c 'datamash -t, --header-in -g "$1" sum 4 count 4 < "$2"' sh "$f" "$g-sorted$f.csv"
done
