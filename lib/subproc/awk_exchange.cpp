#include "awk_exchange.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "field_buffer.h"
#include "libcsv.h"
#include "libsubproc.h"

int awk_to_fd = -1;
int awk_from_fd = -1;

namespace {

constexpr int AWK_PIPE_SIZE = 1 << 20;

// The announcement that awk has parsed its program and is ready for records.
const char READY = AWK_FIELD_SEP;
// The flush request: no value sent can be this record (see the header).
const char FLUSH_REQUEST[] = {AWK_FIELD_SEP, AWK_FLUSH_MARK[0], AWK_RECORD_END};
// In a result frame, 0x18 and 0x1A travel as 0x1A followed by one of these.
const char ESCAPE = AWK_BYTE(AWK_ESC_OCT);
const char ESCAPED_END = AWK_BYTE(AWK_ESC_RS_OCT);
const char ESCAPED_ESCAPE = AWK_BYTE(AWK_ESC_ESC_OCT);
const char RECORD_END = AWK_RECORD_END; // the byte ESCAPED_END stands for
// AWK_ONE_VERDICT: the frames of a value equal to 1 (the result "1") and of one equal to 0.
const char TRUE_FRAME = AWK_BYTE(AWK_TRUE_OCT);
const char ZERO_FRAME = AWK_BYTE(AWK_ZERO_OCT);

awk_mode mode;

// Dies with one of the messages the program handed over. They are its own words, not data: a
// line feed that ends one (zelk-script-column's end-of-file message has one, for the blank
// line after it) is written as a line feed.
[[noreturn]] void fail_with(int errnum, const char *msg) {
    size_t n = strlen(msg);
    int own_lf = n > 0 && msg[n - 1] == '\n';
    fatalf(errnum, own_lf ? "%.*s\n" : "%.*s", (int)n - own_lf, msg);
}

// awk did not announce itself: it could not parse its program or read a -f file (and said
// so), or /usr/bin/awk is not an awk we can drive. SIGCHLD is still blocked here, so the
// verdict comes from collect_children and not from a race with the handler.
[[noreturn]] void awk_failed_to_start(void) {
    close(awk_to_fd);
    if (!awk_accepts_option_e(AWK_COMMAND)) {
        fatalf(0,
               "ERROR: %s is not an awk that accepts -e; install GNU awk (Debian package gawk) "
               "as %s",
               AWK_COMMAND, AWK_COMMAND);
    }
    if (!collect_children()) exit(1);
    fatalf(0, "ERROR: AWK ended before reading any record");
}

// ---- Sending --------------------------------------------------------------------------------

// Bytes for awk, written in large pieces. Room for a batch and one whole record more.
constexpr size_t SEND_CHUNK = 1 << 16;
constexpr size_t SEND_CAP = 2 * SEND_CHUNK + MAX_RECORD_LENGTH + sizeof FLUSH_REQUEST;
char sbuf[SEND_CAP];
size_t spos, slen; // bytes [spos, slen) are still to be written
bool stream_buffered; // AWK_STREAM: sends are buffered (not each record at once)
bool stream_unflushed; // AWK_STREAM: records sent since the last flush request
bool awk_gone;        // a write found awk's input closed (EPIPE): nothing more is sent
size_t next_kick = SEND_CHUNK; // unsent bytes at which value_sent next tries to write

const char *write_msg = "ERROR: failed writing record to AWK";
const char *eof_msg = "ERROR: invalid processed field from AWK";
awk_result_fn handler;

// Appends the record text with its terminator to the send buffer (which has room), turning
// the comma before each field from the second on into 0x19.
void put_record(const char *text, size_t len, char *const *fields, int numfields) {
    char *d = sbuf + slen;
    memcpy(d, text, len);
    d[len] = AWK_RECORD_END;
    for (int i = 1; i < numfields; i++)
        d[fields[i] - 1 - text] = AWK_FIELD_SEP;
    slen += len + 1;
}

// put_record, but with each field's value in place of its text (awk_field_value). A value is
// never longer than its field, so the room is the same.
void put_values(const char *text, size_t len, char *const *fields, int numfields) {
    char *d = sbuf + slen;
    for (int i = 0; i < numfields; i++) {
        if (i > 0) *d++ = AWK_FIELD_SEP;
        const char *f = fields[i];
        size_t n = (size_t)csv_parsed_field_length(fields, numfields, i + 1, text + len);
        int vlen;
        const char *v = awk_field_value(f, n, d, &vlen);
        if (v != d) memcpy(d, v, (size_t)vlen);
        d += vlen;
    }
    *d++ = AWK_RECORD_END;
    slen = (size_t)(d - sbuf);
}

// Blocking write of the whole send buffer (AWK_STREAM); false with errno on failure.
bool stream_push(void) {
    bool ok = write_fd_all(awk_to_fd, sbuf + spos, slen - spos);
    spos = slen = 0;
    return ok;
}

// ---- The queue of records waiting for their results (AWK_ONE_RESULT) ------------------------

constexpr size_t QUEUE_BYTES = 1 << 20;
constexpr int QUEUE_ENTRIES = 1 << 14;
// A flush request after this many bytes or values, so that results flow back while more
// values are sent.
constexpr size_t BATCH_BYTES = QUEUE_BYTES / 4;
constexpr int BATCH_ENTRIES = QUEUE_ENTRIES / 4;

struct entry {
    int recnum;
    bool blank; // no value sent
    size_t off; // text in qbuf
    size_t len;
    size_t cut_at;
    size_t cut_len;
    int numfields;
    long seq; // values sent before and with this one
};
char qbuf[QUEUE_BYTES];
entry qent[QUEUE_ENTRIES];
int qhead, qcount; // entries [qhead, qhead + qcount) modulo QUEUE_ENTRIES
size_t qwrite;     // where the next text goes in qbuf

long values_sent;     // values (not flush requests) sent so far
long flushed_through; // values_sent when the last flush request was sent
size_t batch_bytes;   // bytes sent since the last flush request
int last_recnum;      // the last record queued

bool qwrapped; // the texts run from the head's to the end of qbuf, then from its start

// The space for len more bytes of text, or null while the queue is full.
char *queue_room(size_t len) {
    if (qcount == QUEUE_ENTRIES) return nullptr;
    if (qcount == 0) {
        qwrite = 0;
        qwrapped = false;
    }
    size_t rpos = qcount ? qent[qhead].off : 0;
    if (qwrapped) return qwrite + len <= rpos ? qbuf + qwrite : nullptr;
    if (QUEUE_BYTES - qwrite >= len) return qbuf + qwrite;
    if (len > rpos) return nullptr;
    qwrite = 0;
    qwrapped = true;
    return qbuf;
}

// Takes the head off the queue.
void queue_pop(void) {
    size_t old = qent[qhead].off;
    qhead = (qhead + 1) % QUEUE_ENTRIES;
    qcount--;
    if (qcount > 0 && qent[qhead].off < old) qwrapped = false;
}

// ---- Receiving ------------------------------------------------------------------------------

// One result being received: at most AWK_RESULT_MAX - 1 bytes and a NUL.
char awkoutput[AWK_RESULT_MAX];
size_t rlen;
enum {
    FRAME_START,
    FRAME_STATUS,
    FRAME_VALUE,
    FRAME_ESCAPE,
    FRAME_NONE,
    FRAME_END
} rstate = FRAME_START;
bool from_eof;
bool discarding; // after awk_abandon: awk's output is dropped

// The record a stray byte or a missing result belongs to: the one whose result is due.
int due_recnum(void) {
    if (qcount > 0) return qent[qhead].recnum;
    return last_recnum > 0 ? last_recnum : 1;
}

// awk closed its output while a result was due. SIGCHLD stays blocked (see the header), so
// its exit status is collected here and not raced by the handler: awk that failed (a fatal
// error in the code) has described it, and the run ends with status 1 and nothing more; awk
// that succeeded was stopped answering by the code itself (exit, or a close of its output).
[[noreturn]] void results_ended(void) {
    if (awk_to_fd >= 0) { // an awk that only closed its output must see its input end
        close(awk_to_fd);
        awk_to_fd = -1;
    }
    if (!collect_children()) fatal_exit();
    fail_with(0, eof_msg);
}

[[noreturn]] void printed_by_code(void) {
    fatalf(0,
          "ERROR: AWK code printed to standard output at record #%d (the code must leave its "
          "result in the value, not print it)",
          due_recnum());
}

void pop_blanks(void) {
    while (qcount > 0 && qent[qhead].blank) {
        awk_record rec = {qent[qhead].recnum, "", 0, 0, 0, 0};
        queue_pop();
        handler(rec, nullptr, 0);
    }
}

void deliver(void) {
    if (qcount == 0) fail_with(0, eof_msg); // a result that no value asked for
    const entry &e = qent[qhead];
    awk_record rec = {e.recnum, qbuf + e.off, e.len, e.cut_at, e.cut_len, e.numfields};
    awkoutput[rlen] = '\0';
    queue_pop();
    handler(rec, awkoutput, (int)rlen);
    pop_blanks();
}

void take_value_bytes(const char *p, size_t n) {
    if (rlen + n > AWK_RESULT_MAX - 1) fatalf(0, "ERROR: processed field from AWK exceeds max field size");
    memcpy(awkoutput + rlen, p, n);
    rlen += n;
}

// Parses n bytes of awk's output, handing over every result completed.
void parse(const char *p, size_t n) {
    const char *end = p + n;
    while (p < end) {
        switch (rstate) {
        case FRAME_START: {
            // A short result without escapes, whole in what was read, as most are: taken in
            // one step, as the steps below would take it.
            const char *v = nullptr;
            if (mode == AWK_ONE_VERDICT && *p == TRUE_FRAME) {
                if (end - p >= 2 && p[1] == AWK_RECORD_END) {
                    awkoutput[0] = '1';
                    rlen = 1;
                    p += 2;
                    deliver();
                    break;
                }
            } else if (mode == AWK_ONE_VERDICT && *p == ZERO_FRAME) {
                v = p + 1;
            } else if (end - p >= 3 && p[0] == AWK_FIELD_SEP && p[1] == AWK_RESULT_MARK[0]) {
                v = p + 2;
            }
            if (v) {
                const char *stop = end - v > 16 ? v + 16 : end, *q = v;
                while (q < stop && *q != AWK_RECORD_END && *q != ESCAPE)
                    q++;
                if (q < stop && *q == AWK_RECORD_END) {
                    rlen = (size_t)(q - v);
                    memcpy(awkoutput, v, rlen);
                    p = q + 1;
                    deliver();
                    break;
                }
            }
            if (mode == AWK_ONE_VERDICT && (*p == TRUE_FRAME || *p == ZERO_FRAME)) {
                awkoutput[0] = '1';
                rlen = *p++ == TRUE_FRAME;
                rstate = rlen ? FRAME_END : FRAME_VALUE;
                break;
            }
            if (*p++ != AWK_FIELD_SEP) printed_by_code();
            rstate = FRAME_STATUS;
            break;
        }
        case FRAME_END:
            if (*p++ != AWK_RECORD_END) printed_by_code();
            rstate = FRAME_START;
            deliver();
            break;
        case FRAME_STATUS:
            if (*p == AWK_RESULT_MARK[0]) {
                rstate = FRAME_VALUE;
                rlen = 0;
            } else if (*p == AWK_NO_RESULT_MARK[0]) {
                rstate = FRAME_NONE;
            } else {
                printed_by_code();
            }
            p++;
            break;
        case FRAME_NONE:
            if (*p != AWK_RECORD_END) printed_by_code();
            fatalf(0,
                  "ERROR: AWK gave no result for record #%d: the code must not skip the final "
                  "print (no next, no getline)",
                  due_recnum());
        case FRAME_ESCAPE:
            if (*p != ESCAPED_END && *p != ESCAPED_ESCAPE) printed_by_code();
            take_value_bytes(*p == ESCAPED_END ? &RECORD_END : &ESCAPE, 1);
            p++;
            rstate = FRAME_VALUE;
            break;
        case FRAME_VALUE: {
            const char *stop = (const char *)memchr(p, AWK_RECORD_END, (size_t)(end - p));
            const char *q = stop ? stop : end;
            const char *esc = (const char *)memchr(p, ESCAPE, (size_t)(q - p));
            if (esc) {
                take_value_bytes(p, (size_t)(esc - p));
                p = esc + 1;
                rstate = FRAME_ESCAPE;
                break;
            }
            take_value_bytes(p, (size_t)(q - p));
            p = q;
            if (stop) {
                p++;
                rstate = FRAME_START;
                deliver();
            }
            break;
        }
        }
    }
}

// ---- Moving data both ways without blocking either side ------------------------------------

// One write of what is waiting to be sent, if the pipe takes it. True on progress.
bool try_write(void) {
    if (spos == slen) return false;
    ssize_t w = write(awk_to_fd, sbuf + spos, slen - spos);
    if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) return false;
        if (errno != EPIPE) {
            fail_with(errno, write_msg);
        }
        // awk has stopped reading (exit in the code): what it did answer still comes back,
        // then its end of output says which record went without a result.
        awk_gone = true;
        spos = slen = 0;
        return true;
    }
    spos += (size_t)w;
    if (spos == slen) spos = slen = 0;
    return true;
}

// One read of awk's output, if there is some. True on progress.
bool try_read(void) {
    static char rbuf[1 << 16];
    if (from_eof) return false;
    ssize_t r = read(awk_from_fd, rbuf, sizeof rbuf);
    if (r < 0) {
        if (errno == EAGAIN || errno == EINTR) return false;
        fatalf(errno, "ERROR: failed reading new field value from AWK");
    }
    if (r == 0) {
        from_eof = true;
        if (!discarding && (qcount > 0 || rstate != FRAME_START)) results_ended();
        return true;
    }
    if (!discarding) parse(rbuf, (size_t)r);
    return true;
}

// Writes and reads until done() holds, waiting in poll when neither side can move.
template <class Done> void pump(Done done) {
    while (!done()) {
        bool moved = try_write();
        moved = try_read() || moved;
        if (moved) continue;
        if (from_eof) results_ended();
        struct pollfd fds[2] = {{awk_from_fd, POLLIN, 0}, {awk_to_fd, POLLOUT, 0}};
        int n = (spos < slen && awk_to_fd >= 0) ? 2 : 1;
        if (poll(fds, (nfds_t)n, -1) < 0 && errno != EINTR) {
            fatalf(errno, "ERROR: failed reading new field value from AWK");
        }
    }
}

// awk sees the end of its input; its output is read to the end.
void close_input_and_read_to_end(void) {
    close(awk_to_fd);
    awk_to_fd = -1;
    pump([] { return from_eof; });
}

void send_flush_request(void) {
    memcpy(sbuf + slen, FLUSH_REQUEST, sizeof FLUSH_REQUEST);
    slen += sizeof FLUSH_REQUEST;
    flushed_through = values_sent;
    batch_bytes = 0;
}

// Room for n more bytes in the send buffer, writing out what is waiting as far as needed.
void send_room(size_t n) {
    if (SEND_CAP - slen >= n) return;
    pump([n] { return SEND_CAP - (slen - spos) >= n; });
    memmove(sbuf, sbuf + spos, slen - spos);
    slen -= spos;
    spos = 0;
}

// After a value has been put in the send buffer.
inline void value_sent(size_t n) {
    values_sent++;
    batch_bytes += n;
    if (batch_bytes >= BATCH_BYTES || values_sent - flushed_through >= BATCH_ENTRIES)
        send_flush_request();
    // A write, and a look for results, each time another chunk is waiting; a pipe that is
    // full is not tried again for every value.
    if (slen - spos >= next_kick) {
        try_write();
        try_read();
        next_kick = slen - spos + SEND_CHUNK / 4;
        if (next_kick < SEND_CHUNK) next_kick = SEND_CHUNK;
    }
}

// Waits for room in the queue for a text of len bytes, asking awk for its results if the
// record at the head has been sent since the last flush request.
char *wait_queue_room(size_t len) {
    char *room = queue_room(len);
    if (room) return room;
    if (qent[qhead].seq > flushed_through) {
        send_room(sizeof FLUSH_REQUEST);
        send_flush_request();
    }
    pump([len, &room] { return (room = queue_room(len)) != nullptr; });
    return room;
}

entry &queue_push(int recnum, const char *text, size_t len, bool blank) {
    char *room = wait_queue_room(len);
    memcpy(room, text, len);
    int i = (qhead + qcount) % QUEUE_ENTRIES;
    qcount++;
    entry &e = qent[i];
    e = entry{recnum, blank, (size_t)(room - qbuf), len, 0, 0, 0, values_sent + (blank ? 0 : 1)};
    qwrite = e.off + len;
    last_recnum = recnum;
    return e;
}

// Every result due handed over and standard output flushed: the program is about to wait.
// Streaming, awk is asked to flush what it has written.
void hand_over_all(void) {
    if (awk_to_fd < 0) return;
    if (mode == AWK_STREAM) {
        if (!stream_unflushed) return;
        if (SEND_CAP - slen < sizeof FLUSH_REQUEST && !stream_push()) return; // gone: see later
        memcpy(sbuf + slen, FLUSH_REQUEST, sizeof FLUSH_REQUEST);
        slen += sizeof FLUSH_REQUEST;
        stream_unflushed = false;
        if (!stream_push() && errno != EPIPE) {
            fail_with(errno, write_msg);
        }
        return;
    }
    if (values_sent > flushed_through) {
        send_room(sizeof FLUSH_REQUEST);
        send_flush_request();
    }
    pump([] { return qcount == 0 && spos == slen; });
    fflush(stdout);
    errcheck_stdout_exit();
}

// The input stream from a pipe or a terminal: a read that would wait first hands over every
// result due, so that a slow or interactive input gets each answer before more input arrives.
// While it waits, awk's output is watched too: with SIGCHLD blocked, an awk that ends is
// only seen there.
ssize_t watched_read(void *cookie, char *buf, size_t size) {
    int fd = (int)(intptr_t)cookie;
    for (;;) {
        struct pollfd pfd[2] = {{fd, POLLIN, 0}, {awk_from_fd, POLLIN, 0}};
        if (poll(pfd, 1, 0) == 0) {
            hand_over_all();
            nfds_t n = mode != AWK_STREAM && !from_eof ? 2 : 1;
            while (poll(pfd, n, -1) > 0 && !pfd[0].revents) {
                try_read();
                if (from_eof) results_ended();
            }
        }
        ssize_t n = read(fd, buf, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Between awk_prepare_input and awk_launch: what the input decided.
int pending_fd = -1; // the result pipe's write end
bool pending_watch, pending_flush_each;
int pending_to[2], pending_from[2];

// awk_start in two steps: the pipes made and the stream to read from returned, then awk
// started on them.
FILE *awk_prepare_input(awk_mode m, FILE *input) {
    mode = m;
    struct stat st;
    bool regular = fstat(fileno(input), &st) == 0 && S_ISREG(st.st_mode);
    bool watch = mode != AWK_STREAM && !regular; // input read through watched_read
    // One result per value: awk's standard output is the result pipe, so that whatever the
    // code prints lands among the results, in order, and is recognised. Streaming: awk
    // writes to the pipe's write end by its number, so that end is inherited.
    open_command_pipes(pending_to, pending_from, mode != AWK_STREAM);

    pending_fd = pending_from[1];
    pending_flush_each = false;
    if (mode == AWK_STREAM) {
        // From a pipe or a terminal, awk is asked to flush before the program waits for more
        // input; but code that may read input itself could read that request, so it has
        // awk flush every record instead.
        pending_flush_each = !regular && awk_code_may_read_ahead();
        watch = !regular && !pending_flush_each;
        stream_buffered = !pending_flush_each;
    }
    pending_watch = watch;

    // Read in large pieces (glibc ignores a size given without a buffer). Until awk runs, the
    // watched input only reads: there is nothing to hand over and no output to watch.
    static char inbuf[1 << 16];
    if (regular) setvbuf(input, inbuf, _IOFBF, sizeof inbuf);
    if (!watch) return input;
    cookie_io_functions_t io = {watched_read, nullptr, nullptr, nullptr};
    FILE *watched = fopencookie((void *)(intptr_t)fileno(input), "r", io);
    if (!watched) fail_with(errno, awk_alloc_message);
    setvbuf(watched, inbuf, _IOFBF, sizeof inbuf);
    return watched;
}

void awk_launch(const char *expr) {
    bool dup_stdout = mode != AWK_STREAM;
    // Streaming, the texts around the code may change records, and are left to the locale.
    if (mode != AWK_STREAM && awk_code_names_no_characters(expr)) awk_use_byte_characters();
    char *const *argv =
        awk_argv_complete(mode, expr, pending_fd, pending_watch, pending_flush_each);
    start_command_on_pipes(AWK_COMMAND, argv, pending_to, pending_from, dup_stdout, true);
    awk_to_fd = pending_to[1];
    awk_from_fd = pending_from[0];

    char c;
    ssize_t n;
    while ((n = read(awk_from_fd, &c, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1 || c != READY) awk_failed_to_start();
    // One result per value: SIGCHLD stays blocked, and awk's end is seen where its output
    // ends, after every result it gave has been handed over (results_ended). Streaming, the
    // handler ends the run when awk fails.
    if (mode == AWK_STREAM)
        block_sigchld_signals(1);
    else
        csv_set_before_report(awk_drain);

    if (mode != AWK_STREAM) {
        // Neither side may block the other: the program's ends never wait, except in poll.
        fcntl(awk_to_fd, F_SETFL, fcntl(awk_to_fd, F_GETFL) | O_NONBLOCK);
        fcntl(awk_from_fd, F_SETFL, fcntl(awk_from_fd, F_GETFL) | O_NONBLOCK);
        // awk reads and writes a few KiB at a time: a pipe that holds more lets each side go
        // on longer before it must wake the other (a hint: failure changes nothing).
        fcntl(awk_to_fd, F_SETPIPE_SZ, AWK_PIPE_SIZE);
        fcntl(awk_from_fd, F_SETPIPE_SZ, AWK_PIPE_SIZE);
    }
}

} // namespace

FILE *awk_start(awk_mode m, const char *expr, FILE *input) {
    FILE *fp = awk_prepare_input(m, input);
    awk_launch(expr);
    return fp;
}

FILE *awk_start_with_names(awk_mode m, const char *expr, FILE *input, const char *name,
                           const char **header) {
    FILE *fp = awk_prepare_input(m, input);
    int numfields;
    char **fields;
    char error;
    *header = csv_record_read_and_parse(fp, name, 1, 1, &numfields, &fields, &error);
    if (!*header) {
        if (!error) error_empty_input(name);
        fatal_exit();
    }
    // The parsed form leaves the commas in place: the fields end where the text does.
    awk_set_field_names(numfields, fields, *header + csv_record_parse_length());
    awk_launch(expr);
    return fp;
}

void awk_refuse_framing_bytes(const char *p, size_t n, int recnum) {
    // Two searches of the C library's, which look at many bytes a step, cost less than one
    // pass of our own that looks at each.
    if (!memchr(p, AWK_RECORD_END, n) && !memchr(p, AWK_FIELD_SEP, n)) return;
    for (size_t i = 0; i < n; i++) {
        if (p[i] == AWK_RECORD_END || p[i] == AWK_FIELD_SEP) {
            awk_drain();
            fatalf(0,
                  "ERROR: record #%d holds the byte 0x%02X, which cannot be passed to AWK "
                  "(it delimits records and fields there)",
                  recnum, (unsigned)(unsigned char)p[i]);
        }
    }
}

void awk_refuse_long_field(size_t n) {
    if (n < MAX_FIELD_LENGTH) return;
    awk_drain();
    field_length_exceeded();
}

void awk_set_handler(awk_result_fn fn, const char *write_message, const char *eof_message) {
    handler = fn;
    write_msg = write_message;
    eof_msg = eof_message;
}

void awk_submit(int recnum, const char *text, size_t len, const char *value, size_t n,
                size_t cut_at, size_t cut_len, int numfields) {
    entry &e = queue_push(recnum, text, len, false);
    e.cut_at = cut_at;
    e.cut_len = cut_len;
    e.numfields = numfields;
    send_room(n + 1 + sizeof FLUSH_REQUEST);
    if (!awk_gone) {
        memcpy(sbuf + slen, value, n);
        sbuf[slen + n] = AWK_RECORD_END;
        slen += n + 1;
    }
    value_sent(n + 1);
}

namespace {

template <bool Values>
void submit_record(int recnum, const char *text, size_t len, char *const *fields, int numfields) {
    awk_refuse_framing_bytes(text, len, recnum);
    queue_push(recnum, text, len, false);
    send_room(len + 1 + sizeof FLUSH_REQUEST);
    if (!awk_gone) {
        if (Values)
            put_values(text, len, fields, numfields);
        else
            put_record(text, len, fields, numfields);
    }
    value_sent(len + 1);
}

} // namespace

void awk_submit_record(int recnum, const char *text, size_t len, char *const *fields,
                       int numfields) {
    submit_record<false>(recnum, text, len, fields, numfields);
}

void awk_submit_record_values(int recnum, const char *text, size_t len, char *const *fields,
                              int numfields) {
    submit_record<true>(recnum, text, len, fields, numfields);
}

void awk_submit_blank(int recnum) {
    queue_push(recnum, "", 0, true);
    pop_blanks(); // written at once when nothing is waiting before it
}

void awk_drain(void) {
    if (handler) hand_over_all();
}

void awk_finish(void) {
    hand_over_all();
    // Only what an END rule printed can come now.
    close_input_and_read_to_end();
}

void awk_abandon(void) {
    discarding = true;
    spos = slen = 0;
    close_input_and_read_to_end();
}

bool awk_send_record(char *text, size_t len, char **fields, int numfields, int recnum) {
    awk_refuse_framing_bytes(text, len, recnum);
    stream_unflushed = true;
    if (!stream_buffered) {
        for (int i = 1; i < numfields; i++)
            fields[i][-1] = AWK_FIELD_SEP;
        text[len] = AWK_RECORD_END;
        return write_fd_all(awk_to_fd, text, len + 1);
    }
    if (SEND_CAP - slen < len + 1 && !stream_push()) return false;
    put_record(text, len, fields, numfields);
    return slen < SEND_CHUNK || stream_push();
}

bool awk_close_input(void) {
    if (awk_to_fd < 0) return true;
    bool ok = slen == spos || stream_push();
    close(awk_to_fd);
    awk_to_fd = -1;
    return ok;
}

const char *awk_field_value(const char *field, size_t n, char *buf, int *vlen) {
    int bom = csv_field_bom_len(field, n);
    if (!field_is_wrapped(field + bom, (int)n - bom)) {
        *vlen = (int)n;
        return field;
    }
    memcpy(buf, field, (size_t)bom);
    field_rewrite rw{.buf = buf + bom, .cap = (int)n};
    const char *v = rw.value<false>(field + bom, (int)n - bom, vlen);
    if (v != buf + bom) memcpy(buf + bom, v, (size_t)*vlen);
    *vlen += bom;
    return buf;
}

bool awk_result_is_true(const char *result, int len) {
    return !(len == 0 || (len == 1 && result[0] == '0'));
}
