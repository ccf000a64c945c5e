// zelk-script-rows: run AWK code over every record, with the CSV fields as $1, $2, ..., and
// write the $0 it leaves behind. The main thread feeds awk; a second thread copies awk's
// output to standard output as it comes, so that code that drops records, or output that lags
// behind input, never blocks either pipe.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "awk_exchange.h"
#include "cli.h"
#include "libsubproc.h"
#include "libcsv.h"

static char opt_appendfields;          // -a
static const char *opt_appendstr = ""; // -a
static char opt_blankrecsproc;         // -b
static char opt_terminatecrlf;         // -t

static void print_usage(FILE *out) {
    fputs("Program to 'process' entire records of a CSV file, using AWK code/file.\n\n"
          "Usage: zelk-script-rows [OPTIONS] [CSVFILE]\n\n"
          "AWK program code must be supplied via the -e or -f option.\n\n"
          "Options:\n"
          "  -aNEWFIELDS -- append NEWFIELDS list to output header (use when adding fields)\n"
          "  -b          -- blank records processed (removed by default)\n"
          "  -eCODE      -- CODE is the AWK program to execute\n"
          "  -fCODE_FILE -- CODE_FILE is a file containing the AWK program to execute\n"
          "  -h          -- process header record (passed through by default)\n"
          "  -lLIB_FILE  -- load AWK library/functions file LIB_FILE\n"
          "  -o          -- omit header record (not processed, not passed through)\n"
          "  -Q          -- give the code the header's field names: zelk_col(NAME) is the\n"
          "                 number of the field NAME names, so $zelk_col(\"amount\") is its\n"
          "                 value (an unknown NAME ends the run)\n"
          "  -t          -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u          -- give the code each field's value (a quoted field without its\n"
          "                 quotes, doubled quotes single) and quote the fields it sets where\n"
          "                 they need it; a field left as it was is written as read\n\n"
          "The AWK code will receive each successive CSVFILE record as an input \"record\" "
          "($0).\n"
          "I.e., each CSVFILE record will be available as $0, with its fields as $1, $2, etc.\n"
          "Modify a record's field by having the code do an assignment to the field: "
          "$2=newvalue.\n"
          "Output records will be the values of $0 produced for each CSVFILE record.\n"
          "AWK code is not to do any output (do not call print or printf).\n"
          "AWK code must be valid AWK \"program,\" i.e., one or more rules: "
          "[pattern]{actions}.\n",
          out);
}

static const cli_pair pairs[] = {{'a', 'o'}, {'a', 'h'}, {0, 0}};
static const cli_program program = {"zelk-script-rows", "a:be:f:hl:oQtu", "hoQ", pairs,
                                    print_usage};

// The number of the next record written by the output thread (the header, when written, is
// record 1). Set before the thread starts.
static int out_recnum = 1;

// The output thread: copies awk's output to standard output, 0x19 becoming a comma and 0x18
// the output terminator, until awk closes its output. Only whole records are written: the
// start of a record still coming waits at the front of the buffer, so that a record that
// would pass the readers' limits is refused before any of it is written.
static void *read_awk_output_and_reformat_records(void *arg) {
    int fd = *(int *)arg;
    static char buf[MAX_RECORD_LENGTH];
    // The unfinished record, then room for every byte read to become CR LF.
    static char out[MAX_RECORD_LENGTH + 2 * sizeof buf];
    size_t held = 0;     // bytes of the unfinished record at the front of out
    int nfields = 1;     // its fields so far
    bool quoted = false; // within a quoted field of it
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 && held == 0) return nullptr;
        bool ok = n >= 0;
        if (n == 0) {
            // Output that awk did not end with a record terminator is written as it came.
            ok = write_fd_all(STDOUT_FILENO, out, held);
            if (!ok) exit_if_output_broken(errno);
            held = 0;
        } else if (ok) {
            char *o = out + held;
            char *done = out; // the end of the last whole record
            for (ssize_t i = 0; i < n; i++) {
                char c = buf[i];
                if (c == AWK_RECORD_END) {
                    if (opt_terminatecrlf) *o++ = '\r';
                    *o++ = '\n';
                    done = o;
                    out_recnum++;
                    nfields = 1;
                    quoted = false;
                    continue;
                }
                if (o - done == MAX_RECORD_LENGTH - 1) {
                    write_fd_all(STDOUT_FILENO, out, (size_t)(done - out));
                    out_rec_length_exceeded(out_recnum);
                }
                if (c == '"') quoted = !quoted;
                if (c == AWK_FIELD_SEP || (c == ',' && !quoted)) {
                    if (++nfields > MAX_FIELDS) {
                        write_fd_all(STDOUT_FILENO, out, (size_t)(done - out));
                        out_rec_fields_exceeded(out_recnum);
                    }
                    c = ',';
                }
                *o++ = c;
            }
            ok = write_fd_all(STDOUT_FILENO, out, (size_t)(done - out));
            if (!ok) exit_if_output_broken(errno);
            held = (size_t)(o - done);
            memmove(out, done, held);
        }
        if (!ok) {
            fatalf(errno, "ERROR: failed reformatting records with terminator");
        }
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    static const char *const assignments[] = {AWK_SET_RS, AWK_SET_FS, AWK_SET_ORS, "-vOFS=,",
                                              nullptr};
    awk_argv_begin(2 * argc + 8, "ERROR: failed allocating memory",
                   "ERROR: max size of AWK argv exceeded (%d vs %d)", assignments);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a':
            opt_appendfields = 1;
            opt_appendstr = optarg;
            break;
        case 'b': opt_blankrecsproc = 1; break;
        case 'e':
        case 'f':
        case 'l': awk_code_option(c, optarg); break;
        case 't': opt_terminatecrlf = 1; break;
        case 'u': awk_give_values(); break;
        }
    }
    awk_require_code();
    int nops = argc - optind;
    if (nops > 1) cli_usage_exit();
    const char *name;
    FILE *fp = open_input_or_exit(nops == 1 ? argv[optind] : nullptr, &name);
    const char *terminator = opt_terminatecrlf ? "\r\n" : "\n";

    const char *header = nullptr; // with -Q, read before awk starts
    size_t headerlen = 0;
    int numfields;
    char error_flag = 0;
    if (opt_queryfieldname) {
        fp = awk_start_with_names(AWK_STREAM, nullptr, fp, name, &header);
        headerlen = (size_t)csv_record_parse_length();
    } else {
        fp = awk_start(AWK_STREAM, nullptr, fp);
    }
    if (!opt_headerproc && !opt_headeromit) out_recnum = 2;
    // awk's end and a termination signal are handled in this thread, not the copying one (see
    // libsubproc.h: there the handlers could deadlock its teardown).
    pthread_t thread;
    int rc = create_signal_free_thread(&thread, read_awk_output_and_reformat_records, &awk_from_fd);
    if (rc != 0) {
        fatalf(rc, "ERROR: failed to create thread");
    }

    int recnum = 0;
    if (!opt_headerproc) {
        if (!opt_queryfieldname) {
            header = csv_record_read(fp, name, 1, 1, &numfields, &error_flag);
            headerlen = (size_t)csv_record_read_length();
        }
        if (!header) {
            if (!error_flag) error_empty_input(name);
            fatal_exit();
        }
        if (!opt_headeromit) {
            // Written and flushed before any record goes to awk, so before the thread writes.
            out_bytes(header, headerlen);
            if (opt_appendfields) {
                out_char(',');
                out_str(opt_appendstr);
            }
            out_str(terminator);
            fflush(stdout);
            errcheck_stdout_exit();
        }
        recnum = 1;
    }

    for (;;) {
        char **fields;
        char *text =
            csv_record_read_and_parse(fp, name, ++recnum, 1, &numfields, &fields, &error_flag);
        if (!text) break;
        if (numfields == 0 && !opt_blankrecsproc) continue;
        size_t len = (size_t)csv_record_parse_length();
        if (!awk_send_record(text, len, fields, numfields, recnum)) {
            // The code ended awk with exit before its input ended: the rest is not wanted,
            // and awk's exit status decides, however far the input had got by then.
            if (errno == EPIPE) {
                error_flag = 0;
                break;
            }
            fatalf(errno, "ERROR: failed writing record to AWK");
        }
    }
    if (error_flag) fatal_exit();
    if (!awk_close_input() && errno != EPIPE) {
        fatalf(errno, "ERROR: failed writing record to AWK");
    }
    pthread_join(thread, nullptr);
    cli_exit(collect_children() ? 0 : 1);
}
