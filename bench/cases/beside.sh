# zelk-beside checks both files' records and field counts; paste joins lines blindly.
compare "zelk-beside plain plain" zelk-beside "$OUT/plain.csv" "$OUT/plain.csv" \
    --- "paste -d, plain plain" paste -d, "$OUT/plain.csv" "$OUT/plain.csv"
compare "zelk-beside quoted quoted" zelk-beside "$OUT/quoted.csv" "$OUT/quoted.csv" \
    --- "paste -d, quoted quoted" paste -d, "$OUT/quoted.csv" "$OUT/quoted.csv"
