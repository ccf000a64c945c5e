# zelk-match tests one field of each parsed record; grep -E scans whole lines. The pattern
# selects about one record in a hundred by the text field (the fifth). Output goes to a file:
# grep stops at its first match when its output is /dev/null.
compare "zelk-match regex plain" sh -c "zelk-match 5 'dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out" \
    --- "grep -E plain" sh -c "grep -E ',lorem ipsum dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out"
compare "zelk-match -F plain" sh -c "zelk-match -F 2 name1 $OUT/plain.csv > $OUT/match.out" \
    --- "grep -F plain" sh -c "grep -F ,name1 $OUT/plain.csv > $OUT/match.out"
rm -f "$OUT/match.out"
