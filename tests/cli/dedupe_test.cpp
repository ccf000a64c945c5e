#include "harness.h"

namespace {

const std::string USAGE = usage_text("zelk-dedupe");

struct Dedupe : ::testing::Test {
    TempDir dir;
    // Keys a, a, b, a in field 2.
    std::string runs = dir.file("runs.csv", "n,k\n1,a\n2,a\n3,b\n4,a\n");
};

const std::string D = "zelk-dedupe: ";

TEST_F(Dedupe, Runs) {
    std::string q = dir.file("q.csv", "k,v\na,1\n\"a\",2\n\"a\",\"x\ny\"\n");
    std::string n = dir.file("n.csv", "k,v\na\0x,1\na\0y,2\na\0y,3\n"s);
    std::string h = dir.file("h.csv", "a,1\na,2\nb,3\n");
    std::string hdr = dir.file("hdr.csv", "n,k\n");
    std::string blank = dir.file("blank.csv", "n,k\n1,a\n2,b\n\n3,c\n");
    std::string shortrec = dir.file("short.csv", "n,k\n1\n");
    std::string empty = dir.file("empty.csv", "k,v\n,1\n,2\nb,3\n");
    std::string bad = dir.file("bad.csv", "k\nx\nx\ny\"z\n");
    std::string mail = dir.file("mail.csv", "k,v\n\"e@x.org\",1\ne@x.org,2\nE@X.org,3\n\"E@X.ORG\","
                                            "4\n\"\xc3\x89\",5\n\"\xc3\xa9\",6\n");
    std::string dq = dir.file(
        "dq.csv", "k,v\n\"a\"\"b\",1\n\"A\"\"B\",2\n\"a\"\"\"\"b\",3\n\"a\0b\",4\n\"a\0c\",5\n"s);
    const std::string none = D + "Warning: no records to process\n";
    const std::string hq = D + "Error: -h and -Q options not compatible!\n";
    const std::vector<RunCase> table = {
        // The last record of each run of keys is kept, the first with -f. Standard input when
        // no CSVFILE is named; a run at the very end is still written.
        {argv("2", runs), "", "n,k\n2,a\n3,b\n4,a\n"},
        {argv("-f", "2", runs), "", "n,k\n1,a\n3,b\n4,a\n"},
        {argv("-t", "2", runs), "", "n,k\r\n2,a\r\n3,b\r\n4,a\r\n"},
        {argv("1"), "k\nx\nx\nx\n", "k\nx\n"},
        // Keys compare as raw bytes: a quoted key is not the same key as its bare value, and
        // keys that agree up to a NUL byte but differ after it are different keys. Records are
        // written whole.
        {argv("1", q), "", "k,v\na,1\n\"a\",\"x\ny\"\n"},
        {argv("-f", "1", q), "", "k,v\na,1\n\"a\",2\n"},
        {argv("1", n), "", "k,v\na\0x,1\na\0y,3\n"s},
        {argv("-f", "1", n), "", "k,v\na\0x,1\na\0y,2\n"s},
        // -u compares values (quotes removed, doubled quotes single) and -i ignores the case
        // of ASCII letters, alone or together; the records written are those read. Bytes
        // beyond ASCII (É, é) compare as they are. A NUL byte in a value is still data.
        {argv("-u", "1", mail), "",
         "k,v\ne@x.org,2\nE@X.org,3\n\"E@X.ORG\",4\n\"\xc3\x89\",5\n\"\xc3\xa9\",6\n"},
        {argv("-i", "1", mail), "",
         "k,v\n\"e@x.org\",1\nE@X.org,3\n\"E@X.ORG\",4\n\"\xc3\x89\",5\n\"\xc3\xa9\",6\n"},
        {argv("-iu", "1", mail), "", "k,v\n\"E@X.ORG\",4\n\"\xc3\x89\",5\n\"\xc3\xa9\",6\n"},
        {argv("-f", "-i", "-u", "1", mail), "",
         "k,v\n\"e@x.org\",1\n\"\xc3\x89\",5\n\"\xc3\xa9\",6\n"},
        {argv("-u", "1", dq), "",
         "k,v\n\"a\"\"b\",1\n\"A\"\"B\",2\n\"a\"\"\"\"b\",3\n\"a\0b\",4\n\"a\0c\",5\n"s},
        {argv("-fiu", "1", dq), "",
         "k,v\n\"a\"\"b\",1\n\"a\"\"\"\"b\",3\n\"a\0b\",4\n\"a\0c\",5\n"s},
        {argv("-hfu", "-i", "1", dir.file("hk.csv", "\"A\",1\na,2\nb,3\n")), "", "\"A\",1\nb,3\n"},
        // With -h the first record takes part in the comparison; -Q looks the key up in it.
        {argv("-h", "1", h), "", "a,2\nb,3\n"},
        {argv("-hf", "1", h), "", "a,1\nb,3\n"},
        {argv("-Q", "k", runs), "", "n,k\n2,a\n3,b\n4,a\n"},
        {argv("-Q", "z", runs), "", "", D + "ERROR: FIELD name 'z' not found in header\n", 1},
        // No data records; not even a header is a failure in both modes, and never a silent one.
        {argv("2", hdr), "", "n,k\n", none, 1},
        {argv("-f", "2", hdr), "", "n,k\n"},
        {argv("-t", "2"), "", "", none, 1},
        {argv("-f", "2"), "", "", none, 1},
        {argv("-h", "2"), "", "", none, 1},
        // A record without the key field stops the run; a leading run of empty keys under -f
        // keeps its first record.
        {argv("2", blank), "", "n,k\n1,a\n",
         D + "ERROR: record #4: KEY_FIELD #2 does not exist (0 fields)\n", 1},
        {argv("-f", "2", blank), "", "n,k\n1,a\n2,b\n",
         D + "ERROR: record #4: KEY_FIELD #2 does not exist (0 fields)\n", 1},
        {argv("2", shortrec), "", "n,k\n",
         D + "ERROR: record #2: KEY_FIELD #2 does not exist (1 fields)\n", 1},
        {argv("-f", "1", empty), "", "k,v\n,1\nb,3\n"},
        // A syntax error ends the run after the record held so far is written.
        {argv("1", bad), "", "k\nx\n",
         read_error("zelk-dedupe", "record #4, field #1: double-quote in unquoted field", bad,
                    "line 4, byte 8"),
         1},
        // Usage and option errors.
        {argv(), "", "", USAGE, 1},
        {argv("1", runs, runs), "", "", USAGE, 1},
        {argv("-h", "-Q", "k"), "", "", hq, 1},
        {argv("-Qh", "k"), "", "", hq, 1},
        {argv("0", runs), "", "", D + "Invalid value for KEY_FIELD: 0 (must be >= 1)\n", 1},
        {argv("k", runs), "", "",
         D + "Invalid value for KEY_FIELD: k (does not represent an integer)\n", 1},
    };
    expect_runs("zelk-dedupe", table);
}

} // namespace
