#include "dsv_convert.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "field_buffer.h"
#include "field_loop.h"
#include "libcsv.h"
#include "parallel.h"

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

// The reader of delimited text without quoting: a record is the bytes up to LF or CR LF, cut
// at every separator; the limits, the blank record and a last record without its terminator
// are as the CSV readers have them. A CR that is not before LF ends no record and stands in no
// field, so it is refused, as elsewhere. Returns the record text (the separators kept) with
// the starts of its fields in *fields, as the parse readers do; null at the end of the input,
// or on an error, reported, with *error set.
char unquoted_buf[MAX_RECORD_LENGTH];
char *unquoted_fields[MAX_FIELDS];

[[gnu::always_inline]] inline const char *read_unquoted_record(char sep, FILE *fp, const char *name,
                                                               int recnum, int *numfields,
                                                               char ***fields, size_t *textlen,
                                                               char *error) {
    *error = 0;
    csv_where_record(recnum);
    const int sepc = (unsigned char)sep;
    int pos = 0, nf = 1;
    unquoted_fields[0] = unquoted_buf;
    // Bytes are taken from the stream's buffer (glibc's read pointers) without a call each;
    // csv_getc refills it, writing out what the output holds first when the read would wait.
    const char *p = fp->_IO_read_ptr, *e = fp->_IO_read_end;
    auto next = [&]() -> int {
        if (p < e) return (unsigned char)*p++;
        fp->_IO_read_ptr = const_cast<char *>(p);
        int b = csv_getc(fp);
        p = fp->_IO_read_ptr;
        e = fp->_IO_read_end;
        return b;
    };
    // A whole line in the buffer, within the limits and with no CR but before its LF, is taken
    // with a search for its end and one for each separator; anything else, byte by byte.
    if (const char *nl = (const char *)memchr(p, '\n', (size_t)(e - p))) {
        size_t len = (size_t)(nl - p);
        if (len > 0 && nl[-1] == '\r') len--;
        if (len < MAX_RECORD_LENGTH && !memchr(p, '\r', len)) {
            memcpy(unquoted_buf, p, len);
            const char *end = unquoted_buf + len;
            for (char *f = unquoted_buf; nf < MAX_FIELDS + 1;) {
                f = (char *)memchr(f, sep, (size_t)(end - f));
                if (!f) break;
                if (nf < MAX_FIELDS) unquoted_fields[nf] = f + 1;
                nf++;
                f++;
            }
            if (nf <= MAX_FIELDS) {
                fp->_IO_read_ptr = const_cast<char *>(nl + 1);
                unquoted_buf[len] = '\0';
                *numfields = len == 0 ? 0 : nf;
                *fields = unquoted_fields;
                *textlen = len;
                return unquoted_buf;
            }
            nf = 1;
        }
    }
    int c = next();
    if (c == EOF && !ferror(fp)) return nullptr;
    for (;; c = next()) {
        if (c == '\r') {
            c = next();
            if (c != '\n' && c != EOF) {
                errorf(0, "ERROR: record #%d: carriage return not followed by line feed", recnum);
                goto failed;
            }
        }
        if (c == '\n') {
            if (pos == 0) nf = 0; // blank
            break;
        }
        if (c == EOF) {
            if (ferror(fp)) goto failed;
            errorf(0, "Warning: final record not terminated: file '%s'", name);
            break;
        }
        if (pos == MAX_RECORD_LENGTH - 1) {
            errorf(0, "ERROR: record #%d: record length exceeded MAX_RECORD_LENGTH (%d)", recnum,
                   MAX_RECORD_LENGTH);
            goto failed;
        }
        unquoted_buf[pos++] = (char)c;
        if (c == sepc) {
            if (nf == MAX_FIELDS) {
                errorf(0, "ERROR: record #%d: number of fields exceeded MAX_FIELDS (%d)", recnum,
                       MAX_FIELDS);
                goto failed;
            }
            unquoted_fields[nf++] = unquoted_buf + pos;
        }
    }
    fp->_IO_read_ptr = const_cast<char *>(p);
    unquoted_buf[pos] = '\0';
    *numfields = nf;
    *fields = unquoted_fields;
    *textlen = (size_t)pos;
    return unquoted_buf;
failed:
    fp->_IO_read_ptr = const_cast<char *>(p);
    if (ferror(fp))
        errorf(errno, "Error: failed reading record #%d from file '%s'", recnum, name);
    else
        errorf(0, "file:  '%s'", name);
    *error = 1;
    return nullptr;
}

// read_field_record for unquoted input: blank records are passed through (-b) and skipped.
// Inlined, with the reader, into both loops.
[[gnu::always_inline]] inline const char *read_unquoted_field_record(char sep, FILE *fp,
                                                                     const char *name, int *recnum,
                                                                     int *numfields, char ***fields,
                                                                     size_t *textlen, char *error) {
    for (;;) {
        const char *text =
            read_unquoted_record(sep, fp, name, ++*recnum, numfields, fields, textlen, error);
        if (!text || *numfields > 0) return text;
        blank_record_pass();
    }
}

// A field of unquoted input as CSV: its bytes, quoted (each double quote doubled) where CSV
// needs quotes. A byte order mark that begins the input stays in front of the quotes, where
// the readers take it with the field.
void put_unquoted_field(const char *field, int len, bool input_start) {
    if (quotes_removable(field, len, ',', false)) {
        out_rec_bytes(field, (size_t)len);
        return;
    }
    if (input_start && len >= CSV_UTF8_BOM_LEN &&
        memcmp(field, CSV_UTF8_BOM, CSV_UTF8_BOM_LEN) == 0) {
        out_rec_bytes(field, CSV_UTF8_BOM_LEN);
        field += CSV_UTF8_BOM_LEN;
        len -= CSV_UTF8_BOM_LEN;
    }
    out_rec_char('"');
    const char *end = field + len;
    // Runs up to and including a quote, then its double.
    for (const char *q; (q = (const char *)memchr(field, '"', (size_t)(end - field)));) {
        out_rec_bytes(field, (size_t)(q + 1 - field));
        out_rec_char('"');
        field = q + 1;
    }
    out_rec_bytes(field, (size_t)(end - field));
    out_rec_char('"');
}

} // namespace

dsv_field_proc dsv_choose_field_proc(bool unquote, bool replace_embeds) {
    if (unquote) return replace_embeds ? field_proc<true, true> : field_proc<true, false>;
    return replace_embeds ? field_proc<false, true> : field_proc<false, false>;
}

namespace {

// What the loops convert with, set once before the first record.
struct convert_setup {
    char in_sep, out_sep;
    dsv_field_proc proc;
    int header_fields; // record 1's, when it is the first record read
    bool ended;        // the first record's read met the end of the input
};
convert_setup setup;

// The loop for one reader, chosen once rather than for every record, over the records after
// the first (the contract of run_record_loop), or with First the first record alone.
template <dsv_input_kind Kind, bool First>
[[gnu::noinline]] bool convert_records(FILE *fp, const char *name, int *last, void *) {
    static char fieldbuf[MAX_FIELD_LENGTH];
    // One of the separators is the comma, known when the loop is compiled.
    const char in_sep = Kind == DSV_INPUT_CSV ? ',' : setup.in_sep;
    const char out_sep = Kind == DSV_INPUT_CSV ? setup.out_sep : ',';
    const dsv_field_proc proc = setup.proc;
    field_rewrite rw{.buf = fieldbuf, .sep = out_sep};
    int header_fields = setup.header_fields;
    int recnum = *last;
    char err;
    for (;;) {
        size_t textlen;
        int numfields;
        char **fieldv;
        const char *text;
        if constexpr (Kind == DSV_INPUT_DSV)
            text = read_dsv_field_record(in_sep, fp, name, &recnum, &numfields, &fieldv, &textlen,
                                         &err);
        else if constexpr (Kind == DSV_INPUT_UNQUOTED)
            text = read_unquoted_field_record(in_sep, fp, name, &recnum, &numfields, &fieldv,
                                              &textlen, &err);
        else
            text = read_field_record(fp, name, &recnum, &numfields, &fieldv, &textlen, &err);
        if (!text) {
            *last = recnum - 1; // (the read that found the end counted one)
            setup.ended = First;
            return err == 0;
        }
        // Copies the reader cannot reach, so that the field loop keeps them in registers.
        const int nf = numfields;
        char **const fields = fieldv;
        if (First && recnum == 1) setup.header_fields = header_fields = nf;
        const char *end = text + textlen;
        // Without -u and -r, every field is written as it stands when the output separator
        // is the input's or stands nowhere in the record: a quoted field keeps its quotes, and
        // an unquoted one holds no double quote (the reader refuses it) and no separator to
        // protect.
        // Unquoted input has the same fast case: no field holds a double quote or a comma.
        bool as_read;
        if constexpr (Kind == DSV_INPUT_UNQUOTED)
            as_read = (in_sep == ',' || !field_has(text, (int)textlen, ',')) &&
                      !field_has(text, (int)textlen, '"');
        else
            as_read = proc == field_proc<false, false> &&
                      (out_sep == in_sep || !field_has(text, (int)textlen, out_sep));
        // Delimited output is not CSV: there one empty field stays an empty line.
        out_rec_begin(recnum, Kind != DSV_INPUT_CSV);
        for (int i = 0; i < nf; i++) {
            const char *field = fields[i];
            int len = csv_parsed_field_length(fields, nf, i + 1, end);
            csv_where_field(i + 1);
            if (i > 0) out_rec_separator(&out_sep, 1);
            if (as_read) {
                out_rec_bytes(field, (size_t)len);
                continue;
            }
            if constexpr (Kind == DSV_INPUT_UNQUOTED) {
                put_unquoted_field(field, len, recnum == 1 && i == 0);
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
        if (First) {
            *last = recnum;
            return true;
        }
    }
}

// The first record, then the rest on as many cores as run_record_loop finds.
template <dsv_input_kind Kind> bool convert_stream(FILE *fp, const char *name) {
    int recnum = 0;
    if (!convert_records<Kind, true>(fp, name, &recnum, nullptr)) return false;
    if (setup.ended) return true;
    record_loop loop{convert_records<Kind, false>};
    // Without quoting, every line feed ends a record.
    loop.quoted = Kind != DSV_INPUT_UNQUOTED;
    return run_record_loop(fp, name, &recnum, loop);
}

} // namespace

bool dsv_convert_stream(FILE *fp, const char *name, dsv_input_kind kind, char in_sep, char out_sep,
                        dsv_field_proc proc) {
    setup = {in_sep, out_sep, proc, 0, false};
    switch (kind) {
    case DSV_INPUT_CSV: return convert_stream<DSV_INPUT_CSV>(fp, name);
    case DSV_INPUT_DSV: return convert_stream<DSV_INPUT_DSV>(fp, name);
    case DSV_INPUT_UNQUOTED: return convert_stream<DSV_INPUT_UNQUOTED>(fp, name);
    }
    return false;
}

static char opt_replacelfcrs;  // -r
static char opt_unquotefields; // -u
static char opt_noquoting;     // -q

void dsv_converter_main(int argc, char **argv, dsv_input_kind kind) {
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        if (c == 'r') opt_replacelfcrs = 1;
        if (c == 'u') opt_unquotefields = 1;
        if (c == 'q') opt_noquoting = 1;
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
    if (opt_noquoting) kind = DSV_INPUT_UNQUOTED;

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
    bool ok = kind == DSV_INPUT_CSV ? dsv_convert_stream(fp, name, kind, ',', delim, proc)
                                    : dsv_convert_stream(fp, name, kind, delim, ',', proc);
    cli_exit(ok ? 0 : 1);
}
