# zelk-range against gawk and Miller keeping the same numeric range of the amount field (the
# third), on the plain file and on the quoted one (whose quoted fields are texts, so every
# value is read unquoted). Wall and CPU times and peak memory.
command -v mlr >/dev/null || apt-get install -y -qq miller >/dev/null
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null
for f in plain quoted; do
    echo " -m1000 -x5000 on the amount, $f file"
    compare_cpu "zelk-range -m1000 -x5000 3" zelk-range -m1000 -x5000 3 "$OUT/$f.csv" \
        --- "gawk -F, '\$3>=1000 && \$3<=5000'" gawk -F, 'NR==1 || ($3>=1000 && $3<=5000)' "$OUT/$f.csv" \
        --- "mlr filter (same range)" mlr --icsv --ocsv filter '$amount >= 1000 && $amount <= 5000' "$OUT/$f.csv"
done
