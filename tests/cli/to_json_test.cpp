// zelk-to-json: its options and errors, and every CSV file of the tests (and of the shared
// corpora, when present) against Python's csv and json modules as the independent model.
#include <filesystem>

#include "harness.h"

namespace {

// Runs zelk-to-json in each mode on each file given, and on files of random bytes it makes,
// and reads every output line back with the json module: each must be the record as the csv
// module reads it (well-formed UTF-8 decoded, every other byte taken as its Latin-1
// character, the file's leading byte order mark left out, blank records left out), keyed by
// the header's names in order with repeated ones suffixed. A run the program refuses must
// have written the records before the refused one, and said why; refusing a field count, at
// the model's first record of another width than the header's. Prints the files compared;
// says nothing else unless something differs.
const char *const MODEL = R"PY(
import csv, io, json, os, random, subprocess, sys

def text(b):
    s = b.decode("utf-8", "surrogateescape")
    return "".join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in s)

def records(data):
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    rows = csv.reader(io.StringIO(data.decode("latin-1"), newline=""), strict=True)
    return [[text(f.encode("latin-1")) for f in row] for row in rows if row]

def keys(names):
    given = []
    for n in names:
        k, i = n, 2
        while k in given or (k != n and k in names):
            k, i = "%s_%d" % (n, i), i + 1
        given.append(k)
    return given

def expected(recs, mode):
    if mode == "-a":
        return [list(r) for r in recs]
    if not recs:
        return []
    names = keys(recs[0])
    out = []
    for r in recs[1:]:
        if len(r) != len(names) and mode != "-pd":
            out.append(None)  # refused: nothing from here on
            break
        r = (r + [""] * len(names))[: len(names)]
        out.append(list(zip(names, r)))
    return out

def check(path, mode):
    with open(path, "rb") as f:
        data = f.read()
    run = subprocess.run(["zelk-to-json", mode, path], capture_output=True)
    try:
        lines = run.stdout.decode("utf-8").splitlines()
        got = [json.loads(l, object_pairs_hook=list) for l in lines]
    except ValueError as e:
        return "not JSON Lines: %s" % e
    try:
        want = expected(records(data), mode)
    except csv.Error:
        want = None
    if run.returncode == 0:
        if run.stderr not in (b"", b"zelk-to-json: Warning: final record not terminated: file '%s'\n" % path.encode()):
            return "said %r" % run.stderr
        return "" if got == want else "wrote %r, want %r" % (got[:3], want and want[:3])
    if run.returncode != 1 or not run.stderr:
        return "status %d, said %r" % (run.returncode, run.stderr)
    # A field count the model refuses too; any other refusal is the strict reader's, which
    # its own tests hold to account.
    if b"fields than header" in run.stderr and (want is None or want[len(got):][:1] != [None]):
        return "refused %r after %d records, want %r" % (run.stderr, len(got), want)
    if want is not None and got != want[: len(got)]:
        return "wrote %r before refusing, want %r" % (got, want)
    return ""

def random_file(path, seed):
    rnd = random.Random(seed)
    pieces = [b"a", b"Z", b" ", b",", b'"', b"\\", b"/", b"\n", b"\r\n", b"\t", b"\x00",
              b"\x01", b"\x1f", b"\x7f", b"\xc3\xa9", b"\xe2\x82\xac", b"\xf0\x9f\x98\x80",
              b"\x80", b"\xbf", b"\xc0\x80", b"\xc1\xbf", b"\xc3", b"\xe2\x82", b"\xed\xa0\x80",
              b"\xed\x9f\xbf", b"\xef\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\xf4\x90\x80\x80",
              b"\xf5", b"\xff", b"\xe0\x9f\xbf", b"\xf0\x8f\xbf\xbf"]
    nf = rnd.randint(1, 6)
    rows = []
    for r in range(40):
        row = []
        for i in range(nf):
            v = b"".join(rnd.choice(pieces) for _ in range(rnd.randint(0, 6)))
            if r == 0 and rnd.random() < 0.3:
                v = b"k"  # repeated names
            row.append(b'"' + v.replace(b'"', b'""') + b'"')
        rows.append(b",".join(row))
    with open(path, "wb") as f:
        f.write(b"\xef\xbb\xbf" * (seed % 2) + b"\r\n".join(rows) + b"\n")

paths = []
for top in sys.argv[2:]:
    for dirpath, _, names in os.walk(top):
        paths += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith((".csv", ".tsv"))]
for seed in range(30):
    p = os.path.join(sys.argv[1], "random%d.csv" % seed)
    random_file(p, seed)
    paths.append(p)
for p in sorted(paths):
    for mode in ("-t", "-a", "-pd"):
        why = check(p, mode)
        if why:
            print("%s %s: %s" % (p, mode, why[:600]), file=sys.stderr)
print(len(paths))
)PY";

TEST(ToJson, EveryFileAsPythonReadsIt) {
    if (run_shell("command -v python3").status != 0) GTEST_SKIP() << "skipped: no python3";
    TempDir dir;
    std::string model = dir.file("model.py", MODEL);
    std::string data = std::string(ZELK_SOURCE_DIR) + "/tests/data";
    std::string corpora = std::string(ZELK_SOURCE_DIR) + "/../shared/corpora";
    bool have_corpora = std::filesystem::is_directory(corpora);
    RunResult r = run_shell("python3 '" + model + "' '" + dir.path() + "' '" + data + "'" +
                            (have_corpora ? " '" + corpora + "'" : ""));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(atoi(r.out.c_str()), 30 + 16) << r.out;
    if (!have_corpora) GTEST_SKIP() << "skipped the shared corpora: " << corpora << " is absent";
}

TEST(ToJson, Runs) {
    const std::string TJ = "zelk-to-json: ";
    const std::string usage = usage_text("zelk-to-json");
    const std::string quotes = std::string(9000, '"');
    std::string escaped_quotes;
    for (size_t i = 0; i < quotes.size(); i++)
        escaped_quotes += "\\\"";
    const std::vector<RunCase> runs = {
        // Keys: a repeated name takes the first suffix that no field has.
        {argv(), "a,a,\"a_2\",a,,\n1,2,3,4,5,6\n",
         "{\"a\":\"1\",\"a_3\":\"2\",\"a_2\":\"3\",\"a_4\":\"4\",\"\":\"5\",\"_2\":\"6\"}\n"},
        // Bytes of no UTF-8 character as the escapes of their Latin-1 characters.
        {argv(), "k\n\xe9t\xc3\xa9\xed\xa0\x80\n",
         "{\"k\":\"\\u00e9t\xc3\xa9\\u00ed\\u00a0\\u0080\"}\n"},
        // Blank records are left out; the first record is the header even after them.
        {argv(), "\nh\n\nv\n\n", "{\"h\":\"v\"}\n"},
        {argv(), "h\n", ""},
        {argv(), "", ""},
        // Arrays: every record, the header too, whatever its width.
        {argv("-a"), "\xef\xbb\xbf\"h\",k\n1\n\"\"\n", "[\"h\",\"k\"]\n[\"1\"]\n[\"\"]\n"},
        {argv("-at"), "h\n1,\"2\"\n", "[\"h\"]\r\n[\"1\",\"2\"]\r\n"},
        // Records of another width than the header's: refused, or padded and trimmed.
        {argv(), "a,b\n1,2\n3\n5,6\n", "{\"a\":\"1\",\"b\":\"2\"}\n",
         TJ + "ERROR: record #3 has less fields than header (1 vs 2)\n", 1},
        {argv("-p"), "a,b\n3\n5,6,7\n", "{\"a\":\"3\",\"b\":\"\"}\n",
         TJ + "ERROR: record #3 has more fields than header (3 vs 2)\n", 1},
        {argv("-d", "-p"), "a,b\n3\n5,6,7\n",
         "{\"a\":\"3\",\"b\":\"\"}\n{\"a\":\"5\",\"b\":\"6\"}\n"},
        {argv("-a", "-d"), "a\n", "", TJ + "Error: -a and -d options not compatible!\n", 1},
        // A value is not bound to the 8192 bytes of a field copy.
        {argv(), "k\n\"" + quotes + quotes + "\"\n", "{\"k\":\"" + escaped_quotes + "\"}\n"},
        // Operands and bad input.
        {argv("a", "b"), "", "", usage, 1},
        {argv(), "h\nv\n\"x\"y\n", "{\"h\":\"v\"}\n",
         read_error("zelk-to-json",
                    "record #3, field #1: unescaped double quote char in quoted field",
                    "standard input", "line 3, byte 8"),
         1},
    };
    expect_runs("zelk-to-json", runs);
}

} // namespace
