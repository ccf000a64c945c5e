#include "dsv_convert.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"

char dsv_delimiter_arg(const char *arg) {
    size_t n = strlen(arg);
    if (arg[0] != '\\') {
        if (n != 1) fatalf(0, "ERROR: DSV_DELIMITER_CHAR must be a single char");
        return arg[0];
    }
    if (n < 2) fatalf(0, "ERROR: DSV_DELIMITER_CHAR must be a single char");
    // Numeric escapes: \xH or \xHH (hexadecimal), \N to \NNN (octal, up to \377).
    bool hex = arg[1] == 'x';
    if (hex || (arg[1] >= '0' && arg[1] <= '7')) {
        const char *digits = arg + (hex ? 2 : 1);
        size_t nd = strspn(digits, hex ? "0123456789abcdefABCDEF" : "01234567");
        if (nd == 0) fatalf(0, "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence");
        if (digits[nd] != '\0' || nd > (hex ? 2u : 3u))
            fatalf(0, "ERROR: DSV_DELIMITER_CHAR must be a single char");
        long v = strtol(digits, nullptr, hex ? 16 : 8);
        if (v > 0377) fatalf(0, "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence");
        return (char)v;
    }
    if (n != 2) fatalf(0, "ERROR: DSV_DELIMITER_CHAR must be a single char");
    switch (arg[1]) {
    case '\\': return '\\';
    case 'a': return '\a';
    case 'b': return '\b';
    case 'e': return 27;
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    }
    fatalf(0, "ERROR: DSV_DELIMITER_CHAR is invalid C-style escape-sequence");
}

namespace {

// An unquoted field that holds the separator or a double quote is quoted; others are
// written as they are.
const char *unwrapped(field_rewrite &rw, const char *field, int len, int *outlen, bool embeds) {
    if (!field_has(field, len, rw.sep) && !field_has(field, len, '"')) {
        *outlen = len;
        return field;
    }
    field_buffer fb{rw.buf, 0, rw.cap};
    fb.put_quoted(field, len, embeds);
    return fb.finish(outlen);
}

// The field procedure of the options: -u drops a quoted field's quotes where nothing between
// them needs them in the output, -r shows line breaks; without either a quoted field is
// written as it is.
template <bool Unquote, bool Embeds>
const char *field_proc(field_rewrite &rw, const char *field, int len, int *outlen) {
    if (!field_is_wrapped(field, len)) return unwrapped(rw, field, len, outlen, Embeds);
    return Unquote ? rw.clean<Embeds>(field, len, outlen) : rw.whole<Embeds>(field, len, outlen);
}

} // namespace

dsv_field_proc dsv_choose_field_proc(bool unquote, bool replace_embeds) {
    if (unquote) return replace_embeds ? field_proc<true, true> : field_proc<true, false>;
    return replace_embeds ? field_proc<false, true> : field_proc<false, false>;
}

bool dsv_convert_stream(FILE *fp, const char *name, dsv_input_kind kind, char in_sep,
                        char out_sep, dsv_field_proc proc) {
    static char fieldbuf[MAX_FIELD_LENGTH];
    field_rewrite rw{.buf = fieldbuf, .sep = out_sep};
    int header_fields = 0;
    int recnum = 0;
    char err;
    for (;;) {
        size_t textlen;
        int numfields;
        char **fieldv;
        const char *text =
            kind == DSV_INPUT_DSV
                ? read_dsv_field_record(in_sep, fp, name, &recnum, &numfields, &fieldv, &textlen,
                                        &err)
                : read_field_record(fp, name, &recnum, &numfields, &fieldv, &textlen, &err);
        if (!text) return err == 0;
        // Copies the reader cannot reach, so that the field loop keeps them in registers.
        const int nf = numfields;
        char **const fields = fieldv;
        if (recnum == 1) header_fields = nf;
        const char *end = text + textlen;
        // Without -u and -r, every field is written as it stands when the output separator
        // is the input's or stands nowhere in the record: a quoted field keeps its quotes, and
        // an unquoted one holds no double quote (the reader refuses it) and no separator to
        // protect.
        bool as_read = proc == field_proc<false, false> &&
                       (out_sep == in_sep || !field_has(text, (int)textlen, out_sep));
        // Delimited output is not CSV: there one empty field stays an empty line.
        out_rec_begin(recnum, kind == DSV_INPUT_DSV);
        for (int i = 0; i < nf; i++) {
            const char *field = fields[i];
            int len = csv_parsed_field_length(fields, nf, i + 1, end);
            csv_where_field(i + 1);
            if (i > 0) out_rec_separator(&out_sep, 1);
            if (as_read) {
                out_rec_bytes(field, (size_t)len);
                continue;
            }
            // A byte order mark before a quoted first field stays in front of it.
            if (i == 0) {
                int bom = csv_field_bom_len(field, (size_t)len);
                out_rec_bytes(field, (size_t)bom);
                field += bom;
                len -= bom;
            }
            int outlen;
            const char *out = proc(rw, field, len, &outlen);
            out_rec_bytes(out, (size_t)outlen);
        }
        out_rec_end();
        if (nf < header_fields)
            errorf(0, "Warning: record #%d has less fields than header (%d vs %d)", recnum, nf,
                   header_fields);
        else if (nf > header_fields)
            errorf(0, "Warning: record #%d has more fields than header (%d vs %d)", recnum, nf,
                   header_fields);
        errcheck_stdout_exit();
    }
}

static char opt_replacelfcrs;  // -r
static char opt_unquotefields; // -u

void dsv_converter_main(int argc, char **argv, dsv_input_kind kind) {
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        if (c == 'r') opt_replacelfcrs = 1;
        if (c == 'u') opt_unquotefields = 1;
    }
    int nops = argc - optind;
    if (nops < 1 || nops > 2) cli_usage_exit();
    char delim = dsv_delimiter_arg(argv[optind]);
    // A delimiter that ends records, or (on output) quotes fields, would not come back as the
    // same fields.
    if (kind == DSV_INPUT_DSV && (delim == '\n' || delim == '\r'))
        fatalf(0, "ERROR: DSV_DELIMITER_CHAR cannot be a line feed or a carriage return (they end "
                  "records)");
    if (kind == DSV_INPUT_CSV && (delim == '\n' || delim == '\r' || delim == '"'))
        fatalf(0, "ERROR: DSV_DELIMITER_CHAR cannot be a line feed, a carriage return or a double "
                  "quote (the output could not be read back)");
    dsv_field_proc proc = dsv_choose_field_proc(opt_unquotefields, opt_replacelfcrs);

    FILE *fp = stdin;
    const char *name = STDIN_NAME;
    if (nops == 2 && is_stdin_operand(argv[optind + 1])) {
        // standard input
    } else if (nops == 2 && kind == DSV_INPUT_CSV) {
        fp = open_input_or_exit(argv[optind + 1], &name);
    } else if (nops == 2) {
        name = argv[optind + 1];
        fp = fopen(name, "r");
        if (!fp) fatalf(errno, "ERROR: failed opening DSVFILE '%s'", name);
        input_buffer_lend(fp);
    }
    bool ok = kind == DSV_INPUT_DSV ? dsv_convert_stream(fp, name, kind, delim, ',', proc)
                                    : dsv_convert_stream(fp, name, kind, ',', delim, proc);
    cli_exit(ok ? 0 : 1);
}
