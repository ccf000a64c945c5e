# zelk-dedupe checks every record and compares raw key fields; awk splits on every comma,
# quoted or not, so it is a lower bound rather than an equal.
compare "zelk-dedupe -f text" zelk-dedupe -f 5 "$OUT/plain.csv" \
    --- "awk first of run" /usr/bin/awk -F, '$5 != p { print; p = $5 }' "$OUT/plain.csv"
compare "zelk-dedupe text (last of run)" zelk-dedupe 5 "$OUT/quoted.csv" \
    --- "awk first of run quoted" /usr/bin/awk -F, '$5 != p { print; p = $5 }' "$OUT/quoted.csv"
