#include "c_locale.h"
#include "harness.h"

namespace {

struct OrderKeys : CLocaleTest {};

std::string many_fields(int n) {
    std::string s = "x";
    for (int i = 1; i < n; i++)
        s += ",x";
    return s;
}

const std::string OK = "zelk-order-keys: ";

TEST_F(OrderKeys, Runs) {
    const std::string given = "h1,h2\nn,v\nb,2\na,10\nb,1\n";
    const std::string eq = "k,n\nb,1\na,2\nc,3\na,4\n";
    const std::string recs = "id,t\r\n2,\"x\ny\"\n1,\"a,b\"\n,z\n\n";
    const std::string q = "v\n\"b\"\na\n";
    const std::string when = "id,when\na,2021-01-05\nb,\"1999-12-31\"\nc,2021-01-05\n";
    const std::string empty = "id,when\na,2021-01-05\nb,\"\"\nc,\n";
    const std::string is_empty = OK + "ERROR: record #3: KEYDEF field 2 is empty\n";
    // The time zone applies to date-time keys: 02:30 does not exist that day in Chicago.
    const std::string dst = "id,when\na,03/08/2020 02:30:00\nb,03/08/2020 03:15:00\n";
    const std::string control =
        OK + "ERROR: record #3: sort key holds a control byte (0x01 or 0x02), which cannot be "
             "sorted\n";
    // Header names: "2" is a name, not field 2; the quoted "r" is read as r, not as a reverse
    // suffix on nothing.
    const std::string named = "id,amount,2,\"r\"\nb,10,x,q\na,9,y,p\nc,10,z,r\n";
    const std::vector<RunCase> runs = {
        // Keys in the order given: field 2 as text first, then field 1 as a number. The same
        // field twice is two keys; equal records keep their input order.
        {argv("-k2", "-k1n"), given, "h1,h2\nb,1\na,10\nb,2\nn,v\n"},
        {argv("-k2n", "-k1r"), given, "h1,h2\nn,v\nb,1\nb,2\na,10\n"},
        {argv("-k1", "-k2nr"), given, "h1,h2\na,10\nb,2\nb,1\nn,v\n"},
        {argv("-k1", "-k1r"), eq, "k,n\na,2\na,4\nb,1\nc,3\n"},
        // g reads exponents and quoted numbers, where n stops at the e.
        {argv("-h", "-k1g"), "1e3\n2e-05\n-0.5\n10\n\"3.5e1\"\n",
         "-0.5\n2e-05\n10\n\"3.5e1\"\n1e3\n"},
        {argv("-h", "-k1n"), "1e3\n2e-05\n-0.5\n10\n\"3.5e1\"\n",
         "-0.5\n1e3\n2e-05\n\"3.5e1\"\n10\n"},
        {argv("-h", "-k1r"), "b,1\na,2\nb,3\n", "b,1\nb,3\na,2\n"},
        // i folds a-z to A-Z, so _ sorts after the letters; equal folded keys keep input order.
        {argv("-h", "-k1i"), "b,1\n_,2\nB,3\na,4\nA,5\n", "a,4\nA,5\nb,1\nB,3\n_,2\n"},
        {argv("-h", "-k1ir", "-k2nr"), "b,1\n_,2\nB,3\na,4\nA,5\n", "_,2\nB,3\nb,1\nA,5\na,4\n"},
        // Records and output. A blank record under -1 is one empty key, also before any other
        // record, and has one field only; a record is too short even when the field it lacks is
        // not the first key. -u compares unquoted values.
        {argv("-k1n"), recs, "id,t\n,z\n1,\"a,b\"\n2,\"x\ny\"\n"},
        {argv("-t", "-k1n"), recs, "id,t\r\n,z\r\n1,\"a,b\"\r\n2,\"x\ny\"\r\n"},
        {argv("-o", "-k1n"), recs, ",z\n1,\"a,b\"\n2,\"x\ny\"\n"},
        {argv("-1", "-k1n"), recs, "id,t\n,z\n\n1,\"a,b\"\n2,\"x\ny\"\n"},
        {argv("-e", "-k1n"), recs, "id,t\n", OK + "ERROR: record #4: KEYDEF field 1 is empty\n", 1},
        {argv("-1", "-k1"), "h\n\n\nb\n\"\"\n", "h\n\n\n\"\"\nb\n"},
        {argv("-1", "-k2"), "h,x\na,1\n\n", "h,x\n",
         OK + "ERROR: record #3: lacks max KEYDEF field 2 (only 1 fields)\n", 1},
        {argv("-k1", "-k3"), "h\na,1,2\nb,1\n", "h\n",
         OK + "ERROR: record #3: lacks max KEYDEF field 3 (only 2 fields)\n", 1},
        {argv("-k1"), q, "v\n\"b\"\na\n"},
        {argv("-u", "-k1"), q, "v\na\n\"b\"\n"},
        {argv("-k1"), "", "", OK + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-h", "-k1"), "", ""},
        // Date-time keys. A quoted empty key is empty, as an empty field is: the epoch, and
        // refused by -e.
        {argv("-D%Y-%m-%d", "-k2d", "-k1r"), when,
         "id,when\nb,\"1999-12-31\"\nc,2021-01-05\na,2021-01-05\n"},
        {argv("-D%Y-%m-%d", "-k2dr"), when,
         "id,when\na,2021-01-05\nc,2021-01-05\nb,\"1999-12-31\"\n"},
        {argv("-k2d"), when, "id,when\n",
         OK + "ERROR: record #2: KEYDEF field 2 was an invalid date-time: '2021-01-05'\n", 1},
        {argv("-D%Y-%m-%d", "-k2d"), empty, "id,when\nb,\"\"\nc,\na,2021-01-05\n"},
        {argv("-e", "-D%Y-%m-%d", "-k2d"), empty, "id,when\n", is_empty, 1},
        {argv("-e", "-k2n"), empty, "id,when\n", is_empty, 1},
        {argv("-e", "-u", "-k2"), empty, "id,when\n", is_empty, 1},
        {argv("-k2d"), dst, dst},
        {argv("-zAmerica/Chicago", "-k2d"), dst,
         "id,when\nb,03/08/2020 03:15:00\na,03/08/2020 02:30:00\n"},
        // KEYDEF errors.
        {argv("-k0"), "h\n", "", OK + "Invalid value for KEYDEF: 0 (must be >= 1)\n", 1},
        {argv("-k513n"), "h\n", "", OK + "Invalid value for KEYDEF: 513n (must be <= 512)\n", 1},
        {argv("-k99999999999999999999"), "h\n", "",
         OK + "Invalid value for KEYDEF: 99999999999999999999 (invalid/out-of-range)\n", 1},
        {argv("-k2x"), "h\n", "", OK + "Invalid KEYDEF syntax: '2x'!\n", 1},
        {argv("-k2rn"), "h\n", "", OK + "Invalid KEYDEF syntax: '2rn'!\n", 1},
        {argv("-k2ni"), "h\n", "", OK + "Invalid KEYDEF syntax: '2ni'!\n", 1},
        {argv("-k2gn"), "h\n", "", OK + "Invalid KEYDEF syntax: '2gn'!\n", 1},
        {argv("-k1", "-kd"), "h\n", "", OK + "Invalid KEYDEF syntax: 'd'!\n", 1},
        {argv("-e"), "h\n", "", OK + "ERROR: At least one -kKEYDEF spec is required!\n\n\n", 1},
        {argv("-h", "-o", "-k1"), "h\n", "", OK + "Error: -h and -o options not compatible!\n", 1},
        // Header names with -Q: the whole KEYDEF, else the name before its suffix letters.
        {argv("-Q", "-kamountnr", "-kid"), named,
         "id,amount,2,\"r\"\nb,10,x,q\nc,10,z,r\na,9,y,p\n"},
        {argv("-kamountnr", "-kid", "-Q"), named,
         "id,amount,2,\"r\"\nb,10,x,q\nc,10,z,r\na,9,y,p\n"},
        {argv("-k0", "-x"), "h\n", "", OK + "Invalid value for KEYDEF: 0 (must be >= 1)\n", 1},
        {argv("-Q", "-k2r"), named, "id,amount,2,\"r\"\nc,10,z,r\na,9,y,p\nb,10,x,q\n"},
        {argv("-Q", "-o", "-kr"), named, "a,9,y,p\nb,10,x,q\nc,10,z,r\n"},
        {argv("-Q", "-kidx"), named, "", OK + "ERROR: FIELD name 'idx' not found in header\n", 1},
        {argv("-Q", "-kamountnr"), "amount,amountn\n", "",
         OK + "ERROR: KEYDEF 'amountnr' is ambiguous: header names 'amountn' and 'amount' both "
              "fit\n",
         1},
        {argv("-Q", "-kid"), "", "", OK + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-Q", "-h", "-k1"), "h\n", "", OK + "Error: -h and -Q options not compatible!\n", 1},
        {argv("-k1", "a", "b"), "h\n", "", usage_text("zelk-order-keys"), 1},
        // Records that cannot be framed are refused: more fields than the library splits gives
        // its message and status 1, not a crash. Framing bytes outside the keys are data.
        {argv("-k1"), "h\n" + many_fields(513) + "\n", "h\n",
         OK + "ERROR: record #2: number of fields exceeded MAX_FIELDS (512)\n", 1},
        {argv("-k1"), "h\n" + many_fields(512) + "\n", "h\n" + many_fields(512) + "\n"},
        {argv("-k2"), "h,k\nb,1\na,x\x01y\n", "h,k\n", control, 1},
        {argv("-k1"), "h,k\nb,1\na\x02,x\n", "h,k\n", control, 1},
        {argv("-k1"), "h,k\nb,1\na,x\0y\n"s, "h,k\n",
         OK + "ERROR: record #3: holds a NUL byte, which cannot be sorted\n", 1},
        {argv("-k1"), "h,k\nb,\x01\x02\na,1\n", "h,k\na,1\nb,\x01\x02\n"},
    };
    expect_runs("zelk-order-keys", runs);
}

} // namespace
