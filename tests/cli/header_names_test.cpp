// Header names after -Q and in zelk-colnum, on a header whose first field may carry a UTF-8
// byte order mark and whose second is quoted: the names are typed without either, and the
// data written keeps both, byte for byte. zelk-show's labels leave the BOM out.
#include "harness.h"

namespace {

const std::string BOM = "\xEF\xBB\xBF";

struct Case {
    const char *tool;
    std::vector<std::string> args; // "@" is the input file
    std::string out;               // "@" is the header line as given, "%" the BOM if any
};

std::string fill(const std::string &s, const std::string &header, const std::string &bom) {
    std::string out;
    for (char c : s) out += c == '@' ? header : c == '%' ? bom : std::string(1, c);
    return out;
}

} // namespace

TEST(HeaderNames, ByteOrderMarkAndQuotesAreNotTyped) {
    const std::string rows = "2,Bob,B\n1,Ann,A\n";
    const Case cases[] = {
        {"zelk-match", {"-Q", "id", "^1$", "@"}, "@\n1,Ann,A\n"},
        {"zelk-match", {"-Q", "name", "Bob", "@"}, "@\n2,Bob,B\n"},
        {"zelk-columns", {"-Q", "first-name,id", "@"}, "first-name,%id\nB,2\nA,1\n"},
        {"zelk-columns", {"-Q", "id-name", "@"}, "%id,\"name\"\n2,Bob\n1,Ann\n"},
        {"zelk-order", {"-n", "-Q", "id", "@"}, "@\n1,Ann,A\n2,Bob,B\n"},
        {"zelk-range", {"-Q", "-m", "2", "id", "@"}, "@\n2,Bob,B\n"},
        {"zelk-dedupe", {"-Q", "first-name", "@"}, "@\n2,Bob,B\n1,Ann,A\n"},
        {"zelk-subst", {"-Q", "name", "Ann", "Eve", "@"}, "@\n2,Bob,B\n1,Eve,A\n"},
        {"zelk-setcell", {"-Q", "3", "name", "Eve", "@"}, "@\n2,Bob,B\n1,Eve,A\n"},
        {"zelk-match-expr", {"-Q", "id", "$0 == 2", "@"}, "@\n2,Bob,B\n"},
        {"zelk-script-column", {"-Q", "-e", "{ $0 = $0 * 10 }", "id", "@"},
         "@\n20,Bob,B\n10,Ann,A\n"},
        {"zelk-merge", {"-Q", "id", "@", "id", "@"}, "@,@\n2,Bob,B,2,Bob,B\n1,Ann,A,1,Ann,A\n"},
        {"zelk-colnum", {"-n", "first-name,name,id", "@"}, "3,2,1\n"},
        {"zelk-show", {"-h", "2", "@"},
         "1: id:         '2'\n2: \"name\":     'Bob'\n3: first-name: 'B'\n"},
    };
    TempDir dir;
    for (const std::string &bom : {std::string(), BOM}) {
        const std::string header = bom + "id,\"name\",first-name";
        const std::string file = dir.file("in.csv", header + "\n" + rows);
        for (const auto &c : cases) {
            std::vector<std::string> args;
            for (const auto &a : c.args) args.push_back(a == "@" ? file : a);
            SCOPED_TRACE(std::string(c.tool) + (bom.empty() ? "" : " with a BOM"));
            EXPECT_RUN(run_tool(c.tool, args), 0, fill(c.out, header, bom), "");
        }
    }
}

// Exporters that quote every field write the BOM before the first quote. The field is the BOM
// and a quoted field: found by its name, unquoted and cleaned with the BOM kept in front, and
// moved away from the start of the output with the BOM inside its quotes.
TEST(HeaderNames, ByteOrderMarkBeforeAQuotedFirstField) {
    const std::string rows = "2,Bob,B\n1,Ann,A\n";
    const std::string header = BOM + "\"id\",\"name\",first-name";
    const Case cases[] = {
        {"zelk-match", {"-Q", "id", "^1$", "@"}, "@\n1,Ann,A\n"},
        {"zelk-colnum", {"-n", "first-name,id", "@"}, "3,1\n"},
        {"zelk-columns", {"-Q", "name,id", "@"}, "\"name\",\"%id\"\nBob,2\nAnn,1\n"},
        {"zelk-columns", {"-Q", "id-name", "@"}, "%\"id\",\"name\"\n2,Bob\n1,Ann\n"},
        {"zelk-beside", {"@", "@"}, "@,\"%id\",\"name\",first-name\n2,Bob,B,2,Bob,B\n"
                                    "1,Ann,A,1,Ann,A\n"},
        {"zelk-merge", {"-Q", "id", "@", "id", "@"},
         "@,\"%id\",\"name\",first-name\n2,Bob,B,2,Bob,B\n1,Ann,A,1,Ann,A\n"},
        {"zelk-concat", {"-h", "@", "@"}, "@\n" + rows + "\"%id\",\"name\",first-name\n" + rows},
        {"zelk-tidy", {"-u", "@"}, "%id,name,first-name\n" + rows},
        {"zelk-tidy", {"-c", "-s;", "@"}, "%id;name;first-name\n2;Bob;B\n1;Ann;A\n"},
        {"zelk-to-delim", {"-u", ";", "@"}, "%id;name;first-name\n2;Bob;B\n1;Ann;A\n"},
        {"zelk-to-delim", {";", "@"}, "%\"id\";\"name\";first-name\n2;Bob;B\n1;Ann;A\n"},
        {"zelk-show", {"-h", "2", "@"},
         "1: \"id\":       '2'\n2: \"name\":     'Bob'\n3: first-name: 'B'\n"},
    };
    TempDir dir;
    const std::string file = dir.file("in.csv", header + "\n" + rows);
    for (const auto &c : cases) {
        std::vector<std::string> args;
        for (const auto &a : c.args) args.push_back(a == "@" ? file : a);
        SCOPED_TRACE(c.tool);
        EXPECT_RUN(run_tool(c.tool, args), 0, fill(c.out, header, BOM), "");
    }
}

// A name held by several fields names the first of them, in every program that takes names.
TEST(HeaderNames, ANameHeldTwiceNamesTheFirstField) {
    const Case cases[] = {
        {"zelk-match", {"-Q", "id", "^1$", "@"}, "@\n1,x,9\n"},
        {"zelk-order", {"-n", "-r", "-Q", "id", "@"}, "@\n2,y,9\n1,x,9\n"},
        {"zelk-dedupe", {"-Q", "id", "@"}, "@\n1,x,9\n2,y,9\n"},
        {"zelk-merge", {"-Q", "id", "@", "id", "@"}, "@,@\n1,x,9,1,x,9\n2,y,9,2,y,9\n"},
        {"zelk-columns", {"-Q", "id", "@"}, "id\n1\n2\n"},
        {"zelk-colnum", {"-n", "v,id", "@"}, "2,1\n"},
    };
    TempDir dir;
    const std::string header = "id,v,id";
    const std::string file = dir.file("in.csv", header + "\n1,x,9\n2,y,9\n");
    for (const auto &c : cases) {
        std::vector<std::string> args;
        for (const auto &a : c.args) args.push_back(a == "@" ? file : a);
        SCOPED_TRACE(c.tool);
        EXPECT_RUN(run_tool(c.tool, args), 0, fill(c.out, header, std::string()), "");
    }
}

// Names that are not in the header are still refused, BOM or not.
TEST(HeaderNames, UnknownNamesRefused) {
    TempDir dir;
    const std::string file = dir.file("in.csv", BOM + "id,\"name\"\n1,x\n");
    EXPECT_RUN(run_tool("zelk-match", {"-Q", "Id", "x", file}), 1, "",
               "zelk-match: ERROR: FIELD name 'Id' not found in header\n");
    EXPECT_RUN(run_tool("zelk-colnum", {"\"id\"", file}), 1, "",
               "zelk-colnum: ERROR: FIELD name '\"id\"' not found in header\n");
    EXPECT_RUN(run_tool("zelk-columns", {"-Q", "id-nam", file}), 1, "",
               "zelk-columns: ERROR: FIELD name 'nam' not found in header\n");
}
