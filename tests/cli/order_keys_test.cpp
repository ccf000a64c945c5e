#include "c_locale.h"
#include "harness.h"

namespace {

struct OrderKeys : CLocaleTest {};

RunResult keys(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-order-keys", args, input);
}

std::string many_fields(int n) {
    std::string s = "x";
    for (int i = 1; i < n; i++)
        s += ",x";
    return s;
}

TEST_F(OrderKeys, KeysInTheOrderGiven) {
    std::string in = "h1,h2\nn,v\nb,2\na,10\nb,1\n";
    // Field 2 as text first, then field 1 as a number.
    EXPECT_RUN(keys({"-k2", "-k1n"}, in), 0, "h1,h2\nb,1\na,10\nb,2\nn,v\n", "");
    EXPECT_RUN(keys({"-k2n", "-k1r"}, in), 0, "h1,h2\nn,v\nb,1\nb,2\na,10\n", "");
    EXPECT_RUN(keys({"-k1", "-k2nr"}, in), 0, "h1,h2\na,10\nb,2\nb,1\nn,v\n", "");
    // The same field twice is two keys; equal records keep their input order.
    std::string eq = "k,n\nb,1\na,2\nc,3\na,4\n";
    EXPECT_RUN(keys({"-k1", "-k1r"}, eq), 0, "k,n\na,2\na,4\nb,1\nc,3\n", "");
    EXPECT_RUN(keys({"-h", "-k1r"}, "b,1\na,2\nb,3\n"), 0, "b,1\nb,3\na,2\n", "");
}

TEST_F(OrderKeys, RecordsAndOutput) {
    std::string in = "id,t\r\n2,\"x\ny\"\n1,\"a,b\"\n,z\n\n";
    EXPECT_RUN(keys({"-k1n"}, in), 0, "id,t\n,z\n1,\"a,b\"\n2,\"x\ny\"\n", "");
    EXPECT_RUN(keys({"-t", "-k1n"}, in), 0, "id,t\r\n,z\r\n1,\"a,b\"\r\n2,\"x\ny\"\r\n", "");
    EXPECT_RUN(keys({"-o", "-k1n"}, in), 0, ",z\n1,\"a,b\"\n2,\"x\ny\"\n", "");
    EXPECT_RUN(keys({"-1", "-k1n"}, in), 0, "id,t\n,z\n\n1,\"a,b\"\n2,\"x\ny\"\n", "");
    EXPECT_RUN(keys({"-e", "-k1n"}, in), 1, "id,t\n",
               "zelk-order-keys: ERROR: record #4: KEYDEF field 1 is empty\n");
    // A blank record under -1 is one empty key, also before any other record.
    EXPECT_RUN(keys({"-1", "-k1"}, "h\n\n\nb\n\"\"\n"), 0, "h\n\n\n\"\"\nb\n", "");
    // A blank record under -1 has one field only.
    EXPECT_RUN(keys({"-1", "-k2"}, "h,x\na,1\n\n"), 1, "h,x\n",
               "zelk-order-keys: ERROR: record #3: lacks max KEYDEF field 2 (only 1 fields)\n");
    // The record is too short even though field 3 is not the first key.
    EXPECT_RUN(keys({"-k1", "-k3"}, "h\na,1,2\nb,1\n"), 1, "h\n",
               "zelk-order-keys: ERROR: record #3: lacks max KEYDEF field 3 (only 2 fields)\n");
    // -u compares unquoted values.
    std::string q = "v\n\"b\"\na\n";
    EXPECT_RUN(keys({"-k1"}, q), 0, "v\n\"b\"\na\n", "");
    EXPECT_RUN(keys({"-u", "-k1"}, q), 0, "v\na\n\"b\"\n", "");
    EXPECT_RUN(keys({"-k1"}, ""), 1, "", 
               "zelk-order-keys: ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(keys({"-h", "-k1"}, ""), 0, "", "");
}

TEST_F(OrderKeys, DateTimeKeys) {
    std::string in = "id,when\na,2021-01-05\nb,\"1999-12-31\"\nc,2021-01-05\n";
    EXPECT_RUN(keys({"-D%Y-%m-%d", "-k2d", "-k1r"}, in), 0,
               "id,when\nb,\"1999-12-31\"\nc,2021-01-05\na,2021-01-05\n", "");
    EXPECT_RUN(keys({"-D%Y-%m-%d", "-k2dr"}, in), 0,
               "id,when\na,2021-01-05\nc,2021-01-05\nb,\"1999-12-31\"\n", "");
    EXPECT_RUN(keys({"-k2d"}, in), 1, "id,when\n",
               "zelk-order-keys: ERROR: record #2: KEYDEF field 2 was an invalid date-time: "
               "'2021-01-05'\n");
    // A quoted empty key is empty, as an empty field is: the epoch, and refused by -e.
    std::string empty = "id,when\na,2021-01-05\nb,\"\"\nc,\n";
    EXPECT_RUN(keys({"-D%Y-%m-%d", "-k2d"}, empty), 0, "id,when\nb,\"\"\nc,\na,2021-01-05\n", "");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"-e", "-D%Y-%m-%d", "-k2d"}, {"-e", "-k2n"}, {"-e", "-u", "-k2"}})
        EXPECT_RUN(keys(args, empty), 1, "id,when\n",
                   "zelk-order-keys: ERROR: record #3: KEYDEF field 2 is empty\n");
    // The time zone applies to date-time keys: 02:30 does not exist that day in Chicago.
    std::string dst = "id,when\na,03/08/2020 02:30:00\nb,03/08/2020 03:15:00\n";
    EXPECT_RUN(keys({"-k2d"}, dst), 0, dst, "");
    EXPECT_RUN(keys({"-zAmerica/Chicago", "-k2d"}, dst), 0,
               "id,when\nb,03/08/2020 03:15:00\na,03/08/2020 02:30:00\n", "");
}

TEST_F(OrderKeys, KeydefErrors) {
    std::string in = "h\n";
    EXPECT_RUN(keys({"-k0"}, in), 1, "",
               "zelk-order-keys: Invalid value for KEYDEF: 0 (must be >= 1)\n");
    EXPECT_RUN(keys({"-k513n"}, in), 1, "",
               "zelk-order-keys: Invalid value for KEYDEF: 513n (must be <= 512)\n");
    EXPECT_RUN(keys({"-k99999999999999999999"}, in), 1, "",
               "zelk-order-keys: Invalid value for KEYDEF: 99999999999999999999 "
               "(invalid/out-of-range)\n");
    EXPECT_RUN(keys({"-k2x"}, in), 1, "", "zelk-order-keys: Invalid KEYDEF syntax: '2x'!\n");
    EXPECT_RUN(keys({"-k2rn"}, in), 1, "", "zelk-order-keys: Invalid KEYDEF syntax: '2rn'!\n");
    EXPECT_RUN(keys({"-k1", "-kd"}, in), 1, "", "zelk-order-keys: Invalid KEYDEF syntax: 'd'!\n");
    EXPECT_RUN(keys({"-e"}, in), 1, "",
               "zelk-order-keys: ERROR: At least one -kKEYDEF spec is required!\n\n\n");
    EXPECT_RUN(keys({"-h", "-o", "-k1"}, in), 1, "",
               "zelk-order-keys: Error: -h and -o options not compatible!\n");
    EXPECT_RUN(keys({"-Q", "-k1"}, in), 1, "",
               "zelk-order-keys: invalid option -- 'Q'\n"
               "Try 'zelk-order-keys --help' for more information.\n");
    EXPECT_RUN(keys({"-k1", "a", "b"}, in), 1, "", usage_text("zelk-order-keys"));
}

TEST_F(OrderKeys, RecordsThatCannotBeFramedAreRefused) {
    // More fields than the library splits: its message and status 1, not a crash.
    std::string wide = "h\n" + many_fields(513) + "\n";
    EXPECT_RUN(keys({"-k1"}, wide), 1, "h\n",
               "zelk-order-keys: ERROR: record #2: number of fields exceeded MAX_FIELDS (512)\n");
    EXPECT_RUN(keys({"-k1"}, "h\n" + many_fields(512) + "\n"), 0, "h\n" + many_fields(512) + "\n",
               "");
    EXPECT_RUN(keys({"-k2"}, "h,k\nb,1\na,x\x01y\n"), 1, "h,k\n",
               "zelk-order-keys: ERROR: record #3: sort key holds a control byte (0x01 or 0x02), "
               "which cannot be sorted\n");
    EXPECT_RUN(keys({"-k1"}, "h,k\nb,1\na\x02,x\n"), 1, "h,k\n",
               "zelk-order-keys: ERROR: record #3: sort key holds a control byte (0x01 or 0x02), "
               "which cannot be sorted\n");
    EXPECT_RUN(keys({"-k1"}, "h,k\nb,1\na,x\0y\n"s), 1, "h,k\n",
               "zelk-order-keys: ERROR: record #3: holds a NUL byte, which cannot be sorted\n");
    // Framing bytes outside the keys are data.
    EXPECT_RUN(keys({"-k1"}, "h,k\nb,\x01\x02\na,1\n"), 0, "h,k\na,1\nb,\x01\x02\n", "");
}

} // namespace
