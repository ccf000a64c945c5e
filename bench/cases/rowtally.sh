# zelk-row-tally checks the syntax of every record while counting; wc -l counts line feeds.
compare "zelk-row-tally plain" zelk-row-tally "$OUT/plain.csv" --- "wc -l plain" wc -l "$OUT/plain.csv"
compare "zelk-row-tally quoted" zelk-row-tally "$OUT/quoted.csv" --- "wc -l quoted" wc -l "$OUT/quoted.csv"
