// zelk-table: print CSV records as aligned text columns, with widths measured on the first
// records, fixed for all columns, or given as a list.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <langinfo.h>

#include "cli.h"
#include "field_list.h"
#include "libcsv.h"

static char opt_uniformfields = 1;          // cleared by -a
static char opt_justification;              // 0 left, 1 center (-c), 2 right (-r)
static const char *opt_fieldseparator = " "; // -s
static char opt_unquotefields;              // -u
static char opt_determinewidths = 1;        // off with -f and -w
static int opt_numassessrecs = 10;          // -n
static int opt_minfieldwidth;               // -m
static char opt_usefixedwidths;             // -f
static int opt_fixedwidth = -1;             // the -f width, or the -x width; -1: none
static char opt_extrawidth;                 // -x
static char *opt_widthslist;                // -w

static int fmt_fieldwidthsarr[MAX_FIELDS];
static int fmt_numfieldwidths;
static int fmt_numheaderfields;
// Whether the header has been met. The header is the first non-blank record in every mode,
// so a blank first line (skipped, or passed through with -b) does not leave a header of no
// fields behind it.
static bool header_seen;

static void print_usage(FILE *out) {
    fputs("Program to print out a CSV file formatted in a readable (columnized) manner.\n\n"
          "Usage: zelk-table [OPTION...] [CSVFILE]\n\n"
          "Options:\n"
          "  -a          -- allow CSVFILE to have nonuniform field counts\n"
          "  -b          -- blank records passed through (removed by default)\n"
          "  -c          -- center fields (left justify by default)\n"
          "  -fWIDTH     -- fixed field width to use for all fields\n"
          "  -mWIDTH     -- minimum field width to use, overrides automatically determined "
          "widths\n"
          "  -nNUMRECS   -- number of records to use to determine field widths (10 by default)\n"
          "  -r          -- right justify fields (left by default)\n"
          "  -sSEPARATOR -- separator between field values (single space by default)\n"
          "  -u          -- unquote quoted fields before printing: remove surrounding \"'s,\n"
          "                 unescape embedded \"'s, and replace embedded CR's/LF's with text\n"
          "  -wWIDTHS    -- comma-separated list of fields widths\n"
          "                  e.g., -w10,12,10,15,20 (must have enough values for all records)\n"
          "  -xWIDTH     -- field width to use for extra fields (beyond header or -w spec)\n",
          out);
}

static const cli_program program = {"zelk-table", "abcf:m:n:rs:uw:x:", "b", nullptr,
                                    print_usage};

// The text to show for field i (1-based) of a split record ending at end: its raw bytes, or
// with -u its value with line breaks made visible. The unquoting works on C strings, so a
// field holding a NUL byte cannot be unquoted and its record is refused.
static const char *field_text(char **fields, int numfields, int i, const char *end, int recnum,
                              int *len) {
    const char *text = fields[i - 1];
    *len = csv_parsed_field_length(fields, numfields, i, end);
    if (!opt_unquotefields) return text;
    if (memchr(text, '\0', (size_t)*len))
        fatalf(0, "ERROR: record #%d, field #%d: a NUL byte cannot be unquoted", recnum, i);
    csv_where_field(i);
    const char *value = csv_field_unquote_and_replace_embeds(text, 0);
    if (!value) return text; // not reached: the reader accepts only well-quoted fields
    *len = (int)strlen(value);
    return value;
}

// Whether text is measured in characters of the locale's UTF-8 rather than in bytes.
static bool utf8_widths;

// The columns that s[0..n) takes on a terminal: in a UTF-8 locale each character counts its
// display width (wide characters two, combining marks none), and a byte that does not begin
// a valid character counts one; otherwise every byte counts one.
static int display_width(const char *s, int n) {
    if (!utf8_widths) return n;
    int width = 0;
    mbstate_t st;
    memset(&st, 0, sizeof st);
    for (int i = 0; i < n;) {
        if ((unsigned char)s[i] < 0x80) {
            width++;
            i++;
            continue;
        }
        wchar_t wc;
        size_t k = mbrtowc(&wc, s + i, (size_t)(n - i), &st);
        if (k == (size_t)-1 || k == (size_t)-2 || k == 0) {
            memset(&st, 0, sizeof st);
            width++;
            i++;
            continue;
        }
        int w = wcwidth(wc);
        width += w < 0 ? 1 : w;
        i += (int)k;
    }
    return width;
}

static void write_spaces(int n) {
    static const char spaces[] = "                                                                ";
    while (n > 0) {
        int k = n < (int)sizeof spaces - 1 ? n : (int)sizeof spaces - 1;
        out_bytes(spaces, (size_t)k);
        n -= k;
    }
}

// One output line: every field padded with blanks to its column's width (a wider text is
// written whole), justified, and separated. The padding is written byte by byte rather than
// through a printf width, so that a NUL byte in a field is shown like any other byte.
static void print_split_record_fields(char **fields, int numfields, const char *end,
                                      int recnum) {
    for (int i = 0; i < numfields; i++) {
        int len;
        const char *text = field_text(fields, numfields, i + 1, end, recnum, &len);
        if (i > 0) out_str(opt_fieldseparator);
        int width = (opt_usefixedwidths || i >= fmt_numfieldwidths) ? opt_fixedwidth
                                                                    : fmt_fieldwidthsarr[i];
        int shown = display_width(text, len);
        int pad = width > shown ? width - shown : 0;
        int before = opt_justification == 2 ? pad : opt_justification == 1 ? pad / 2 : 0;
        write_spaces(before);
        out_bytes(text, (size_t)len);
        write_spaces(pad - before);
    }
    out_char('\n');
    errcheck_stdout_exit();
}

static void check_field_count(int numfields, int recnum) {
    if (numfields == 0) return;
    if (!header_seen) {
        header_seen = true;
        fmt_numheaderfields = numfields;
        return;
    }
    if (opt_uniformfields && numfields != fmt_numheaderfields)
        fatalf(0, "ERROR: record #%d has %d fields (%d in header)", recnum, numfields,
               fmt_numheaderfields);
}

// The measured records, kept until they are printed: their bytes back to back (each with
// its NUL), so that the store holds what was read and no more.
struct measured_store {
    char *bytes = nullptr;
    size_t used = 0, cap = 0;
    size_t *start = nullptr; // offset of each record
    int *len = nullptr;
    int *recnum = nullptr;
    int count = 0, slots = 0;

    void add(const char *text, int n, int num) {
        if (count == slots) {
            slots = slots ? 2 * slots : 16;
            start = (size_t *)grow(start, (size_t)slots * sizeof *start);
            len = (int *)grow(len, (size_t)slots * sizeof *len);
            recnum = (int *)grow(recnum, (size_t)slots * sizeof *recnum);
        }
        if (used + (size_t)n + 1 > cap) {
            while (used + (size_t)n + 1 > cap) cap = cap ? 2 * cap : 1 << 16;
            bytes = (char *)grow(bytes, cap);
        }
        memcpy(bytes + used, text, (size_t)n + 1);
        start[count] = used;
        len[count] = n;
        recnum[count++] = num;
        used += (size_t)n + 1;
    }
    static void *grow(void *p, size_t n) {
        void *q = realloc(p, n);
        if (!q) fatalf(errno, "ERROR: failed allocating dynamic memory");
        return q;
    }
};

// Reads and stores the first records and raises the column widths to fit them, then prints
// them. Returns the number of records read (stored or skipped), or -1 when there was nothing
// to measure or the reader failed.
static int measure_and_print(FILE *fp, const char *name) {
    static measured_store store;
    static char scratch[MAX_RECORD_LENGTH];

    int recnum = 0;
    while (store.count < opt_numassessrecs) {
        int numfields;
        char error_flag;
        const char *text = csv_record_read(fp, name, ++recnum, 1, &numfields, &error_flag);
        if (!text) {
            if (error_flag) return -1;
            recnum--;
            break;
        }
        if (numfields == 0 && !opt_blankrecspass) continue;
        int len = csv_record_read_length();
        // The stored copy is split again as a C string when it is printed.
        if (memchr(text, '\0', (size_t)len))
            fatalf(0, "ERROR: record #%d: a NUL byte cannot be measured for field widths",
                   recnum);
        store.add(text, len, recnum);

        check_field_count(numfields, recnum);
        if (numfields > fmt_numfieldwidths) fmt_numfieldwidths = numfields;

        char error_flag2;
        memcpy(scratch, text, (size_t)len + 1);
        char **fields;
        int n = csv_record_string_split(scratch, recnum, 1, &fields, &error_flag2, 0);
        if (n < 0) return -1;
        const char *end = scratch + len;
        for (int i = 0; i < n; i++) {
            int bytes;
            const char *t = field_text(fields, n, i + 1, end, recnum, &bytes);
            int w = display_width(t, bytes);
            if (w < opt_minfieldwidth) w = opt_minfieldwidth;
            if (w > fmt_fieldwidthsarr[i]) fmt_fieldwidthsarr[i] = w;
        }
    }
    if (store.count == 0) {
        error_empty_input(name);
        return -1;
    }

    for (int k = 0; k < store.count; k++) {
        char **fields;
        char error_flag;
        char *text = store.bytes + store.start[k];
        int n = csv_record_string_split(text, store.recnum[k], 1, &fields, &error_flag, 0);
        print_split_record_fields(fields, n, text + store.len[k], store.recnum[k]);
    }
    return recnum;
}

// Prints the records from record number recnum on, with the widths known by now.
static int print_remaining(FILE *fp, const char *name, int recnum) {
    for (;; recnum++) {
        char **fields;
        char error_flag;
        int numfields = csv_record_read_and_split(fp, name, recnum, 1, &fields, &error_flag);
        if (numfields < 0) return error_flag ? 1 : 0;
        if (numfields == 0) {
            if (opt_blankrecspass) print_split_record_fields(fields, 0, nullptr, recnum);
            continue;
        }
        check_field_count(numfields, recnum);
        if (numfields > fmt_numfieldwidths && opt_fixedwidth == -1)
            fatalf(0, "ERROR: record #%d has %d fields, but only %d field widths available",
                   recnum, numfields, fmt_numfieldwidths);
        print_split_record_fields(fields, numfields, fields[0] + csv_record_parse_length(),
                                  recnum);
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a': opt_uniformfields = 0; break;
        case 'c': opt_justification = 1; break;
        case 'r':
            opt_justification = 2;
            break;
        case 'f':
            if (opt_minfieldwidth != 0 || opt_numassessrecs != 10 || opt_widthslist ||
                opt_extrawidth)
                fatalf(0, "Error: -f option not compatible with -m, -n, -w, and -x options!");
            opt_usefixedwidths = 1;
            opt_determinewidths = 0;
            opt_fixedwidth = intstrconv(optarg, "-fWIDTH", 1);
            break;
        case 'm':
            if (opt_usefixedwidths || opt_widthslist)
                fatalf(0, "Error: -m option not compatible with -f and -w options!");
            opt_minfieldwidth = intstrconv(optarg, "-mWIDTH", 1);
            break;
        case 'n':
            if (opt_usefixedwidths || opt_widthslist)
                fatalf(0, "Error: -n option not compatible with -f and -w options!");
            opt_determinewidths = 1;
            opt_numassessrecs = intstrconv(optarg, "-nNUMRECS", 1);
            break;
        case 's': opt_fieldseparator = optarg; break;
        case 'u': opt_unquotefields = 1; break;
        case 'w':
            if (opt_usefixedwidths || opt_minfieldwidth != 0 || opt_numassessrecs != 10)
                fatalf(0, "Error: -w option not compatible with -f, -m, and -n options!");
            opt_determinewidths = 0;
            opt_widthslist = optarg;
            break;
        case 'x':
            if (opt_usefixedwidths) fatalf(0, "Error: -f and -x options not compatible!");
            opt_extrawidth = 1;
            opt_fixedwidth = intstrconv(optarg, "-xWIDTH", 1);
            break;
        }
    }
    int operands = argc - optind;
    if (operands > 1) cli_usage_exit();
    if (setlocale(LC_CTYPE, "") && strcmp(nl_langinfo(CODESET), "UTF-8") == 0) utf8_widths = true;

    const char *name;
    FILE *fp = open_input_or_exit(operands == 1 ? argv[optind] : nullptr, &name);
    if (opt_widthslist)
        fmt_numfieldwidths = int_list_parse(opt_widthslist, "WIDTHS_LIST element", "WIDTHS_LIST",
                                            fmt_fieldwidthsarr, MAX_FIELDS);

    int recnum = 1;
    if (opt_determinewidths) {
        int read = measure_and_print(fp, name);
        if (read < 0) cli_exit(1);
        recnum = read + 1;
    }
    cli_exit(print_remaining(fp, name, recnum));
}
