# zelk-order frames every record for sort and strips the keys again; plain sort compares the
# same numeric field of the same file directly, keeping equal keys in input order as zelk-order
# does. Both sort with the same locale (LC_ALL=C). Wall and CPU times (sort's included, which
# zelk-order runs as a child) and peak memory: zelk-order's sort holds 32 MiB, bare sort the
# whole file.
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null
compare_cpu "zelk-order -n 3 plain" zelk-order -n 3 "$OUT/plain.csv" \
    --- "sort -t, -k3,3n --stable plain" sort -t, -k3,3n --stable "$OUT/plain.csv"
compare_cpu "zelk-order-keys -k3n plain" zelk-order-keys -k3n "$OUT/plain.csv" \
    --- "sort -t, -k3,3n --stable plain" sort -t, -k3,3n --stable "$OUT/plain.csv"
