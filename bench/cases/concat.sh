# zelk-concat checks every record's syntax; cat copies bytes.
compare "zelk-concat plain" zelk-concat "$OUT/plain.csv" --- "cat plain" cat "$OUT/plain.csv"
compare "zelk-concat quoted" zelk-concat "$OUT/quoted.csv" --- "cat quoted" cat "$OUT/quoted.csv"
