# The AWK programs against plain gawk doing the same job on the same file (FPAT where quoting
# matters) and against Miller's filter and put for the same condition or assignment. Wall and
# CPU times (the CPU time counts awk, which the zelk programs run as a child) and peak memory.
command -v mlr >/dev/null || apt-get install -y -qq miller >/dev/null
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null
P=$OUT/plain.csv Q=$OUT/quoted.csv
FPAT='([^,]*)|("([^"]|"")*")'
echo " condition on one field, plain file"
compare_cpu "zelk-match-expr 3 '\$0>5000'" zelk-match-expr 3 '$0>5000' "$P" \
    --- "gawk -F, '\$3>5000'" gawk -F, 'NR==1 || $3>5000' "$P" \
    --- "mlr filter '\$amount>5000'" mlr --icsv --ocsv filter '$amount > 5000' "$P"
echo " condition on whole records, plain file"
compare_cpu "zelk-match-rows '\$3>5000'" zelk-match-rows '$3>5000' "$P" \
    --- "gawk -F, '\$3>5000'" gawk -F, 'NR==1 || $3>5000' "$P" \
    --- "mlr filter '\$amount>5000'" mlr --icsv --ocsv filter '$amount > 5000' "$P"
echo " condition on whole records, quoted file"
compare_cpu "zelk-match-rows '\$5 ~ /, ipsum 9/'" zelk-match-rows '$5 ~ /, ipsum 9/' "$Q" \
    --- "gawk FPAT '\$5 ~ /, ipsum 9/'" gawk -v FPAT="$FPAT" 'NR==1 || $5 ~ /, ipsum 9/' "$Q" \
    --- "mlr filter '\$text =~ \", ipsum 9\"'" mlr --icsv --ocsv filter '$text =~ ", ipsum 9"' "$Q"
echo " rewrite one field, plain file"
compare_cpu "zelk-script-column 3 (double)" zelk-script-column -e '{$0=sprintf("%.2f",$0*2)}' 3 "$P" \
    --- "gawk -F, -vOFS=, (double \$3)" gawk -F, -vOFS=, 'NR>1{$3=sprintf("%.2f",$3*2)}1' "$P" \
    --- "mlr put (double \$amount)" mlr --icsv --ocsv put '$amount = fmtnum($amount * 2, "%.2f")' "$P"
echo " rewrite whole records, plain file"
compare_cpu "zelk-script-rows (double \$3)" zelk-script-rows -e '{$3=sprintf("%.2f",$3*2)}' "$P" \
    --- "gawk -F, -vOFS=, (double \$3)" gawk -F, -vOFS=, 'NR>1{$3=sprintf("%.2f",$3*2)}1' "$P" \
    --- "mlr put (double \$amount)" mlr --icsv --ocsv put '$amount = fmtnum($amount * 2, "%.2f")' "$P"
