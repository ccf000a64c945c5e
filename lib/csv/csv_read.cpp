// Stream readers: the one record machine behind csv_record_read, the parse/split/get-field
// family, the record skipper and the DSV readers. They differ only in what they store (the
// raw text, the text and its field-start table, or nothing) and in the separator byte. Each
// way out of the machine through a failure notes what it consumed past the byte at fault
// (FAIL): a new failure, or a change to what a state consumes, keeps that count true, or the
// line and byte of the message go wrong.
#include "libcsv.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "csv_syntax.h"
#include "field_buffer.h"

// ---- The grammar's messages, shared with the string parser ---------------------------------

static void (*before_report_fn)(void);

void csv_set_before_report(void (*fn)(void)) { before_report_fn = fn; }

static void before_report(void) {
    if (before_report_fn) before_report_fn();
}

static void (*before_refill_fn)(FILE *fp);

void csv_set_before_refill(void (*fn)(FILE *fp)) {
    before_refill_fn = fn;
}

int csv_getc_refill(FILE *fp) {
    if (before_refill_fn) before_refill_fn(fp);
    return getc_unlocked(fp);
}

void syntax_double_quote_in_unquoted(int recnum, int fieldnum) {
    before_report();
    errorf(0, "ERROR: record #%d, field #%d: double-quote in unquoted field", recnum, fieldnum);
}
void syntax_max_fields(int recnum) {
    before_report();
    errorf(0, "ERROR: record #%d: number of fields exceeded MAX_FIELDS (%d)", recnum, MAX_FIELDS);
}
void syntax_quoted_field_not_closed(int recnum, int fieldnum) {
    before_report();
    errorf(0, "ERROR: record #%d, field #%d: quoted field not closed by double quote", recnum,
           fieldnum);
}
void syntax_unembedded_cr(int recnum) {
    before_report();
    errorf(0, "ERROR: record #%d: carriage return not in quoted field", recnum);
}
void syntax_unescaped_double_quote(int recnum, int fieldnum) {
    before_report();
    errorf(0, "ERROR: record #%d, field #%d: unescaped double quote char in quoted field", recnum,
           fieldnum);
}
void syntax_max_record_length(int recnum) {
    before_report();
    errorf(0, "ERROR: record #%d: record length exceeded MAX_RECORD_LENGTH (%d)", recnum,
           MAX_RECORD_LENGTH);
}

const char *copy_field_bounded(char *buf, const char *start, size_t len) {
    if (len > MAX_FIELD_LENGTH - 1) field_length_exceeded();
    memcpy(buf, start, len);
    buf[len] = '\0';
    return buf;
}

static void where_set(const char *name, int recnum);

namespace {

enum Mode { RAW, PARSE, SKIP };
enum Result { R_READERR = -2, R_SYNTAX = -1, R_EOF = 0, R_RECORD = 1 };

char raw_buf[MAX_RECORD_LENGTH];
int raw_len;

char parse_buf[MAX_RECORD_LENGTH];
char *parse_table[MAX_FIELDS];
int parse_len;

char dsv_buf[MAX_RECORD_LENGTH];
char *dsv_table[MAX_FIELDS];
int dsv_len;

char getfield_buf[MAX_FIELD_LENGTH];
int getfield_len;

int read_errno; // errno of the last failed byte read

// Where the last syntax or limit failure of the machine arose, within its record: the bytes
// stored (pos), the offset of the byte at fault (at: pos, or where a quoted field left open
// began), the bytes consumed past pos (tail), and whether the last of them was a line feed.
// Kept with the place in the input when the machine counted it, or else worked out afterwards
// from the stream's position (a regular file only: a pipe's bytes are gone).
struct Fault {
    int pos, at, tail;
    bool lf;
    bool placed;          // line and byte known
    long long line, byte; // 1-based
} fault;

// The input counted by csv_count_places: the line feeds and bytes before its next record.
FILE *counted_fp;
long long counted_lines, counted_bytes;
// Records numbered below this go through the dispatch that knows the start of an input and
// the counted input; the others straight to the plain machine, at the cost of one compare.
int plain_from = 2;

long long lf_count(const char *p, size_t n) {
    long long k = 0;
    for (const char *e = p + n; (p = static_cast<const char *>(memchr(p, '\n', (size_t)(e - p))));
         p++)
        k++;
    return k;
}

// The record machine. Reads one record from fp, one byte at a time through the stream's own
// buffer, and never pushes a byte back. RAW and PARSE store the record text in buf (at most
// MAX_RECORD_LENGTH - 1 bytes, then a NUL); PARSE also enters each field's start in table (at
// most MAX_FIELDS); SKIP stores nothing and checks no limit. A separator inside a quoted field
// is data; outside, the separator is tested before CR, double quote and LF.
// Fast paths over the stream's own buffer (glibc's read pointers): the end of a run of bytes
// that need no decision, inside an unquoted or a quoted field. The run is then taken with one
// copy instead of byte by byte; the byte that ends it goes through the machine as usual.
inline const char *scan_unquoted(FILE *fp, char sep) {
    const char *p = fp->_IO_read_ptr, *e = fp->_IO_read_end;
    while (p < e) {
        char c = *p;
        if (c == sep || c == '\n' || c == '\r' || c == '"') break;
        p++;
    }
    return p;
}

inline const char *scan_quoted(FILE *fp) {
    const char *p = fp->_IO_read_ptr, *e = fp->_IO_read_end;
    if (p >= e) return p;
    const char *q = static_cast<const char *>(memchr(p, '"', (size_t)(e - p)));
    return q ? q : e;
}

// Consumes the buffered bytes up to end, storing them unless skipping. False when they would
// pass the record length limit: the bytes up to and including the one that would land at
// offset 65535 are consumed, and nothing beyond.
template <Mode M> inline bool take_run(FILE *fp, const char *end, char *buf, int &pos) {
    size_t n = (size_t)(end - fp->_IO_read_ptr);
    if (n == 0) return true;
    if constexpr (M != SKIP) {
        size_t room = (size_t)(MAX_RECORD_LENGTH - 1 - pos);
        if (n > room) {
            memcpy(buf + pos, fp->_IO_read_ptr, room);
            pos += (int)room;
            fp->_IO_read_ptr += room + 1;
            return false;
        }
        memcpy(buf + pos, fp->_IO_read_ptr, n);
        pos += (int)n;
    }
    fp->_IO_read_ptr += n;
    return true;
}

// ---- Block scans of unquoted fields ----------------------------------------------------------
// Many bytes a step over the stream's buffer, with the widest vectors the CPU has, chosen once.
// Every width must leave the machine exactly where the byte-by-byte loop would: the tests run
// each over the same inputs.

CsvScan best_scan() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    CsvScan best = __builtin_cpu_supports("avx2") ? CSV_SCAN_AVX2 : CSV_SCAN_SSE2;
#else
    CsvScan best = CSV_SCAN_SCALAR;
#endif
    return best;
}

// ZELK_SIMD=scalar, sse2 or avx2 asks for a narrower scan than the best (to compare them).
CsvScan initial_scan() {
    CsvScan best = best_scan();
    const char *want = getenv("ZELK_SIMD");
    if (!want) return best;
    CsvScan w = strcmp(want, "scalar") == 0 ? CSV_SCAN_SCALAR
                : strcmp(want, "sse2") == 0 ? CSV_SCAN_SSE2
                                            : CSV_SCAN_AVX2;
    return w < best ? w : best;
}

CsvScan scan_level = initial_scan();
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
// The wide scans that find quoted regions by a carry-less multiply, and count with popcnt.
// (Defined after scan_level, whose initial_scan sets the CPU's features up.)
const bool have_clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("popcnt");
#endif

// How a block scan leaves the unquoted field: with fewer bytes buffered than a block, for the
// byte-by-byte loop (RUN_OUT); right after a separator, so at a field start (RUN_FRESH); before
// a special byte inside the field (RUN_STOP); or with a 513th field refused (RUN_TOO_MANY).
enum RunEnd { RUN_OUT, RUN_FRESH, RUN_STOP, RUN_TOO_MANY };
struct Run {
    int pos, nseps, nentered, fstart; // as in the machine
};

// Takes the block of w bytes at p (already stored at buf + r.pos unless skipping), whose
// separators and other special bytes seps and stop mark: -1 when it holds no special byte
// (fresh: its last byte was a separator), else how the run ends, the stream's position set.
template <Mode M, bool Popcnt, class Mask>
[[gnu::always_inline]] inline int take_block(FILE *fp, const char *p, int w, Mask seps, Mask stop,
                                             char *buf, char **table, Run &r, bool &fresh) {
    if (stop) seps &= (stop & -stop) - 1; // separators before the first stop
    if constexpr (M == PARSE) {
        for (Mask s = seps; s; s &= s - 1) {
            int i = __builtin_ctzll(s);
            if (r.nentered == MAX_FIELDS) {
                fp->_IO_read_ptr = const_cast<char *>(p) + i + 1;
                r.pos += i;
                return RUN_TOO_MANY;
            }
            table[r.nentered++] = buf + r.fstart;
            r.fstart = r.pos + i + 1;
            ++r.nseps;
        }
    } else if constexpr (Popcnt) {
        r.nseps += __builtin_popcountll(seps);
    } else { // baseline x86-64 has no popcnt instruction: a call would cost more
        for (Mask s = seps; s; s &= s - 1)
            ++r.nseps;
    }
    if (stop) {
        int i = __builtin_ctzll(stop);
        fresh = i == 0 ? fresh : ((seps >> (i - 1)) & 1) != 0;
        fp->_IO_read_ptr = const_cast<char *>(p) + i;
        if constexpr (M != SKIP) r.pos += i;
        return fresh ? RUN_FRESH : RUN_STOP;
    }
    fresh = ((seps >> (w - 1)) & 1) != 0;
    if constexpr (M != SKIP) r.pos += w;
    return -1;
}

#ifdef __SSE2__
// Sixteen bytes a step from p on, the byte before p a separator when fresh.
template <Mode M, bool Popcnt>
[[gnu::always_inline]] inline int blocks16(FILE *fp, const char *p, bool fresh, char sep, char *buf,
                                           char **table, Run &r) {
    const __m128i vsep = _mm_set1_epi8(sep), vlf = _mm_set1_epi8('\n');
    const __m128i vcr = _mm_set1_epi8('\r'), vdq = _mm_set1_epi8('"');
    const char *const e = fp->_IO_read_end;
    while (e - p >= 16 && (M == SKIP || r.pos <= MAX_RECORD_LENGTH - 1 - 16)) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if constexpr (M != SKIP) _mm_storeu_si128(reinterpret_cast<__m128i *>(buf + r.pos), b);
        unsigned seps = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(b, vsep));
        unsigned stop = (unsigned)_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(b, vlf), _mm_cmpeq_epi8(b, vcr)), _mm_cmpeq_epi8(b, vdq)));
        int end = take_block<M, Popcnt>(fp, p, 16, seps, stop, buf, table, r, fresh);
        if (end >= 0) return end;
        p += 16;
    }
    fp->_IO_read_ptr = const_cast<char *>(p);
    return fresh ? RUN_FRESH : RUN_OUT;
}

template <Mode M>
[[gnu::always_inline]] inline int unquoted_blocks_sse2(FILE *fp, char sep, char *buf, char **table,
                                                       Run &r) {
    return blocks16<M, false>(fp, fp->_IO_read_ptr, false, sep, buf, table, r);
}

// Sixty-four bytes a step in two registers, then sixteen on the rest of the buffer.
template <Mode M>
[[gnu::target("avx2,bmi,popcnt")]] inline int blocks64(FILE *fp, char sep, char *buf, char **table,
                                                       Run &r) {
    const __m256i vsep = _mm256_set1_epi8(sep), vlf = _mm256_set1_epi8('\n');
    const __m256i vcr = _mm256_set1_epi8('\r'), vdq = _mm256_set1_epi8('"');
    const char *p = fp->_IO_read_ptr;
    const char *const e = fp->_IO_read_end;
    bool fresh = false;
    while (e - p >= 64 && (M == SKIP || r.pos <= MAX_RECORD_LENGTH - 1 - 64)) {
        __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        if constexpr (M != SKIP) {
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(buf + r.pos), lo);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(buf + r.pos + 32), hi);
        }
        uint64_t seps = (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, vsep)) |
                        (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, vsep)) << 32;
        __m256i slo =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(lo, vlf), _mm256_cmpeq_epi8(lo, vcr)),
                            _mm256_cmpeq_epi8(lo, vdq));
        __m256i shi =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(hi, vlf), _mm256_cmpeq_epi8(hi, vcr)),
                            _mm256_cmpeq_epi8(hi, vdq));
        uint64_t stop = (uint64_t)(uint32_t)_mm256_movemask_epi8(slo) |
                        (uint64_t)(uint32_t)_mm256_movemask_epi8(shi) << 32;
        int end = take_block<M, true>(fp, p, 64, seps, stop, buf, table, r, fresh);
        if (end >= 0) return end;
        p += 64;
    }
    return blocks16<M, true>(fp, p, fresh, sep, buf, table, r);
}

// The bytes of the 64 in lo and hi that equal those of v.
[[gnu::target("avx2")]] inline uint64_t eq_mask(__m256i lo, __m256i hi, __m256i v) {
    return (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, v)) |
           (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, v)) << 32;
}

// prefix_xor (below) as one carry-less multiply by all ones: with q a block's double quotes,
// bit i set when byte i is inside quotes (or is their opening one).
[[gnu::target("pclmul")]] inline uint64_t quotes_inside(uint64_t q) {
    return (uint64_t)_mm_cvtsi128_si64(
        _mm_clmulepi64_si128(_mm_cvtsi64_si128((long long)q), _mm_set1_epi8(-1), 0));
}

// The skipper's common record: no CR before its line feed, each double quote opening a field
// (after a separator, the record's start or a closing quote: a doubled quote) or closing one
// (before a separator, the LF or an opening quote), which the quote parity tells apart. Such a
// record needs no decision but where it ends. These consume it, LF included, and return true
// when the buffer holds all of it; otherwise they consume nothing, and the machine reads it.

// From the block at p on, which starts a field when start is 1.
[[gnu::noinline, gnu::target("avx2,bmi")]] bool skip_quoted_avx2(FILE *fp, const char *p,
                                                                 uint64_t start, char sep) {
    const __m256i vsep = _mm256_set1_epi8(sep), vlf = _mm256_set1_epi8('\n');
    const __m256i vcr = _mm256_set1_epi8('\r'), vdq = _mm256_set1_epi8('"');
    const char *const e = fp->_IO_read_end;
    uint64_t inside = 0; // all ones when the block starts inside a quoted field
    for (; e - p >= 64; p += 64) {
        __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        uint64_t q = eq_mask(lo, hi, vdq), lf = eq_mask(lo, hi, vlf);
        uint64_t cr = eq_mask(lo, hi, vcr), sp = eq_mask(lo, hi, vsep);
        uint64_t in = q; // bit i: inside quotes after byte i
        in ^= in << 1;
        in ^= in << 2;
        in ^= in << 4;
        in ^= in << 8;
        in ^= in << 16;
        in ^= in << 32;
        in ^= inside;
        uint64_t open = q & in, close = q & ~in;
        uint64_t end = lf & ~in;
        uint64_t upto = end ? (end & -end) - 1 : ~(uint64_t)0; // the bytes before the record's LF
        // A closing quote as the block's last byte is refused too (its next byte is unknown), so
        // that no closing quote needs carrying into the next block.
        uint64_t bad = cr | (open & ~(start | sp << 1 | close << 1)) |
                       (close & ~(sp >> 1 | lf >> 1 | open >> 1));
        if (bad & upto) return false;
        if (end) {
            fp->_IO_read_ptr = const_cast<char *>(p) + __builtin_ctzll(end) + 1;
            return true;
        }
        inside = (uint64_t)0 - (in >> 63);
        start = sp >> 63;
    }
    return false;
}

// The record at the stream's position; most have no double quote and go no further.
[[gnu::noinline, gnu::target("avx2,bmi")]] bool skip_record_avx2(FILE *fp, char sep) {
    const __m256i vlf = _mm256_set1_epi8('\n'), vcr = _mm256_set1_epi8('\r');
    const __m256i vdq = _mm256_set1_epi8('"');
    const char *const b = fp->_IO_read_ptr, *const e = fp->_IO_read_end;
    for (const char *p = b; e - p >= 64; p += 64) {
        __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        __m256i slo = _mm256_or_si256(_mm256_cmpeq_epi8(lo, vcr), _mm256_cmpeq_epi8(lo, vdq));
        __m256i shi = _mm256_or_si256(_mm256_cmpeq_epi8(hi, vcr), _mm256_cmpeq_epi8(hi, vdq));
        uint64_t lf = eq_mask(lo, hi, vlf);
        uint64_t other = (uint64_t)(uint32_t)_mm256_movemask_epi8(slo) |
                         (uint64_t)(uint32_t)_mm256_movemask_epi8(shi) << 32;
        if (other & ((lf & -lf) - 1)) // before the LF, or with no LF
            return skip_quoted_avx2(fp, p, p == b || p[-1] == sep, sep);
        if (lf) {
            fp->_IO_read_ptr = const_cast<char *>(p) + __builtin_ctzll(lf) + 1;
            return true;
        }
    }
    return false;
}

// The common records that follow each other from the stream's position (there at a record's
// start), as many as the buffer holds whole and at most max, in one pass of 64-byte blocks: the
// test above, where the byte after a record's LF starts a field too, and where a CR may also
// stand in a quoted field or just before the LF that ends the record (CR LF ends, as RFC 4180
// writes them; a CR as a block's last byte is refused, so that none needs carrying). The
// stream is left just past the last record taken; returns how many were taken. A block free
// of double quotes and CRs that does not start inside a quoted field, or right after a closing
// quote, needs only its LFs counted.
[[gnu::target("avx2,bmi,popcnt,pclmul")]] long skip_common_avx2(FILE *fp, char sep, long max) {
    const __m256i vsep = _mm256_set1_epi8(sep), vlf = _mm256_set1_epi8('\n');
    const __m256i vcr = _mm256_set1_epi8('\r'), vdq = _mm256_set1_epi8('"');
    const char *p = fp->_IO_read_ptr, *const e = fp->_IO_read_end;
    const char *taken = p; // just past the last record taken
    long count = 0;
    uint64_t inside = 0; // all ones when the block starts inside a quoted field
    uint64_t start = 1;  // bit 0: the block's first byte starts a field
    uint64_t closed = 0; // bit 0: the byte before the block closed a quoted field
    for (bool last = false; !last && e - p >= 64; p += 64) {
        __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        uint64_t ends = eq_mask(lo, hi, vlf);
        __m256i odd = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(lo, vdq), _mm256_cmpeq_epi8(lo, vcr)),
            _mm256_or_si256(_mm256_cmpeq_epi8(hi, vdq), _mm256_cmpeq_epi8(hi, vcr)));
        if (!(inside | closed) && _mm256_testz_si256(odd, odd)) {
            start = p[63] == sep || p[63] == '\n';
        } else {
            uint64_t q = eq_mask(lo, hi, vdq), cr = eq_mask(lo, hi, vcr);
            uint64_t sp = eq_mask(lo, hi, vsep), lf = ends;
            uint64_t in = quotes_inside(q) ^ inside; // bit i: inside quotes after byte i
            uint64_t open = q & in, close = q & ~in;
            ends = lf & ~in;
            uint64_t after_close = sp | lf | cr | open; // what may follow a closing quote
            // A closing quote as the block's last byte is judged with the next block's first.
            uint64_t bad = (cr & ~(in | lf >> 1)) | (open & ~(start | (sp | close | ends) << 1)) |
                           (close & ~(after_close >> 1 | (uint64_t)1 << 63)) |
                           (closed & ~after_close);
            if (bad) {
                ends &= (bad & -bad) - 1; // the records before the first that is not common
                last = true;
            }
            inside = (uint64_t)0 - (in >> 63);
            start = (sp | close | ends) >> 63;
            closed = close >> 63;
        }
        count += __builtin_popcountll(ends);
        if (count >= max) { // the block's last records go back when they are too many
            for (; count > max; count--)
                ends ^= (uint64_t)1 << (63 - __builtin_clzll(ends));
            last = true;
        }
        if (ends) taken = p + 64 - __builtin_clzll(ends);
    }
    fp->_IO_read_ptr = const_cast<char *>(taken);
    return count;
}
#else
template <Mode M> int unquoted_blocks_sse2(FILE *, char, char *, char **, Run &) {
    return RUN_OUT;
}
template <Mode M> int blocks64(FILE *, char, char *, char **, Run &) {
    return RUN_OUT;
}
#endif

// A record of the counted input ended: its text, the terminator's bytes (CR, LF) and, if it
// ended with one, the LF join the count.
inline void count_record(const char *buf, int pos, int term, bool lf) {
    counted_bytes += pos + term;
    counted_lines += lf_count(buf, (size_t)pos) + lf;
}

// A failure of the machine after pos bytes stored and consumed more: where its byte lies.
// On the counted input the count moves past every byte consumed, so that reading can go on.
template <bool Count>
inline void note_fault(FILE *fp, const char *buf, int pos, int at, int consumed) {
    fault = {pos, at, consumed, consumed > 0 && fp->_IO_read_ptr[-1] == '\n', Count, 0, 0};
    if constexpr (Count) {
        fault.line = counted_lines + lf_count(buf, (size_t)at) + 1;
        fault.byte = counted_bytes + at + 1;
        counted_bytes += pos + consumed;
        counted_lines += lf_count(buf, (size_t)pos) + fault.lf;
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-label" // SKIP and RAW never reach some labels
template <Mode M, bool AtStart, bool Count, bool Wide>
int base_read_record(FILE *fp, const char sep, const char *name, int recnum, char verbose,
                     char *buf, char **table, int *len_out, int *count_out) {
    where_set(name, recnum);
    int pos = 0;      // bytes stored
    int nseps = 0;    // separators outside quoted fields
    int nentered = 0; // PARSE: field starts entered in the table
    int fstart = 0;   // PARSE: offset of the current field
    int qstart = 0;   // RAW, PARSE: offset of the quote that opened the last quoted field
    int held = 0;     // a CR consumed before the record's end, not stored
    int tail = 1;     // PARSE: bytes consumed past pos when a 513th field is refused
    int c;            // a byte as the byte reader gives it: 0..255, or EOF
    const int sepc = (unsigned char)sep; // the separator in the same range (a byte >= 0x80 too)

// Store one byte of record text; the byte that would land at offset 65535 is an error.
#define STORE(ch)                                                                              \
    do {                                                                                       \
        if constexpr (M != SKIP) {                                                             \
            if (pos == MAX_RECORD_LENGTH - 1) goto too_long;                                   \
            buf[pos++] = (char)(ch);                                                           \
        }                                                                                      \
    } while (0)
// A field ended: enter its start, refusing a 513th field.
#define FIELD_END()                                                                            \
    do {                                                                                       \
        if constexpr (M == PARSE) {                                                            \
            if (nentered == MAX_FIELDS) goto too_many;                                         \
            table[nentered++] = buf + fstart;                                                  \
        }                                                                                      \
    } while (0)
#define NEXT_FIELD()                                                                           \
    do {                                                                                       \
        FIELD_END();                                                                           \
        STORE(sep);                                                                            \
        ++nseps;                                                                               \
        if constexpr (M == PARSE) fstart = pos;                                                \
    } while (0)
#define GETC() (c = csv_getc(fp))
// A failure already described: note where it arose (the byte at fault at offset `at` of the
// record, `consumed` bytes past pos read).
#define FAIL(at_, consumed)                                                                        \
    do {                                                                                           \
        note_fault<Count>(fp, buf, pos, at_, consumed);                                            \
        return R_SYNTAX;                                                                           \
    } while (0)
// The bytes that mean the same wherever a field may end (at its start, inside an unquoted
// field, after its closing quote): the separator ends the field, CR LF or LF the record. The
// separator goes first, as a DSV separator may be any byte, and on_quote, what a double quote
// does in the state, is tested in its place between CR and LF, where the byte order of the
// record ends costs least. Any other byte is the state's own.
#define OUTSIDE_QUOTES(on_quote)                                                                   \
    do {                                                                                           \
        if (c == sepc) {                                                                           \
            NEXT_FIELD();                                                                          \
            goto field_start;                                                                      \
        }                                                                                          \
        if (c == '\r') goto after_cr;                                                              \
        if (c == '"') {                                                                            \
            on_quote;                                                                              \
        }                                                                                          \
        if (c == '\n') goto end_record;                                                            \
    } while (0)

    // Record start: as a field start, except that the end of the stream is no record.
    if (GETC() == EOF) {
        if (ferror(fp)) goto read_error;
        return R_EOF;
    }
    if constexpr (AtStart)
        if (c == 0xEF) goto input_start_bom;
    goto first_byte;

input_start_bom:
    // The start of the input: a byte order mark may stand before a quoted first field. Short
    // of the mark and a double quote, the bytes read are the start of an unquoted field; a
    // separator among them (a DSV separator may be any byte) separates, as anywhere.
    if (c == sepc) goto first_byte;
    STORE(c);
    if (GETC() != 0xBB || c == sepc) goto bom_cut_short;
    STORE(c);
    if (GETC() != 0xBF || c == sepc) goto bom_cut_short;
    STORE(c);
    if (GETC() != '"' || c == sepc) goto bom_cut_short;
    if constexpr (M != SKIP) qstart = pos;
    STORE(c);
    goto in_quoted;
bom_cut_short:
    // The byte after the mark's start goes back to the stream (always possible for the one
    // byte just read), so that the unquoted field's loop reads it as its own.
    if (c == EOF) goto unterminated;
    ungetc(c, fp);
    goto unquoted_byte;

field_start:
    if (GETC() == EOF) goto unterminated;
first_byte:
    OUTSIDE_QUOTES(if constexpr (M != SKIP) qstart = pos; STORE(c); goto in_quoted);
    STORE(c);
    // fall through

in_unquoted:
    // Many bytes at a time while the stream's buffer holds them and the record has room: each
    // block is stored whole, the separators in it end fields, and the first other special
    // byte (LF, CR, double quote) is left to the machine below. A special byte right after a
    // separator starts a field, so it goes to field_start (a double quote opens a quoted field
    // there, while inside an unquoted field it is an error).
    if (Wide || scan_level != CSV_SCAN_SCALAR) {
        Run r{pos, nseps, nentered, fstart};
        int end = Wide ? blocks64<M>(fp, sep, buf, table, r)
                       : unquoted_blocks_sse2<M>(fp, sep, buf, table, r);
        pos = r.pos;
        nseps = r.nseps;
        if constexpr (M == PARSE) {
            nentered = r.nentered;
            fstart = r.fstart;
        }
        switch (end) {
        case RUN_FRESH: goto field_start;
        case RUN_STOP: goto unquoted_byte;
        case RUN_TOO_MANY: goto too_many;
        }
    }
    for (;;) {
        if (!take_run<M>(fp, scan_unquoted(fp, sep), buf, pos)) goto too_long;
    unquoted_byte:
        if (GETC() == EOF) goto unterminated;
        OUTSIDE_QUOTES(syntax_double_quote_in_unquoted(recnum, nseps + 1); FAIL(pos, 1));
        STORE(c);
    }

in_quoted:
    for (;;) {
        if (!take_run<M>(fp, scan_quoted(fp), buf, pos)) goto too_long;
        if (GETC() == EOF) {
            if (ferror(fp)) goto read_error;
            syntax_quoted_field_not_closed(recnum, nseps + 1);
            FAIL(qstart, 0);
        }
        STORE(c);
        if (c == '"') break;
    }
    // After a quote inside a quoted field.
    if (GETC() == EOF) goto unterminated;
    OUTSIDE_QUOTES(STORE(c); goto in_quoted); // a doubled quote
    syntax_unescaped_double_quote(recnum, nseps + 1);
    FAIL(pos, 1);

after_cr:
    // A CR outside quotes: only CR LF, or a CR that is the last byte of the file.
    held = 1;
    if (GETC() == '\n') goto end_record;
    if (c == EOF) goto unterminated;
    syntax_unembedded_cr(recnum);
    FAIL(pos, 2);

end_record:
    if (pos == 0 && nseps == 0) {
        *count_out = 0; // blank record
    } else {
        if constexpr (M == PARSE) tail = held + 1;
        FIELD_END();
        *count_out = nseps + 1;
    }
    if constexpr (Count) count_record(buf, pos, held + 1, true);
    if constexpr (M != SKIP) buf[pos] = '\0';
    *len_out = pos;
    return R_RECORD;

unterminated:
    // The end of the stream came after at least one byte of the record.
    if (ferror(fp)) goto read_error;
    if (verbose) {
        before_report();
        errorf(0, "Warning: final record not terminated: file '%s'", name);
    }
    if constexpr (M == PARSE) tail = held;
    FIELD_END();
    if constexpr (Count) count_record(buf, pos, held, false);
    if constexpr (M != SKIP) buf[pos] = '\0';
    *len_out = pos;
    *count_out = nseps + 1;
    return R_RECORD;

too_long:
    syntax_max_record_length(recnum);
    FAIL(pos, 1);

too_many:
    syntax_max_fields(recnum);
    FAIL(pos, tail);

read_error:
    read_errno = errno;
    return R_READERR;

#undef STORE
#undef FIELD_END
#undef NEXT_FIELD
#undef GETC
#undef OUTSIDE_QUOTES
#undef FAIL
}
#pragma GCC diagnostic pop

// The first record of an input (or one at an unknown place, record 0) may begin with a byte
// order mark before a quoted field; the others are read by a machine without that case, so
// that it costs the loop nothing. The counted input is read by machines that also count (not
// when skipping, which keeps no text to count in); below plain_from a record may be either
// case. Each machine is called from one place only, so that it is inlined into its reader.
template <Mode M, bool Wide>
int read_record_as(FILE *fp, const char sep, const char *name, int recnum, char verbose, char *buf,
                   char **table, int *len_out, int *count_out) {
    if (recnum < (M == SKIP ? 2 : plain_from)) {
        if constexpr (M != SKIP) {
            if (fp == counted_fp) {
                if (recnum <= 1)
                    return base_read_record<M, true, true, Wide>(fp, sep, name, recnum, verbose,
                                                                 buf, table, len_out, count_out);
                return base_read_record<M, false, true, Wide>(fp, sep, name, recnum, verbose, buf,
                                                              table, len_out, count_out);
            }
        }
        if (recnum <= 1)
            return base_read_record<M, true, false, Wide>(fp, sep, name, recnum, verbose, buf,
                                                          table, len_out, count_out);
    }
    return base_read_record<M, false, false, Wide>(fp, sep, name, recnum, verbose, buf, table,
                                                   len_out, count_out);
}

// Where the CPU has AVX2, the machines are built for it whole, the wide block scans inlined.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
template <Mode M>
[[gnu::target("avx2,bmi,popcnt"), gnu::flatten]] int
read_record_wide(FILE *fp, const char sep, const char *name, int recnum, char verbose, char *buf,
                 char **table, int *len_out, int *count_out) {
    return read_record_as<M, true>(fp, sep, name, recnum, verbose, buf, table, len_out, count_out);
}
#endif

template <Mode M>
inline int read_record(FILE *fp, const char sep, const char *name, int recnum, char verbose,
                       char *buf, char **table, int *len_out, int *count_out) {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    if (scan_level == CSV_SCAN_AVX2) {
        // The skipper takes a common record whole where it can (not the input's first
        // record, whose byte order mark the machine knows). Its field count is no caller's
        // concern.
        if constexpr (M == SKIP)
            if (recnum >= 2 && skip_record_avx2(fp, sep)) {
                where_set(name, recnum);
                *len_out = 0;
                return R_RECORD;
            }
        return read_record_wide<M>(fp, sep, name, recnum, verbose, buf, table, len_out, count_out);
    }
#endif
    return read_record_as<M, false>(fp, sep, name, recnum, verbose, buf, table, len_out, count_out);
}

// Where the fault lies in a regular file that was not counted: the stream's position less
// what was consumed past the byte at fault, and the line feeds before it read again.
void place_fault_in_file(FILE *fp) {
    struct stat st;
    int fd = fileno(fp);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    off_t end = ftello(fp);
    if (end < 0) return;
    off_t at = end - fault.tail - (fault.pos - fault.at);
    if (at < 0) return;
    static char block[65536];
    long long lines = 0;
    for (off_t off = 0; off < at;) {
        size_t want = (size_t)(at - off) < sizeof block ? (size_t)(at - off) : sizeof block;
        ssize_t n = pread(fd, block, want, off);
        if (n <= 0) return;
        lines += lf_count(block, (size_t)n);
        off += n;
    }
    fault.placed = true;
    fault.line = lines + 1;
    fault.byte = at + 1;
}

// After any failure: the read-error line, or the line naming the input and the one that says
// where in it the fault lies, when that is known; whatever the verbose flag.
void report_failure(FILE *fp, const char *name, int recnum) {
    before_report();
    if (ferror(fp)) {
        errorf(read_errno, "Error: failed reading record #%d from file '%s'", recnum, name);
        return;
    }
    errorf(0, "file:  '%s'", name);
    if (!fault.placed) place_fault_in_file(fp);
    if (fault.placed) errorf(0, "line %lld, byte %lld", fault.line, fault.byte);
}

// Sorts out the machine's result r for every reader: true for a record; false at the end of
// the input or after a failure, reported here and marked in *errflag. The reader clears
// *errflag before the machine runs (cleared here, it would cost every record a load and a
// store).
bool got_record(int r, FILE *fp, const char *name, int recnum, char *errflag) {
    if (r == R_RECORD) return true;
    if (r != R_EOF) {
        report_failure(fp, name, recnum);
        *errflag = 1;
    }
    return false;
}

// The parse family's common part: run the machine into the given buffers. Returns the record
// text, its field count in *numfields and its field starts in *fields; null at the end of the
// input or after a failure (as got_record tells), *numfields then -1 and *fields null.
char *read_parsed(char sep, FILE *fp, const char *name, int recnum, char verbose, char *buf,
                  char **table, int *len, int *numfields, char ***fields, char *errflag) {
    *errflag = 0;
    *numfields = -1;
    *fields = nullptr;
    int count;
    int r = read_record<PARSE>(fp, sep, name, recnum, verbose, buf, table, len, &count);
    if (!got_record(r, fp, name, recnum, errflag)) return nullptr;
    *numfields = count;
    *fields = table;
    return buf;
}

// read_parsed with the fields then split in place: returns their count, or -1 where
// read_parsed returns null.
int read_split(char sep, FILE *fp, const char *name, int recnum, char verbose, char *buf,
               char **table, int *len, char ***fields, char *errflag) {
    int count;
    if (!read_parsed(sep, fp, name, recnum, verbose, buf, table, len, &count, fields, errflag))
        return -1;
    split_in_place(*fields, count);
    return count;
}

} // namespace

// ---- Where the reading stands, for the field-length message ------------------------------

namespace {

const char *where_name; // the input of the record last read, or null
int where_recnum;       // its number; 0 before any record
int where_fieldnum;     // the field being worked on, or 0 when unknown

} // namespace

static void where_set(const char *name, int recnum) {
    where_name = name;
    where_recnum = recnum;
    where_fieldnum = 0;
}

void csv_where_record(int recnum) {
    where_recnum = recnum;
    where_fieldnum = 0;
}

void csv_where_field(int fieldnum) { where_fieldnum = fieldnum; }

void field_length_exceeded(void) {
    before_report();
    if (where_recnum > 0 && where_fieldnum > 0)
        errorf(0, "ERROR: record #%d, field #%d: field length exceeded MAX_FIELD_LENGTH (%d)",
               where_recnum, where_fieldnum, MAX_FIELD_LENGTH);
    else if (where_recnum > 0)
        errorf(0, "ERROR: record #%d: field length exceeded MAX_FIELD_LENGTH (%d)", where_recnum,
               MAX_FIELD_LENGTH);
    else
        errorf(0, "ERROR: field length exceeded MAX_FIELD_LENGTH (%d)", MAX_FIELD_LENGTH);
    if (where_name) errorf(0, "file:  '%s'", where_name);
    fatal_exit();
}

// ---- Public readers -------------------------------------------------------------------------

const char *csv_record_read(FILE *fp, const char *name, int recnum, char verbose, int *numfields,
                            char *errflag) {
    *numfields = -1;
    *errflag = 0;
    int len, count;
    int r = read_record<RAW>(fp, ',', name, recnum, verbose, raw_buf, nullptr, &len, &count);
    if (!got_record(r, fp, name, recnum, errflag)) return nullptr;
    raw_len = len;
    *numfields = count;
    return raw_buf;
}

char *csv_record_read_and_parse(FILE *fp, const char *name, int recnum, char verbose,
                                int *numfields, char ***fields, char *errflag) {
    return read_parsed(',', fp, name, recnum, verbose, parse_buf, parse_table, &parse_len,
                       numfields, fields, errflag);
}

int csv_record_read_and_split(FILE *fp, const char *name, int recnum, char verbose,
                              char ***fields, char *errflag) {
    return read_split(',', fp, name, recnum, verbose, parse_buf, parse_table, &parse_len, fields,
                      errflag);
}

char *csv_record_read_and_get_field(FILE *fp, const char *name, int recnum, char verbose,
                                    int fieldnum, char **field, int *numfields, char *errflag) {
    char **table;
    char *text = read_parsed(',', fp, name, recnum, verbose, parse_buf, parse_table, &parse_len,
                             numfields, &table, errflag);
    if (!text) return nullptr;
    int count = *numfields;
    if (fieldnum < 1 || count < fieldnum) {
        *field = nullptr;
        return text;
    }
    int len = csv_parsed_field_length(table, count, fieldnum, text + parse_len);
    csv_where_field(fieldnum);
    copy_field_bounded(getfield_buf, table[fieldnum - 1], (size_t)len);
    *field = getfield_buf;
    getfield_len = len;
    return text;
}

int csv_record_read_and_skip(FILE *fp, const char *name, int recnum, char verbose, char *errflag) {
    *errflag = 0;
    int len, count;
    int r = read_record<SKIP>(fp, ',', name, recnum, verbose, nullptr, nullptr, &len, &count);
    return got_record(r, fp, name, recnum, errflag);
}

long csv_records_skip_common(FILE *fp, const char *name, int recnum, long max) {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    // Not the input's first record, whose byte order mark the machine knows.
    if (scan_level != CSV_SCAN_AVX2 || !have_clmul || recnum < 2 || max <= 0) return 0;
    long n = skip_common_avx2(fp, ',', max);
    if (n > 0) where_set(name, n - 1 < INT_MAX - recnum ? recnum + (int)(n - 1) : INT_MAX);
    return n;
#else
    (void)fp, (void)name, (void)recnum, (void)max;
    return 0;
#endif
}

long csv_records_skip(FILE *fp, const char *name, int recnum, long max, char *errflag) {
    *errflag = 0;
    long done = 0;
    auto num = [recnum, &done] { return done < INT_MAX - recnum ? recnum + (int)done : INT_MAX; };
    // Where a batch takes nothing, the next records are likely of the same kind (no AVX2, say):
    // they go one by one, a run twice as long each time a batch takes nothing again.
    long retry = 0; // the records skipped when a batch is next tried
    long gap = 4;   // records read one by one after a batch that took none
    while (done < max) {
        if (done >= retry) {
            long taken = csv_records_skip_common(fp, name, num(), max - done);
            done += taken;
            if (taken > 0) {
                gap = 4;
            } else {
                retry = done + gap;
                if (gap < 4096) gap *= 2;
            }
            if (done == max) break;
        }
        if (!csv_record_read_and_skip(fp, name, num(), 1, errflag)) break;
        done++;
    }
    return done;
}

char *dsv_record_read_and_parse(char sep, FILE *fp, const char *name, int recnum, char verbose,
                                int *numfields, char ***fields, char *errflag) {
    return read_parsed(sep, fp, name, recnum, verbose, dsv_buf, dsv_table, &dsv_len, numfields,
                       fields, errflag);
}

int dsv_record_read_and_split(char sep, FILE *fp, const char *name, int recnum, char verbose,
                              char ***fields, char *errflag) {
    return read_split(sep, fp, name, recnum, verbose, dsv_buf, dsv_table, &dsv_len, fields,
                      errflag);
}

void csv_count_places(FILE *fp) {
    counted_fp = fp;
    counted_lines = counted_bytes = 0;
    plain_from = fp ? INT_MAX : 2;
}

void csv_record_resync(FILE *fp) {
    if (fp != counted_fp || fault.lf) return;
    for (int c; (c = getc_unlocked(fp)) != EOF;) {
        counted_bytes++;
        if (c == '\n') {
            counted_lines++;
            return;
        }
    }
}

namespace {

// Bit i set when bits 0 to i of m hold an odd number of ones: with m the double quotes of a
// block, the bytes after an opening quote up to its closing one.
inline uint64_t prefix_xor(uint64_t m) {
    for (int k = 1; k < 64; k *= 2)
        m ^= m << k;
    return m;
}

// The record ends of one 64-byte block whose quotes and line feeds are q and lf, inside
// quotes at its start when carry is all ones; carry is left for the next block.
inline void block_ends(uint64_t inside, uint64_t lf, size_t at, uint64_t &carry, long &count,
                       size_t *last) {
    carry = (uint64_t)((int64_t)inside >> 63);
    uint64_t ends = lf & ~inside;
    if (!ends) return;
    *last = at + 64 - (size_t)__builtin_clzll(ends);
    for (; ends; ends &= ends - 1) // (one or two a block, as records go)
        count++;
}

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
// Bit i set when s[i] is c, for 64 bytes.
inline uint64_t byte_mask64(const char *s, char c) {
    __m128i v = _mm_set1_epi8(c);
    uint64_t m = 0;
    for (int k = 0; k < 4; k++) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 16 * k));
        m |= (uint64_t)(uint16_t)_mm_movemask_epi8(_mm_cmpeq_epi8(b, v)) << (16 * k);
    }
    return m;
}

void record_ends_sse2(const char *s, size_t n, size_t &i, uint64_t &carry, long &count,
                      size_t *last) {
    for (; i + 64 <= n; i += 64) {
        uint64_t q = byte_mask64(s + i, '"');
        block_ends((q ? prefix_xor(q) : 0) ^ carry, byte_mask64(s + i, '\n'), i, carry, count,
                   last);
    }
}

// The same 64 bytes at a time with the prefix sum of the quotes as one carry-less multiply:
// each half loaded once for both masks, and the ends only counted. The last end is found
// afterwards, from the last block back: the carry into a block is the one out of it, turned
// when the block holds an odd number of quotes.
[[gnu::target("avx2,pclmul,popcnt")]] void
record_ends_avx2(const char *s, size_t n, size_t &i, uint64_t &carry, long &count, size_t *last) {
    const __m256i vq = _mm256_set1_epi8('"'), vlf = _mm256_set1_epi8('\n');
    size_t from = i;
    uint64_t in = carry;
    long k = 0;
    for (; i + 64 <= n; i += 64) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i + 32));
        uint64_t q = eq_mask(a, b, vq), lf = eq_mask(a, b, vlf);
        uint64_t inside = quotes_inside(q) ^ in;
        in = (uint64_t)((int64_t)inside >> 63);
        k += __builtin_popcountll(lf & ~inside);
    }
    carry = in;
    count += k;
    for (size_t at = i; k > 0 && at > from;) {
        at -= 64;
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + at));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + at + 32));
        uint64_t q = eq_mask(a, b, vq), lf = eq_mask(a, b, vlf);
        in ^= __builtin_popcountll(q) & 1 ? ~0ULL : 0;
        if (uint64_t ends = lf & ~(quotes_inside(q) ^ in)) {
            *last = at + 64 - (size_t)__builtin_clzll(ends);
            break;
        }
    }
}
#endif

} // namespace

long csv_record_ends(const char *s, size_t n, bool quoted, bool *inquote, size_t *last) {
    *last = 0;
    if (!quoted) {
        const void *lf = memrchr(s, '\n', n);
        if (lf) *last = (size_t)(static_cast<const char *>(lf) - s) + 1;
        return lf ? (long)lf_count(s, *last) : 0;
    }
    long count = 0;
    size_t i = 0;
    bool in = *inquote;
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    if (scan_level != CSV_SCAN_SCALAR) {
        uint64_t carry = in ? ~0ULL : 0;
        if (scan_level == CSV_SCAN_AVX2 && have_clmul)
            record_ends_avx2(s, n, i, carry, count, last);
        else
            record_ends_sse2(s, n, i, carry, count, last);
        in = carry != 0;
    }
#endif
    for (; i < n; i++) {
        if (s[i] == '"') {
            in = !in;
        } else if (s[i] == '\n' && !in) {
            count++;
            *last = i + 1;
        }
    }
    *inquote = in;
    return count;
}

bool csv_scan_set(CsvScan scan) {
    if (scan > best_scan()) return false;
    scan_level = scan;
    return true;
}

int csv_record_read_length(void) { return raw_len; }
int csv_record_parse_length(void) { return parse_len; }
int dsv_record_parse_length(void) { return dsv_len; }
int csv_record_get_field_length(void) { return getfield_len; }

