# zelk-match tests one field of each parsed record; grep -E scans whole lines. The pattern
# selects about one record in a hundred by the text field (the fifth). Output goes to a file:
# grep stops at its first match when its output is /dev/null.
compare "zelk-match regex plain" sh -c "zelk-match 5 'dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out" \
    --- "grep -E plain" sh -c "grep -E ',lorem ipsum dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out"
compare "zelk-match -F plain" sh -c "zelk-match -F 2 name1 $OUT/plain.csv > $OUT/match.out" \
    --- "grep -F plain" sh -c "grep -F ,name1 $OUT/plain.csv > $OUT/match.out"
# The same ASCII job in a UTF-8 locale and in C: the automaton takes the pattern in both.
compare "zelk-match regex C.UTF-8" sh -c "LC_ALL=C.UTF-8 zelk-match 5 'dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out" \
    --- "zelk-match regex C" sh -c "LC_ALL=C zelk-match 5 'dolor 9[0-9]?\$' $OUT/plain.csv > $OUT/match.out"
# Letters beyond ASCII without case, in a UTF-8 locale: left to regexec, beside grep -i. The
# text field gets an accented i and an upper-case accented O in every record.
i_acute=$'\xc3\xad' o_acute=$'\xc3\xb3' O_acute=$'\xc3\x93'
[ -s "$OUT/utf8.csv" ] || sed "s/ipsum/${i_acute}psum/; s/dolor/D${O_acute}LOR/" "$OUT/plain.csv" > "$OUT/utf8.csv"
compare "zelk-match -i non-ASCII C.UTF-8" sh -c "LC_ALL=C.UTF-8 zelk-match -i 5 'd${o_acute}lor 9[0-9]?\$' $OUT/utf8.csv > $OUT/match.out" \
    --- "grep -iE C.UTF-8" sh -c "LC_ALL=C.UTF-8 grep -iE ',lorem ${i_acute}psum d${o_acute}lor 9[0-9]?\$' $OUT/utf8.csv > $OUT/match.out"
rm -f "$OUT/match.out"
