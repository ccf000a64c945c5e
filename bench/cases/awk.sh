# The AWK programs against one plain gawk run over the same unquoted file. zelk-match-expr,
# zelk-match-rows and zelk-script-column wait for awk's answer to every record (one round trip
# per record); zelk-script-rows streams both ways.
compare "zelk-match-expr 3 '\$0>5000'" zelk-match-expr 3 '$0>5000' "$OUT/plain.csv" \
    --- "gawk -F, '\$3>5000'" gawk -F, 'NR==1 || $3>5000' "$OUT/plain.csv"
compare "zelk-match-rows '\$3>5000'" zelk-match-rows '$3>5000' "$OUT/plain.csv" \
    --- "gawk -F, '\$3>5000'" gawk -F, 'NR==1 || $3>5000' "$OUT/plain.csv"
compare "zelk-script-column 3 (double)" zelk-script-column -e '{$0=sprintf("%.2f",$0*2)}' 3 "$OUT/plain.csv" \
    --- "gawk -F, -vOFS=, (double \$3)" gawk -F, -vOFS=, 'NR>1{$3=sprintf("%.2f",$3*2)}1' "$OUT/plain.csv"
compare "zelk-script-rows (double \$3)" zelk-script-rows -e '{$3=sprintf("%.2f",$3*2)}' "$OUT/plain.csv" \
    --- "gawk -F, -vOFS=, (double \$3)" gawk -F, -vOFS=, 'NR>1{$3=sprintf("%.2f",$3*2)}1' "$OUT/plain.csv"
