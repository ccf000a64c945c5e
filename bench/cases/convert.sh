# CSV to TSV and validation against gawk and python3's csv module.
# zelk-to-delim and zelk-lint check every byte's syntax as they go; gawk's FPAT splitting does
# not (it also cannot follow a quoted field across lines), python3's csv reader does.

FPAT_CSV='([^,]*)|("([^"]|"")*")'

compare "zelk-to-delim '\\t' quoted" zelk-to-delim '\t' "$OUT/quoted.csv" \
    --- "gawk FPAT to TSV quoted" /usr/bin/awk -v FPAT="$FPAT_CSV" -v OFS='\t' '{ $1 = $1; print }' "$OUT/quoted.csv"
compare "zelk-to-delim '\\t' quoted" zelk-to-delim '\t' "$OUT/quoted.csv" \
    --- "python3 csv to TSV quoted" python3 -c '
import csv, sys
w = csv.writer(sys.stdout, delimiter="\t", lineterminator="\n")
w.writerows(csv.reader(open(sys.argv[1], newline="")))' "$OUT/quoted.csv"

compare "zelk-lint quoted" zelk-lint "$OUT/quoted.csv" \
    --- "gawk FPAT field counts quoted" /usr/bin/awk -v FPAT="$FPAT_CSV" '
        NR == 1 { h = NF } NF != h { bad++ } END { print NR, bad + 0 }' "$OUT/quoted.csv"
compare "zelk-lint quoted" zelk-lint "$OUT/quoted.csv" \
    --- "python3 csv strict check quoted" python3 -c '
import csv, sys
n = bad = blank = 0
h = None
for r in csv.reader(open(sys.argv[1], newline=""), strict=True):
    n += 1
    if not r: blank += 1; continue
    if h is None: h = len(r)
    elif len(r) != h: bad += 1
print(n, bad, blank)' "$OUT/quoted.csv"

# CSV to JSON Lines, all values strings, against Miller and csvkit's csvjson (type inference
# off, as zelk-to-json infers nothing); CPU time and peak memory of each.
command -v mlr >/dev/null || apt-get install -y -qq miller >/dev/null
command -v csvjson >/dev/null || apt-get install -y -qq csvkit >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null
compare_cpu "zelk-to-json quoted" zelk-to-json "$OUT/quoted.csv" \
    --- "mlr --icsv --ojsonl cat quoted" mlr --icsv --ojsonl cat "$OUT/quoted.csv" \
    --- "csvjson -I --stream quoted" csvjson -I --stream "$OUT/quoted.csv"
