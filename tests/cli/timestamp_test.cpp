#include "harness.h"

namespace {

const char *MDY = "%m/%d/%Y %T";

RunResult ts(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-timestamp", args, input);
}

const std::string T = "zelk-timestamp: ";

TEST(Timestamp, Runs) {
    const char *minutes = "%m/%d/%Y %H:%M";
    std::string big(8200, 'y'), fits(8187, 'y');
    const char *blank = "h\n\n1/5/2021 1:23:45\n";
    const std::vector<RunCase> runs = {
        // Reformatting keeps quotes and the other fields; members the old format does not set
        // keep 1970-01-01.
        {argv("2", MDY, "%Y-%m-%d %H:%M:%S"),
         "id,when\n1,1/5/2021 1:23:45\n2,\"1/5/2021 1:23:46\"\n3\n4,\n5,\"\"\n",
         "id,when\n1,2021-01-05 01:23:45\n2,\"2021-01-05 01:23:46\"\n3\n4,\n5,\"\"\n"},
        {argv("-Q", "when", "-o", "-t", MDY, "%H"), "when,x\n1/5/2021 1:23:45,\"a\"\"b\"\n",
         "01,\"a\"\"b\"\r\n"},
        {argv("-h", "1", "%H:%M", "%Y-%m-%d %H:%M"), "1:23\n", "1970-01-01 01:23\n"},
        // Rounding. The carry runs into the next year; weekday and day of year are recomputed.
        {argv("-h", "-r", "1", MDY, minutes), "1/5/2021 1:23:30\n1/5/2021 1:23:29\n",
         "01/05/2021 01:24\n01/05/2021 01:23\n"},
        {argv("-h", "-c", "1", MDY, minutes), "1/5/2021 1:23:01\n1/5/2021 1:23:00\n",
         "01/05/2021 01:24\n01/05/2021 01:23\n"},
        {argv("-h", "-r", "1", MDY, "%m/%d/%Y %H:%M:%S %a %j"), "12/31/2021 23:59:45\n",
         "01/01/2022 00:00:00 Sat 001\n"},
        {argv("-h", "-c", "1", MDY, "%F %T"), "12/31/2021 23:59:01\n", "2022-01-01 00:00:00\n"},
        {argv("-c", "-r", "1", MDY, minutes), "", "",
         T + "Error: -c and -r options not compatible!\n", 1},
        // A new value that needs quotes is quoted.
        {argv("1", MDY, "%b %d, %Y"), "d,x\n1/5/2021 1:23:45,y\n", "d,x\n\"Jan 05, 2021\",y\n"},
        {argv("-h", "2", MDY, "\"%Y\"\n"), "a,1/5/2021 1:23:45,b\n", "a,\"\"\"2021\"\"\n\",b\n"},
        {argv("-h", "1", MDY, "%Y"), "\"1/5/2021 1:23:45\"\n", "\"2021\"\n"},
        // Empty or overlong results.
        {argv("-h", "2", MDY, ""), "a,1/5/2021 1:23:45,b\na,\"1/5/2021 1:23:45\"\n",
         "a,,b\na,\"\"\n"},
        {argv("2", MDY, big), "h\na,1/5/2021 1:23:45\n", "h\n",
         T + "ERROR: reformatted date-time in record #2 exceeds 8191 bytes\n", 1},
        {argv("-h", "1", MDY, fits + "%Y"), "1/5/2021 1:23:45\n", fits + "2021\n"},
        // Errors.
        {argv("2", MDY, "%F"), "h\nx,1/5/2021 1:2:3\ny,12/31/2021\nz,1/1/2021 0:0:0\n",
         "h\nx,2021-01-05\n", T + "ERROR: failed to reformat date-time '12/31/2021' in record #3\n",
         1},
        {argv("-e", "2", MDY, "%F"), "h\nx,\"\"\n", "h\n",
         T + "ERROR: FIELD #2 is empty in record #2\n", 1},
        {argv("1", MDY, "%F"), "h\n" + std::string(8192, '1') + "\n", "h\n",
         read_error("zelk-timestamp",
                    "record #2, field #1: field length exceeded MAX_FIELD_LENGTH (8192)"),
         1},
        {argv("1", MDY, "%F"), "", "", T + "ERROR: CSVFILE 'standard input' is empty\n", 1},
        {argv("-Q", "w", MDY, "%F"), "h\n", "", T + "ERROR: FIELD name 'w' not found in header\n",
         1},
        {argv("-b", "-1", "1", MDY, "%F"), "", "", T + "Error: -b and -1 options not compatible!\n",
         1},
        {argv("0", MDY, "%F"), "", "", T + "Invalid value for FIELD: 0 (must be >= 1)\n", 1},
        // Blank records.
        {argv("1", MDY, "%Y"), blank, "h\n2021\n"},
        {argv("-b", "1", MDY, "%Y"), blank, "h\n\n2021\n"},
        {argv("-1", "1", MDY, "%Y"), blank, "h\n\n2021\n"},
        {argv("-1", "-e", "1", MDY, "%Y"), blank, "h\n",
         T + "ERROR: FIELD #1 is empty in record #2\n", 1},
    };
    expect_runs("zelk-timestamp", runs);
    EXPECT_EQ(ts({"1", MDY}, "").err.rfind("Program to reformat date-time values", 0), 0u);
}

TEST(Timestamp, TimeZoneIsAlwaysUtc) {
    RunResult utc = ts({"-h", "-r", "1", MDY, "%s %F %T %z"}, "3/14/2021 2:30:40\n");
    EXPECT_RUN(utc, 0, "1615689060 2021-03-14 02:31:00 +0000\n", "");
    RunOptions o;
    o.input = "3/14/2021 2:30:40\n";
    EXPECT_RUN(
        run_shell("TZ=America/New_York zelk-timestamp -h -r 1 '%m/%d/%Y %T' '%s %F %T %z'", o), 0,
        utc.out, "");
}

// A date-time that is not on the calendar is invalid: it was once moved to another day (and to
// a different one depending on the seconds), in the reformatting and in the date-time sort keys.
TEST(Timestamp, DatesOffTheCalendarAreInvalid) {
    for (const char *bad : {"02/31/2021 10:00:00", "02/31/2021 10:00:01", "02/29/2021 00:00:00",
                            "04/31/2020 12:00:00", "00/10/2020 12:00:00"}) {
        SCOPED_TRACE(bad);
        EXPECT_RUN(ts({"-h", "1", MDY, "%F"}, std::string(bad) + "\n"), 1, "",
                   std::string("zelk-timestamp: ERROR: failed to reformat date-time '") + bad +
                       "' in record #1\n");
        EXPECT_RUN(run_tool("zelk-order", {"-d", "1"}, std::string("d\n") + bad + "\n"), 1,
                   "d\n",
                   std::string("zelk-order: ERROR: record #2: SORT_FIELD was an invalid "
                               "date-time: '") + bad + "'\n");
    }
    EXPECT_EQ(run_tool("zelk-order-keys", {"-k1d"}, "d\n02/30/2020 01:02:03\n").status, 1);
    // Leap days, month ends, and weekdays that follow the date.
    EXPECT_RUN(ts({"-h", "1", MDY, "%F %a"}, "02/29/2020 10:00:00\n12/31/2021 23:59:59\n"), 0,
               "2020-02-29 Sat\n2021-12-31 Fri\n", "");
    EXPECT_RUN(ts({"-h", "-c", "1", MDY, "%F %T"}, "12/31/2021 23:59:01\n"), 0,
               "2022-01-01 00:00:00\n", "");
    // Members the format does not give are not checked against a date they never had.
    EXPECT_RUN(run_tool("zelk-order", {"-d", "-D", "%H:%M", "1"}, "t\n23:59\n00:01\n"), 0,
               "t\n00:01\n23:59\n", "");
}

} // namespace
