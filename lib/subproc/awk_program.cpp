#include "awk_program.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli.h"
#include "libcsv.h"
#include "libsubproc.h"

// The bytes of the exchange as the texts spell them, and the frames and the flush request's
// pattern made of them.
#define RS AWK_TEXT(AWK_RS_OCT)
#define FS AWK_TEXT(AWK_FS_OCT)
#define ESC AWK_TEXT(AWK_ESC_OCT)
#define ESC_RS AWK_TEXT(AWK_ESC_RS_OCT)
#define ESC_ESC AWK_TEXT(AWK_ESC_ESC_OCT)
#define READY FS
#define RESULT FS AWK_RESULT_MARK
#define NO_RESULT FS AWK_NO_RESULT_MARK RS
#define FLUSH_REQUEST "/^" FS AWK_FLUSH_MARK "$/"
#define TRUE_FRAME AWK_TEXT(AWK_TRUE_OCT)
#define ZERO_FRAME AWK_TEXT(AWK_ZERO_OCT)

namespace {

arg_vector awk_args;
int head_index = -1; // index of the head text's place in awk_args

// One result per value, what the texts may count on. Code that names none of next, getline,
// NR, SYMTAB or an indirect call leaves NR counting the values, each answered in its turn; and
// awk whose locale has single-byte characters knows the length of a record without reading it.
bool every_value_answered, awk_reads_bytes;

template <class Test> bool every_code_text(const char *expr, Test test);

char *format_text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
char *format_text(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    char *text = (char *)calloc((size_t)n + 1, 1);
    if (!text) fatalf(errno, "%s", awk_alloc_message);
    va_start(ap, fmt);
    vsnprintf(text, (size_t)n + 1, fmt, ap);
    va_end(ap);
    return text;
}

// -Q: the texts that give the code the header's names, each a -e argument of its own.
std::vector<std::string> name_texts;

} // namespace

const char *awk_alloc_message;

void awk_argv_init(int max, const char *alloc_message, const char *limit_format) {
    awk_alloc_message = alloc_message;
    arg_vector_init(&awk_args, max, alloc_message, limit_format);
    name_texts.clear();
}

void awk_argv_begin(int max, const char *alloc_message, const char *limit_format,
                    const char *const *assignments) {
    awk_argv_init(max, alloc_message, limit_format);
    awk_argv_add_entry("awk");
    for (const char *const *a = assignments; *a; a++)
        awk_argv_add_entry(*a);
    awk_argv_reserve_head();
}

void awk_argv_add_entry(const char *entry) {
    arg_vector_add(&awk_args, entry);
}

void awk_argv_reserve_head(void) {
    awk_argv_add_entry("-e");
    head_index = awk_args.count;
    awk_argv_add_entry("");
}

char *const *awk_argv_complete(awk_mode mode, const char *expr, int fd, bool flush_requests,
                               bool flush_each) {
    if (mode != AWK_STREAM) {
        every_value_answered = every_code_text(expr, [](const char *p, size_t n) {
            for (const char *w : {"next", "getline", "NR", "SYMTAB", "@"})
                if (memmem(p, n, w, strlen(w))) return false;
            return true;
        });
        // The locale awk will set from the environment.
        awk_reads_bytes = false;
        if (locale_t loc = newlocale(LC_CTYPE_MASK, "", (locale_t)0)) {
            locale_t own = uselocale(loc);
            awk_reads_bytes = MB_CUR_MAX == 1;
            uselocale(own);
            freelocale(loc);
        }
    }
    awk_args.argv[head_index] = awk_head_text(mode, fd, flush_requests);
    if (!name_texts.empty()) {
        // Their BEGIN rules run before any of the code's.
        arg_vector v;
        arg_vector_init(&v, awk_args.max + 2 * (int)name_texts.size(), awk_alloc_message,
                        awk_args.limit_format);
        for (int i = 0; i <= head_index; i++)
            arg_vector_add(&v, awk_args.argv[i]);
        for (const std::string &text : name_texts) {
            arg_vector_add(&v, "-e");
            arg_vector_add(&v, text.c_str());
        }
        for (int i = head_index + 1; i < awk_args.count; i++)
            arg_vector_add(&v, awk_args.argv[i]);
        free(awk_args.argv);
        awk_args = v;
    }
    awk_argv_add_entry("-e");
    awk_argv_add_entry(awk_tail_text(mode, expr, fd, flush_each));
    return awk_args.argv;
}

namespace {

void append_awk_string(std::string &out, const char *p, size_t n);

// -u, streaming: the rule after the head's saves each field as read and gives the code its
// value (a quoted field without its quotes, "" as "; by regular expressions, which do not
// count characters as substr and length do, so any bytes pass alike); the rule before the
// tail's puts back the saved text of every field still equal to the value it was given, and
// quotes any other that holds a double quote, a comma or a line break. Values are compared as
// strings, so that 1.0 set to 1 is a change. A record the code read itself (getline moved NR)
// was given as read, or its fields are values where the tail cannot tell which: the run ends
// instead.
bool give_values;
#define VALUES_HEAD                                                                                \
    "{__zelk_nr=NR;__zelk_nf=NF;for(__zelk_i=1;__zelk_i<=NF;__zelk_i++){"                          \
    "__zelk_v=__zelk_raw[__zelk_i]=$__zelk_i;"                                                     \
    "if(__zelk_v~/^\"/){sub(/^\"/,\"\",__zelk_v);sub(/\"$/,\"\",__zelk_v);"                        \
    "gsub(/\"\"/,\"\\\"\",__zelk_v);$__zelk_i=__zelk_v}"                                           \
    "__zelk_val[__zelk_i]=__zelk_v}}"
#define VALUES_TAIL                                                                                \
    "NR!=__zelk_nr{printf \"%s: ERROR: with -u, AWK code must not read records itself "            \
    "(getline moved NR)\\n\" > \"/dev/stderr\";exit 1}"                                            \
    "{for(__zelk_i=1;__zelk_i<=NF;__zelk_i++){__zelk_v=$__zelk_i \"\";"                            \
    "if(__zelk_i<=__zelk_nf&&__zelk_v==(__zelk_val[__zelk_i] \"\")){"                              \
    "if(__zelk_v!=(__zelk_raw[__zelk_i] \"\"))$__zelk_i=__zelk_raw[__zelk_i]}"                     \
    "else if(__zelk_v~/[\",\\r\\n]/){gsub(/\"/,\"\\\"\\\"\",__zelk_v);"                            \
    "$__zelk_i=\"\\\"\" __zelk_v \"\\\"\"}}}"

} // namespace

void awk_give_values(void) {
    give_values = true;
}

char *awk_head_text(awk_mode mode, int fd, bool flush_requests) {
    // The flush request also takes itself out of NR and FNR, so that the code sees them count
    // values. It is recognised by a pattern: comparing $0 with a string would make awk try
    // every record as a number first.
    // Where a length is known without reading, a record of another length is not looked at
    // further.
    if (mode != AWK_STREAM)
        return format_text("BEGIN{printf \"" READY "\";fflush(\"/dev/stdout\")}%s" FLUSH_REQUEST
                           "{NR--;FNR--;%sfflush(\"/dev/stdout\");next}",
                           awk_reads_bytes ? "length($0)==2&&" : "",
                           every_value_answered ? "" : "if(NR!=__zelk_n)printf \"" NO_RESULT "\";");
    const char *values = give_values ? VALUES_HEAD : "";
    if (!flush_requests)
        return format_text("BEGIN{printf \"" READY "\" > \"/dev/fd/%d\";fflush(\"/dev/fd/%d\")}%s",
                           fd, fd, values);
    return format_text("BEGIN{printf \"" READY
                       "\" > \"/dev/fd/%d\";fflush(\"/dev/fd/%d\")}" FLUSH_REQUEST
                       "{NR--;FNR--;fflush(\"/dev/fd/%d\");next}%s",
                       fd, fd, fd, values);
}

char *awk_tail_text(awk_mode mode, const char *expr, int fd, bool flush_each) {
    // The value is computed first: an expression that reads ahead with getline moves NR. The
    // expression stands on a line of its own (the assignment continued onto it, the newline
    // after it ending the statement), so that awk, reporting a mistake in it, shows the
    // user's text and not this one.
    //
    // A verdict that is 1 or 0, as a condition's mostly is, is told in one print: the result
    // frame's printf, and its test for bytes to escape, cost awk more than the condition. A
    // value equal to 1 prints as a text that is true whatever its type; a value equal to 0
    // may still print as "-0" or "0.0", so its text travels.
    //
    // Where every value is answered in its turn, NR is not checked.
    if (mode != AWK_STREAM)
        return format_text("{__zelk_r=\\\n%s\n"
                           "%s{%s"
                           "if(__zelk_r~/[" RS ESC "]/){"
                           "gsub(/" ESC "/,\"" ESC ESC_ESC "\",__zelk_r);"
                           "gsub(/" RS "/,\"" ESC ESC_RS "\",__zelk_r)}"
                           "printf \"" RESULT "\";print __zelk_r%s}"
                           "%s}",
                           expr, every_value_answered ? "" : "if(NR==++__zelk_n)",
                           mode == AWK_ONE_VERDICT ? "if(__zelk_r==1)print \"" TRUE_FRAME "\";"
                                                     "else if(__zelk_r==0)print \"" ZERO_FRAME
                                                     "\" __zelk_r;else{"
                                                   : "",
                           mode == AWK_ONE_VERDICT ? "}" : "",
                           every_value_answered ? ""
                                                : "else{printf \"" NO_RESULT
                                                  "\";fflush(\"/dev/stdout\");__zelk_n=NR}");
    // A record of one empty field is printed "" (an empty line reads back as a blank record);
    // a record the code left without fields stays blank. NF is looked at only for an empty $0,
    // so that other records are not split for it.
    std::string values;
    if (give_values) {
        std::string name;
        append_awk_string(name, program_invocation_name, strlen(program_invocation_name));
        char *text = format_text(VALUES_TAIL, name.c_str());
        values = text;
        free(text);
    }
    if (!flush_each)
        return format_text("%s{if(!length($0)&&NF)$0=\"\\\"\\\"\";print > \"/dev/fd/%d\"}",
                           values.c_str(), fd);
    return format_text("%s{if(!length($0)&&NF)$0=\"\\\"\\\"\";"
                       "print > \"/dev/fd/%d\";fflush(\"/dev/fd/%d\")}",
                       values.c_str(), fd, fd);
}

namespace {

// n bytes as the text of an awk string literal: every byte that awk would read specially, or
// that is not printable ASCII, as a three-digit octal escape, which awk reads as that byte
// whatever the locale.
void append_awk_string(std::string &out, const char *p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == '"') {
            const char digits[] = {'\\', (char)('0' + (c >> 6)), (char)('0' + ((c >> 3) & 7)),
                                   (char)('0' + (c & 7))};
            out.append(digits, sizeof digits);
        } else {
            out += (char)c;
        }
    }
}

// One argument to awk must stay below the kernel's limit (32 pages): a text is ended when it
// passes TEXT_SOFT_MAX, and a name goes in pieces of PIECE_MAX bytes (each byte at most four
// of text).
constexpr size_t TEXT_SOFT_MAX = 1 << 16;
constexpr size_t PIECE_MAX = 1 << 12;

// The lookup, with the offending name shown as messages show it: control bytes as \ooo.
std::string lookup_function(void) {
    std::string f = "function zelk_col(name,  shown, i) {\n"
                    "    if (name in __zelk_col) return __zelk_col[name]\n"
                    "    shown = name\n"
                    "    for (i = 1; i < 32; i++) gsub(sprintf(\"%c\", i), "
                    "sprintf(\"\\\\%03o\", i), shown)\n"
                    "    gsub(/\\177/, \"\\\\177\", shown)\n"
                    "    printf \"%s: ERROR: field name '%s' not found in header\\n\", \"";
    append_awk_string(f, program_invocation_name, strlen(program_invocation_name));
    f += "\", shown > \"/dev/stderr\"\n"
         "    exit 1\n"
         "}\n";
    return f;
}

} // namespace

void awk_set_field_names(int numfields, char *const *fields, const char *record_end) {
    name_texts.assign(1, lookup_function() + "BEGIN{");
    static char value[MAX_RECORD_LENGTH];
    // A field's bytes first, then its value, each name for the first field that has it: the
    // assignments go in the opposite order, values before bytes and the last field first, so
    // that the one that must win is made last. A value that is the field's bytes is left out.
    for (int pass = 1; pass >= 0; pass--) {
        for (int i = numfields; i >= 1; i--) {
            int len = csv_parsed_field_length(fields, numfields, i, record_end);
            const char *name = fields[i - 1];
            size_t n = (size_t)len;
            if (pass == 1) {
                n = header_field_value(name, len, i, value);
                if (n == (size_t)len && memcmp(value, name, n) == 0) continue;
                name = value;
            }
            for (size_t at = 0; at == 0 || at < n; at += PIECE_MAX) {
                std::string *text = &name_texts.back();
                if (text->size() > TEXT_SOFT_MAX) {
                    *text += "}";
                    text = &name_texts.emplace_back("BEGIN{");
                }
                *text += at == 0 ? "__zelk_s=\"" : "__zelk_s=__zelk_s \"";
                append_awk_string(*text, name + at, n - at < PIECE_MAX ? n - at : PIECE_MAX);
                *text += "\";";
            }
            name_texts.back() += "__zelk_col[__zelk_s]=" + std::to_string(i) + ";";
        }
    }
    name_texts.back() += "}";
}

namespace {

// Whether the n bytes at p name getline or @include.
bool names_reading_word(const char *p, size_t n) {
    for (const char *w : {"getline", "@include"})
        if (memmem(p, n, w, strlen(w))) return true;
    return false;
}

} // namespace

bool awk_code_may_read_ahead(void) {
    return !every_code_text(nullptr,
                            [](const char *p, size_t n) { return !names_reading_word(p, n); });
}

namespace {

// Whether the n bytes of code at p mean the same to awk whatever the character set: ASCII,
// and naming nothing that counts, converts or classifies characters (length, substr, index,
// match, split, sub and gsub, case conversion, printf widths, regular expressions and the
// variables that make some), that reads the environment awk is given, or that starts a
// command which would inherit it. A / after a number, a closing bracket (but that of the
// condition of if, while or for) or a name other than a keyword divides; any other opens a
// regular expression.
bool names_no_characters(const char *p, size_t n) {
    static const char *const words[] = {
        "length", "substr", "index",       "match",   "split",   "sub",        "lower",
        "upper",  "print",  "strftime",    "sort",    "gettext", "IGNORECASE", "FS",
        "RS",     "FPAT",   "FIELDWIDTHS", "ENVIRON", "system",  "getline",    "@"};
    static const char *const keywords[] = {"return", "case",   "else",    "do",     "in",
                                           "print",  "printf", "getline", "delete", "exit"};
    for (const char *w : words)
        if (memmem(p, n, w, strlen(w))) return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if (c >= 0x80 || c == '~') return false;
        if (c != '/') continue;
        size_t j = i;
        while (j > 0 && (p[j - 1] == ' ' || p[j - 1] == '\t'))
            j--;
        if (j == 0) return false;
        char b = p[j - 1];
        if (b == ']') continue;
        if (b == ')') {
            // After the condition of if, while or for a statement, which may be a regular
            // expression, begins. A quote on the way back could hide a bracket.
            size_t k = j - 1;
            int depth = 0;
            do {
                if (p[k] == '"') return false;
                depth += p[k] == ')' ? 1 : p[k] == '(' ? -1 : 0;
            } while (depth > 0 && k-- > 0);
            if (depth > 0) return false;
            while (k > 0 && (p[k - 1] == ' ' || p[k - 1] == '\t'))
                k--;
            for (const char *kw : {"if", "while", "for"}) {
                size_t n = strlen(kw);
                if (k >= n && memcmp(p + k - n, kw, n) == 0 &&
                    (k == n || !(isalnum((unsigned char)p[k - n - 1]) || p[k - n - 1] == '_')))
                    return false;
            }
            continue;
        }
        size_t k = j;
        while (k > 0 && (isalnum((unsigned char)p[k - 1]) || p[k - 1] == '_'))
            k--;
        if (k == j) return false;
        if (isdigit((unsigned char)p[k])) continue;
        for (const char *kw : keywords)
            if (j - k == strlen(kw) && memcmp(p + k, kw, j - k) == 0) return false;
    }
    return true;
}

// The code's longest file read whole by every_code_text; a longer one fails the test.
constexpr long CODE_FILE_MAX = 1 << 20;

// Whether test holds for expr (unless null) and for every text of code given with -e, -f and
// -l. A file that cannot be read, or is longer than CODE_FILE_MAX, fails it.
template <class Test> bool every_code_text(const char *expr, Test test) {
    if (expr && !test(expr, strlen(expr))) return false;
    for (int i = head_index + 1; i + 1 < awk_args.count; i += 2) {
        const char *arg = awk_args.argv[i + 1];
        if (strcmp(awk_args.argv[i], "-e") == 0) {
            if (!test(arg, strlen(arg))) return false;
            continue;
        }
        FILE *f = fopen(arg, "r");
        if (!f) return false;
        std::string text;
        char piece[1 << 16];
        size_t n;
        while ((long)text.size() <= CODE_FILE_MAX && (n = fread(piece, 1, sizeof piece, f)) > 0)
            text.append(piece, n);
        fclose(f);
        if ((long)text.size() > CODE_FILE_MAX || !test(text.data(), text.size())) return false;
    }
    return true;
}

} // namespace

bool awk_code_names_no_characters(const char *expr) {
    return every_code_text(expr, names_no_characters);
}

namespace {

// The name of the locale category cat (LC_ALL, then its own variable, then LANG) as the
// environment sets it for awk.
const char *env_locale(const char *cat) {
    for (const char *var : {"LC_ALL", cat, "LANG"}) {
        const char *v = getenv(var);
        if (v && *v) return v;
    }
    return "C";
}

} // namespace

bool awk_use_byte_characters(void) {
    // Messages of a translated locale would be converted to the character set.
    const char *msg = env_locale("LC_MESSAGES"), *language = getenv("LANGUAGE");
    if (!(strcmp(msg, "C") == 0 || strcmp(msg, "POSIX") == 0 || strncmp(msg, "C.", 2) == 0) ||
        (language && *language))
        return false;
    locale_t loc = newlocale(LC_CTYPE_MASK, env_locale("LC_CTYPE"), (locale_t)0);
    if (!loc) return false;
    bool utf8 = strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    freelocale(loc);
    if (!utf8) return false;
    // LC_ALL would overrule LC_CTYPE: every other category is given its value instead.
    const char *all = getenv("LC_ALL");
    if (all && *all) {
        std::string value = all;
        for (const char *cat :
             {"LC_COLLATE", "LC_MESSAGES", "LC_MONETARY", "LC_NUMERIC", "LC_TIME", "LC_PAPER",
              "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
            if (setenv(cat, value.c_str(), 1) != 0) return false;
        unsetenv("LC_ALL");
    }
    return setenv("LC_CTYPE", "C", 1) == 0;
}

bool awk_accepts_option_e(const char *path) {
    posix_spawn_file_actions_t fa;
    if (posix_spawn_file_actions_init(&fa) != 0) return false;
    for (int fd = 0; fd <= 2; fd++)
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    char *const argv[] = {const_cast<char *>("awk"), const_cast<char *>("-e"),
                          const_cast<char *>("BEGIN { exit 0 }"), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, path, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int st;
    while (waitpid(pid, &st, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

namespace {

// Whether awk would read the file at path from its standard input, which carries the records
// (so it would wait for the rest of its program while the program waits for it to start):
// "-", or any name that leads, through symbolic links, to descriptor 0 of the process
// itself, as /dev/stdin, /dev/fd/0 and /proc/self/fd/0 do. Such a name is resolved in this
// process; awk resolves it the same way in its own.
bool names_standard_input(const char *path) {
    if (strcmp(path, "-") == 0) return true;
    std::string pid = std::to_string(getpid());
    std::string name = path;
    for (int hops = 0; hops < 40; hops++) {
        // The directory resolved whole (/proc/self included), the last component by hand.
        size_t slash = name.rfind('/');
        std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : name.substr(0, slash);
        char real[PATH_MAX];
        if (!realpath(dir.c_str(), real)) return false;
        std::string full = std::string(real) + (real[1] ? "/" : "") + name.substr(slash + 1);
        // A descriptor's link names what the descriptor is open on, not a path to follow.
        if (full.rfind("/proc/", 0) == 0 && full.find("/fd/") != std::string::npos)
            return full == "/proc/" + pid + "/fd/0" ||
                   full == "/proc/" + pid + "/task/" + pid + "/fd/0";
        struct stat st;
        if (lstat(full.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
        char target[PATH_MAX];
        ssize_t n = readlink(full.c_str(), target, sizeof target - 1);
        if (n < 0) return false;
        target[n] = '\0';
        name = target[0] == '/' ? std::string(target) : std::string(real) + "/" + target;
    }
    return false;
}

} // namespace

void awk_add_library(const char *path) {
    if (names_standard_input(path))
        fatalf(0, "ERROR: AWK code file '%s' is standard input, which carries the records to AWK",
               path);
    awk_argv_add_entry("-f");
    awk_argv_add_entry(path);
}

char opt_usecode;
char opt_usefile;

bool awk_code_option(int c, const char *arg) {
    switch (c) {
    case 'e':
        if (opt_usefile) fatalf(0, "Error: use only -e or -f, but not both!");
        if (!strchr(arg, '{') || !strchr(arg, '}'))
            fatalf(0, "Error: -eCODE must be a valid AWK program, i.e., rule(s): "
                      "[pattern]{actions}!");
        awk_argv_add_entry("-e");
        awk_argv_add_entry(arg);
        opt_usecode = 1;
        return true;
    case 'f':
        if (opt_usecode) fatalf(0, "Error: use only -e or -f, but not both!");
        awk_add_library(arg);
        opt_usefile = 1;
        return true;
    case 'l': awk_add_library(arg); return true;
    }
    return false;
}

void awk_require_code(void) {
    if (!opt_usecode && !opt_usefile) fatalf(0, "Error: Must supply AWK code via -e or -f option!");
}
