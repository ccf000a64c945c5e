# zelk-columns checks every record's syntax and copies fields as they stand; cut splits lines
# at every comma (right only for the plain file, which has no quoted commas).
compare "zelk-columns 1,3,5 plain" zelk-columns 1,3,5 "$OUT/plain.csv" --- "cut -d, -f1,3,5 plain" cut -d, -f1,3,5 "$OUT/plain.csv"
compare "zelk-columns 2- plain" zelk-columns 2- "$OUT/plain.csv" --- "cut -d, -f2- plain" cut -d, -f2- "$OUT/plain.csv"
bench "zelk-columns 1,3,5 quoted" zelk-columns 1,3,5 "$OUT/quoted.csv"
bench "zelk-columns -r 2 quoted" zelk-columns -r 2 "$OUT/quoted.csv"
