# zelk-order frames every record for sort and strips the keys again; plain sort compares the
# same numeric field of the same file directly. Both sort with the same locale (LC_ALL=C).
compare "zelk-order -n 3 plain" zelk-order -n 3 "$OUT/plain.csv" --- "sort -t, -k3,3n plain" sort -t, -k3,3n "$OUT/plain.csv"
compare "zelk-order-keys -k3n plain" zelk-order-keys -k3n "$OUT/plain.csv" --- "sort -t, -k3,3n plain" sort -t, -k3,3n "$OUT/plain.csv"
