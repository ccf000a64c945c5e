#include "harness.h"

namespace {

const char *MDY = "%m/%d/%Y %T";

RunResult ts(const std::vector<std::string> &args, const std::string &input) {
    return run_tool("zelk-timestamp", args, input);
}

TEST(Timestamp, ReformatsKeepingQuotesAndOtherFields) {
    EXPECT_RUN(ts({"2", MDY, "%Y-%m-%d %H:%M:%S"},
                  "id,when\n1,1/5/2021 1:23:45\n2,\"1/5/2021 1:23:46\"\n3\n4,\n5,\"\"\n"),
               0, "id,when\n1,2021-01-05 01:23:45\n2,\"2021-01-05 01:23:46\"\n3\n4,\n5,\"\"\n", "");
    EXPECT_RUN(ts({"-Q", "when", "-o", "-t", MDY, "%H"}, "when,x\n1/5/2021 1:23:45,\"a\"\"b\"\n"),
               0, "01,\"a\"\"b\"\r\n", "");
    // Members the old format does not set keep 1970-01-01.
    EXPECT_RUN(ts({"-h", "1", "%H:%M", "%Y-%m-%d %H:%M"}, "1:23\n"), 0, "1970-01-01 01:23\n", "");
}

TEST(Timestamp, Rounding) {
    const char *out = "%m/%d/%Y %H:%M";
    EXPECT_RUN(ts({"-h", "-r", "1", MDY, out}, "1/5/2021 1:23:30\n1/5/2021 1:23:29\n"), 0,
               "01/05/2021 01:24\n01/05/2021 01:23\n", "");
    EXPECT_RUN(ts({"-h", "-c", "1", MDY, out}, "1/5/2021 1:23:01\n1/5/2021 1:23:00\n"), 0,
               "01/05/2021 01:24\n01/05/2021 01:23\n", "");
    // The carry runs into the next year; weekday and day of year are recomputed.
    EXPECT_RUN(ts({"-h", "-r", "1", MDY, "%m/%d/%Y %H:%M:%S %a %j"}, "12/31/2021 23:59:45\n"), 0,
               "01/01/2022 00:00:00 Sat 001\n", "");
    EXPECT_RUN(ts({"-h", "-c", "1", MDY, "%F %T"}, "12/31/2021 23:59:01\n"), 0,
               "2022-01-01 00:00:00\n", "");
    EXPECT_RUN(ts({"-c", "-r", "1", MDY, out}, ""), 1, "",
               "zelk-timestamp: Error: -c and -r options not compatible!\n");
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

TEST(Timestamp, NewValueThatNeedsQuotesIsQuoted) {
    EXPECT_RUN(ts({"1", MDY, "%b %d, %Y"}, "d,x\n1/5/2021 1:23:45,y\n"), 0,
               "d,x\n\"Jan 05, 2021\",y\n", "");
    EXPECT_RUN(ts({"-h", "2", MDY, "\"%Y\"\n"}, "a,1/5/2021 1:23:45,b\n"), 0,
               "a,\"\"\"2021\"\"\n\",b\n", "");
    EXPECT_RUN(ts({"-h", "1", MDY, "%Y"}, "\"1/5/2021 1:23:45\"\n"), 0, "\"2021\"\n", "");
}

TEST(Timestamp, EmptyOrOverlongResults) {
    EXPECT_RUN(ts({"-h", "2", MDY, ""}, "a,1/5/2021 1:23:45,b\na,\"1/5/2021 1:23:45\"\n"), 0,
               "a,,b\na,\"\"\n", "");
    std::string big(8200, 'y');
    EXPECT_RUN(ts({"2", MDY, big}, "h\na,1/5/2021 1:23:45\n"), 1, "h\n",
               "zelk-timestamp: ERROR: reformatted date-time in record #2 exceeds 8191 bytes\n");
    std::string fits(8187, 'y');
    EXPECT_RUN(ts({"-h", "1", MDY, fits + "%Y"}, "1/5/2021 1:23:45\n"), 0, fits + "2021\n", "");
}

TEST(Timestamp, Errors) {
    EXPECT_RUN(ts({"2", MDY, "%F"}, "h\nx,1/5/2021 1:2:3\ny,12/31/2021\nz,1/1/2021 0:0:0\n"), 1,
               "h\nx,2021-01-05\n",
               "zelk-timestamp: ERROR: failed to reformat date-time '12/31/2021' in record #3\n");
    EXPECT_RUN(ts({"-e", "2", MDY, "%F"}, "h\nx,\"\"\n"), 1, "h\n",
               "zelk-timestamp: ERROR: FIELD #2 is empty in record #2\n");
    EXPECT_RUN(ts({"1", MDY, "%F"}, "h\n" + std::string(8192, '1') + "\n"), 1, "h\n",
               "zelk-timestamp: ERROR: record #2, field #1: field length exceeded MAX_FIELD_LENGTH "
               "(8192)\nzelk-timestamp: file:  'standard input'\n");
    EXPECT_RUN(ts({"1", MDY, "%F"}, ""), 1, "", 
               "zelk-timestamp: ERROR: CSVFILE 'standard input' is empty\n");
    EXPECT_RUN(ts({"-Q", "w", MDY, "%F"}, "h\n"), 1, "",
               "zelk-timestamp: ERROR: FIELD name 'w' not found in header\n");
    EXPECT_RUN(ts({"-b", "-1", "1", MDY, "%F"}, ""), 1, "",
               "zelk-timestamp: Error: -b and -1 options not compatible!\n");
    EXPECT_RUN(ts({"0", MDY, "%F"}, ""), 1, "",
               "zelk-timestamp: Invalid value for FIELD: 0 (must be >= 1)\n");
    EXPECT_EQ(ts({"1", MDY}, "").err.rfind("Program to reformat date-time values", 0), 0u);
}

TEST(Timestamp, BlankRecords) {
    const char *in = "h\n\n1/5/2021 1:23:45\n";
    EXPECT_RUN(ts({"1", MDY, "%Y"}, in), 0, "h\n2021\n", "");
    EXPECT_RUN(ts({"-b", "1", MDY, "%Y"}, in), 0, "h\n\n2021\n", "");
    EXPECT_RUN(ts({"-1", "1", MDY, "%Y"}, in), 0, "h\n\n2021\n", "");
    EXPECT_RUN(ts({"-1", "-e", "1", MDY, "%Y"}, in), 1, "h\n",
               "zelk-timestamp: ERROR: FIELD #1 is empty in record #2\n");
}

} // namespace

namespace {

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
