// The shared field-record loop: which records it hands over, and what becomes of blank ones
// and of a missing header.
#include <vector>

#include "cli.h"
#include "field_loop.h"
#include "unit.h"

namespace {

std::vector<int> blanks_seen;
void note_blank(int recnum) { blanks_seen.push_back(recnum); }

// Every record the loop hands over, as "recnum:numfields:text".
std::vector<std::string> loop(const std::string &in, char sep = ',') {
    MemStream fp(in);
    std::vector<std::string> out;
    int recnum = 0, numfields;
    char **fields;
    size_t textlen;
    char error;
    for (;;) {
        const char *text =
            sep == ',' ? read_field_record(fp, "t", &recnum, &numfields, &fields, &textlen,
                                           &error, note_blank)
                       : read_dsv_field_record(sep, fp, "t", &recnum, &numfields, &fields,
                                               &textlen, &error);
        if (!text) break;
        out.push_back(std::to_string(recnum) + ":" + std::to_string(numfields) + ":" +
                      std::string(text, textlen));
    }
    return out;
}

TEST(FieldLoop, BlankRecordsSkippedPassedOrKept) {
    const std::string in = "h\n\na,\"b\nc\"\n\n";
    struct {
        char pass, isfield;
        std::vector<std::string> records;
        std::vector<int> blanks;
    } cases[] = {
        {0, 0, {"1:1:h", "3:2:a,\"b\nc\""}, {}},
        {1, 0, {"1:1:h", "3:2:a,\"b\nc\""}, {2, 4}}, // -b: handed to the program in turn
        {0, 1, {"1:1:h", "2:0:", "3:2:a,\"b\nc\"", "4:0:"}, {}}, // -1: one empty field
    };
    for (const auto &c : cases) {
        opt_blankrecspass = c.pass;
        opt_blankrecisfield = c.isfield;
        blanks_seen.clear();
        EXPECT_EQ(loop(in), c.records) << (int)c.pass << (int)c.isfield;
        EXPECT_EQ(blanks_seen, c.blanks);
    }
    opt_blankrecspass = opt_blankrecisfield = 0;
}

TEST(FieldLoop, DelimitedInput) {
    std::vector<std::string> want = {"1:3:a;\"b;c\";d", "3:1:e,f"};
    EXPECT_EQ(loop("a;\"b;c\";d\n\ne,f\n", ';'), want);
    EXPECT_EQ(loop("a\tb\n", '\t'), std::vector<std::string>{"1:2:a\tb"});
}

// An empty input is reported; a reader's error is left to the reader's own message.
TEST(FieldLoop, RequiredHeader) {
    int fieldnum = 1, numfields;
    char **fields;
    StderrCapture err;
    MemStream empty(""), empty2(""), bad("a\"b\n");
    EXPECT_EQ(header_pass_required(empty, "in.csv", &fieldnum, false), nullptr);
    EXPECT_EQ(header_fields_required(empty2, "in.csv", &numfields, &fields), nullptr);
    EXPECT_EQ(header_pass_required(bad, "in.csv", &fieldnum, false), nullptr);
    const std::string once = "t: ERROR: CSVFILE 'in.csv' is empty\n";
    std::string text = err.take();
    EXPECT_EQ(text.substr(0, 2 * once.size()), once + once);
    EXPECT_EQ(text.find("is empty", 2 * once.size()), std::string::npos) << text;
}

} // namespace
