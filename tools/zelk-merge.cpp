// zelk-merge: join a second CSV file to a first on a key of one field or several each. For every
// CSVFILE1 record the CSVFILE2 record with the same key is found and written after it, on the same
// output record. The default mode gives each key the record that a circular scan of CSVFILE2,
// starting just after the previous match, would reach first. It reads CSVFILE2 forward while
// the matches lie ahead; the first key that has to be looked for behind the scan position has
// the records indexed (a hash of each key and the record's offset), so every later key costs
// one read of its record. A CSVFILE2 that cannot be rewound is copied to an unlinked temporary
// file as it is read. With -o a single forward pass holds one record of each file. Every record
// of a key (-m) and the records no key matched (-r) need all of CSVFILE2 indexed before the
// first key: those joins build the index at once.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#if ZELK_MERGE_REFERENCE_SCAN
#include <string>
#include <unordered_map>
#endif

#include "cli.h"
#include "field_list.h"
#include "field_match.h"
#include "inputs.h"
#include "libcsv.h"

// Built with ZELK_MERGE_REFERENCE_SCAN=1 (the tests do), the default mode looks for every key
// with the plain circular scan instead of the index: the reference the index is checked against.
// With ZELK_MERGE_FEW_HASHES=1 (a build for the tests), keys have four hash values in all, so
// that most index candidates are other keys with the same hash, and it keeps no more than a
// few keys of shared keys, so that the rest are confirmed by reading their records.
#ifndef ZELK_MERGE_REFERENCE_SCAN
#define ZELK_MERGE_REFERENCE_SCAN 0
#endif
#ifndef ZELK_MERGE_FEW_HASHES
#define ZELK_MERGE_FEW_HASHES 0
#endif

static char opt_allowmissing;    // -a
static char opt_ignorecase;      // -i
static char opt_manymatches;     // -m
static char opt_orderedkeys;     // -o
static char opt_queryfieldnames; // -Q
static char opt_unmatched2;      // -r
static char opt_unquotekeys;     // -u
static char opt_verbose;         // -v
static char opt_onlyunmatched;   // -x
static const char *opt_keynamestr1 = "";
static const char *opt_keynamestr2 = "";
static const char *opt_recseparator = ",";

static int stat_numrecords1; // number of the last CSVFILE1 record read (the header is 1)
static int stat_nummatches2; // CSVFILE2 records joined
static int stat_unmatched2;  // CSVFILE2 records no key matched (-r)

static void print_usage(FILE *out) {
    fputs("Program to join/append records from a second CSV file with 'matching' records in a "
          "first CSV file.\n"
          "Records 'match' if their key field values are identical.\n"
          "Key values must be unique in each file--i.e., there must be a single record with "
          "each key value in both files.\n\n"
          "Usage: zelk-merge [OPTION...] KEY_FIELD1 CSVFILE1 KEY_FIELD2 [CSVFILE2]\n\n"
          "KEY_FIELD1 is the 1-based index of the key field in CSVFILE1, or header field name "
          "if -Q option.\n"
          "KEY_FIELD2 is the 1-based index of the key field in CSVFILE2, or header field name "
          "if -Q option.\n"
          "A KEY_FIELD may list several fields (1,3 or 2-4, or names with -Q): keys of several\n"
          "fields, compared field by field; both lists must have as many fields.\n\n"
          "Options:\n"
          "  -a -- allow CSVFILE2 to lack matching records\n"
          "  -i -- ignore case of ASCII letters when comparing keys\n"
          "  -m -- many: join every CSVFILE2 record of a key, in CSVFILE2's order\n"
          "  -o -- identically ordered keys in files, so can be efficient finding match in "
          "CSVFILE2\n"
          "        when using -a option (Note: all CSVFILE2 keys must match a CSVFILE1 key!)\n"
          "  -Q -- query header to get index of FIELD name\n"
          "  -r -- also write the CSVFILE2 records whose key no CSVFILE1 record has,\n"
          "        after the joined records, with empty CSVFILE1 fields\n"
          "  -sSEPARATOR -- separator between CSVFILE records (comma by default)\n"
          "  -t -- terminate output records with CR+LF (\\r\\n) (LF only by default)\n"
          "  -u -- unquote quoted KEY_FIELDs before comparing\n"
          "        (remove surrounding \"'s and unescape embedded \"'s)\n"
          "  -v -- verbose: print final report about join operations\n"
          "  -x -- write only the CSVFILE1 records without a match, as read (implies -a);\n"
          "        with -r, only the CSVFILE2 records whose key no CSVFILE1 record has\n"
          "  (-m and -r index all of CSVFILE2 first, and do not combine with -o)\n",
          out);
}

static const cli_program program = {"zelk-merge", "aimoQrs:tuvx", "t", nullptr, print_usage};

// The key of the current CSVFILE1 record; every comparison is made against it.
static held_key keycopy;

// Keys of several fields (KEY_FIELD1 and KEY_FIELD2 lists): each key is its fields' values one
// after another, each field's NUL bytes written as NUL 1 and the field ended by NUL NUL. Two
// keys are then equal exactly when every field is, -i folds them field by field, and the
// index, the scan and the forward pass compare them as they compare a key of one field.
static bool multikey;
static field_list keylist1, keylist2;
static const char *keyliststr1, *keyliststr2; // the operands when they are lists, else null
static char multikey_text[MAX_FIELD_LENGTH];

// A key as messages show it: the fields of a key of several separated by commas, up to a NUL
// byte (where the message of a key of one field stops too).
static const char *shown_key(const char *key, int len) {
    if (!multikey) return key;
    static char shown[MAX_FIELD_LENGTH];
    int o = 0;
    for (int i = 0; i < len; i++) {
        if (key[i] != 0) {
            shown[o++] = key[i];
            continue;
        }
        if (key[i + 1] == 1) break; // a NUL byte of a field
        if (++i + 1 < len) shown[o++] = ',';
    }
    shown[o] = 0;
    return shown;
}

// Reads a record as csv_record_read_and_get_field does, with the key of several fields that
// list names (null when the record lacks one of them) in multikey_text. A key too long to hold
// ends the run, rather than be compared cut short.
static char *read_multikey(FILE *fp, const char *name, int n, int recnum, char verbose,
                           const field_list &list, const char **key, int *keylen, int *numfields,
                           char *err) {
    char **fields;
    char *text = csv_record_read_and_parse(fp, name, recnum, verbose, numfields, &fields, err);
    if (!text) return nullptr;
    *key = nullptr;
    *keylen = 0;
    for (int k = 0; k < list.count; k++)
        if (list.index[k] >= *numfields) return text;
    const char *end = text + csv_record_parse_length();
    static char value[MAX_RECORD_LENGTH];
    int o = 0;
    // Two more bytes, within MAX_FIELD_LENGTH - 1 (a held key's limit), or the end of the run.
    auto room_for_two = [&] {
        if (o + 2 <= MAX_FIELD_LENGTH - 1) return;
        end_partial_record();
        errorf(0, "ERROR: CSVFILE%d record #%d: key of %d fields longer than %d bytes", n, recnum,
               list.count, MAX_FIELD_LENGTH - 1);
        cli_exit(1);
    };
    for (int k = 0; k < list.count; k++) {
        const int f = list.index[k];
        int len = csv_parsed_field_length(fields, *numfields, f + 1, end);
        memcpy(value, fields[f], (size_t)len);
        if (opt_unquotekeys) len = csv_field_value_inplace(value, len);
        for (int i = 0; i < len; i++) {
            room_for_two();
            multikey_text[o++] = value[i];
            if (value[i] == 0) multikey_text[o++] = 1;
        }
        room_for_two();
        multikey_text[o++] = 0;
        multikey_text[o++] = 0;
    }
    multikey_text[o] = 0;
    *key = multikey_text;
    *keylen = o;
    return text;
}

// Stops the run at once, with the message if there is one. An output record whose CSVFILE1
// part was built is written and ended first, so that the output stops with a complete line.
[[noreturn]] static void fail_after_partial_record(const char *message = nullptr) {
    end_partial_record();
    if (message) errorf(0, "%s", message);
    cli_exit(1);
}

static const char *const FAILED_REWINDING = "ERROR: failed 'rewinding' CSVFILE2";

// A CSVFILE2 record as read or as held. key is null when the record has no field KEY_FIELD2
// (a blank or short record): such a record matches no key.
struct record2 {
    const char *text;
    int textlen;
    const char *key;
    int keylen;
    int numfields;
    int recnum;
};

// The length of a key just read (into the library's field copy), after unquoting it in place
// with -u. A key whose quoting is invalid is compared as it stands; a NUL byte is data.
static int prepare_key(char *key) {
    int len = csv_record_get_field_length();
    return opt_unquotekeys ? csv_field_value_inplace(key, len) : len;
}

// read_record2 for a key of several fields; kept apart, so that the reading of a key of one
// field stays as short as it was.
[[gnu::noinline]] static bool read_record2_keys(FILE *fp, const char *name, int recnum,
                                                char verbose, record2 *rec) {
    int numfields;
    char err;
    const char *text = read_multikey(fp, name, 2, recnum, verbose, keylist2, &rec->key,
                                     &rec->keylen, &numfields, &err);
    if (!text) {
        if (err) fail_after_partial_record();
        return false;
    }
    *rec = {text, csv_record_parse_length(), rec->key, rec->keylen, numfields, recnum};
    return true;
}

// Reads CSVFILE2 record recnum into rec; false at the end of the file. A CSV or read error in
// CSVFILE2 ends the run: a join that went on without the records that follow it would lose
// matches silently.
[[gnu::always_inline]] inline static bool read_record2(FILE *fp, const char *name, int recnum,
                                                       char verbose, int keyfield, record2 *rec) {
    if (__builtin_expect(multikey, 0)) return read_record2_keys(fp, name, recnum, verbose, rec);
    char *key;
    int numfields;
    char err;
    const char *text =
        csv_record_read_and_get_field(fp, name, recnum, verbose, keyfield, &key, &numfields, &err);
    if (!text) {
        if (err) fail_after_partial_record();
        return false;
    }
    rec->text = text;
    rec->textlen = csv_record_parse_length();
    rec->numfields = numfields;
    rec->recnum = recnum;
    rec->key = key;
    rec->keylen = key ? prepare_key(key) : 0;
    return true;
}

// Every comparison of two keys, so that -i folds case alike in the scan, the index and the
// forward pass; the index's hash folds with it. Chosen once, so that a comparison costs what
// it did before -i.
static bool (*same_key)(const held_key *k, const char *key, int keylen) = held_key_equals;

static bool matches_keycopy(const char *key, int keylen) {
    return key && same_key(&keycopy, key, keylen);
}

// ---- CSVFILE2 in the default mode: a regular file, read forward and at any offset -----------

// fp reads CSVFILE2 forward from its header. fd is a regular file that holds every byte fp
// has read, from offset base on: CSVFILE2 itself, or the copy of a CSVFILE2 that cannot be
// rewound (a pipe, a terminal). at reads one record at any offset of fd, through a small
// buffer of its own, without moving fp.
struct csvfile2 {
    FILE *fp;
    const char *name;
    int fd;
    off_t base;
    FILE *at;
};

static ssize_t read_retry(int fd, char *buf, size_t n) {
    ssize_t r;
    do
        r = read(fd, buf, n);
    while (r < 0 && errno == EINTR);
    return r;
}

static ssize_t pread_retry(int fd, char *buf, size_t n, off_t off) {
    ssize_t r;
    do
        r = pread(fd, buf, n, off);
    while (r < 0 && errno == EINTR);
    return r;
}

// A stream position within the bytes [0, limit) of a file; limit < 0 means no limit.
static int seek_within(off_t *pos, off64_t *off, int whence, off_t limit) {
    off64_t to = whence == SEEK_SET ? *off : whence == SEEK_CUR ? *pos + *off : -1;
    if (to < 0 || (limit >= 0 && to > limit)) {
        errno = EINVAL;
        return -1;
    }
    *pos = *off = to;
    return 0;
}

// The copy of an input that cannot be rewound: bytes come from `in` the first time they are
// read and are appended to `fd`; bytes before `copied` are read back from fd.
struct spool {
    int in;
    int fd;
    off_t copied;
    off_t pos;
    const char *name;
    const char *dir;
};

static ssize_t spool_read(void *cookie, char *buf, size_t n) {
    spool *s = static_cast<spool *>(cookie);
    if (s->pos < s->copied) {
        ssize_t r = pread_retry(s->fd, buf, std::min(n, (size_t)(s->copied - s->pos)), s->pos);
        if (r > 0) s->pos += r;
        return r;
    }
    out_flush_before_wait(s->in);
    ssize_t r = read_retry(s->in, buf, n);
    if (r <= 0) return r;
    if (!write_fd_all(s->fd, buf, (size_t)r)) {
        int e = errno;
        errorf(e, "ERROR: failed writing the temporary copy of CSVFILE2 '%s' in '%s'", s->name,
               s->dir);
        errno = e;
        return -1;
    }
    s->copied += r;
    s->pos += r;
    return r;
}

static int spool_seek(void *cookie, off64_t *off, int whence) {
    spool *s = static_cast<spool *>(cookie);
    return seek_within(&s->pos, off, whence, s->copied);
}

// Reading at any offset of a file with pread, so that the forward stream keeps its place. The
// stream drops its buffer at every seek, so the last block read is kept here as well: records
// read in ascending order mostly come from it without a system call.
struct reader_at {
    int fd;
    off_t pos;
    off_t block_at;
    size_t block_len;
    char block[4096];
};

static ssize_t reader_at_read(void *cookie, char *buf, size_t n) {
    reader_at *r = static_cast<reader_at *>(cookie);
    if (r->pos < r->block_at || r->pos >= r->block_at + (off_t)r->block_len) {
        ssize_t got = pread_retry(r->fd, r->block, sizeof r->block, r->pos);
        if (got <= 0) return got;
        r->block_at = r->pos;
        r->block_len = (size_t)got;
    }
    size_t k = std::min(n, r->block_len - (size_t)(r->pos - r->block_at));
    memcpy(buf, r->block + (r->pos - r->block_at), k);
    r->pos += (off_t)k;
    return (ssize_t)k;
}

static int reader_at_seek(void *cookie, off64_t *off, int whence) {
    reader_at *r = static_cast<reader_at *>(cookie);
    return seek_within(&r->pos, off, whence, -1);
}

// An unlinked temporary file in $TMPDIR (or the system's default directory).
static int open_unlinked_tmpfile(const char *name, const char **dir_out) {
    const char *dir = getenv("TMPDIR");
    if (!dir || !*dir) dir = P_tmpdir;
    *dir_out = dir;
    int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != ENOENT && errno != EACCES && errno != ENOTDIR) {
        // A file system without O_TMPFILE: a named file, unlinked at once.
        char path[PATH_MAX];
        if (snprintf(path, sizeof path, "%s/zelk-merge.XXXXXX", dir) >= (int)sizeof path) {
            errno = ENAMETOOLONG;
        } else {
            fd = mkostemp(path, O_CLOEXEC);
            if (fd >= 0) unlink(path);
        }
    }
    if (fd < 0)
        fatalf(errno, "ERROR: failed creating a temporary copy of CSVFILE2 '%s' in '%s'", name,
               dir);
    return fd;
}

static FILE *cookie_stream(void *cookie, cookie_io_functions_t io, size_t bufsize) {
    FILE *fp = fopencookie(cookie, "r", io);
    if (!fp) fatalf(errno, "ERROR: failed opening CSVFILE2");
    setvbuf(fp, nullptr, _IOFBF, bufsize);
    return fp;
}

// With -o only fp is set: the forward pass reads CSVFILE2 once, whatever it is.
static void csvfile2_open(csvfile2 *f, const char *path) {
    f->fp = open_numbered_csvfile(path, 2, &f->name);
    if (opt_orderedkeys) return;
    struct stat st;
    int fd = fileno(f->fp);
    off_t base = ftello(f->fp);
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && base >= 0) {
        f->fd = fd;
        f->base = base;
    } else {
        static spool sp;
        sp.in = fd;
        sp.name = f->name;
        sp.fd = open_unlinked_tmpfile(f->name, &sp.dir);
        f->fp = cookie_stream(&sp, {spool_read, nullptr, spool_seek, nullptr}, 1 << 16);
        f->fd = sp.fd;
        f->base = 0;
    }
    static reader_at at;
    at.fd = f->fd;
    // Most records are far shorter than a page; a longer one takes more reads.
    f->at = cookie_stream(&at, {reader_at_read, nullptr, reader_at_seek, nullptr}, 4096);
}

// Puts fp back at CSVFILE2's first record after the header; a failure is fatal.
static void csvfile2_rewind(csvfile2 *f) {
    int numfields;
    char err;
    clearerr(f->fp);
    if (fseeko(f->fp, f->base, SEEK_SET) != 0 ||
        !csv_record_read(f->fp, f->name, 1, 0, &numfields, &err))
        fail_after_partial_record(FAILED_REWINDING);
}

// ---- Circular scan (default) ----------------------------------------------------------------

static int currentrec = 1; // the scan position: the record found last (1: the header)
// Set once CSVFILE2 has been read to its end, when lastrec2 became its last record number:
// every later read is a second reading of a record already checked, so its warnings (an
// unterminated last record) are not repeated.
static bool seen_end2;
static int lastrec2;

// Reads CSVFILE2 forward for a record whose key is keycopy, up to and including record `last`
// (0: to the end of the file).
[[gnu::always_inline]] inline static bool scan_forward(csvfile2 *f, int keyfield, int last,
                                                       record2 *rec) {
    while (last == 0 || currentrec < last) {
        if (!read_record2(f->fp, f->name, currentrec + 1, seen_end2 ? 0 : 1, keyfield, rec)) {
            if (!seen_end2) lastrec2 = currentrec;
            seen_end2 = true;
            return false;
        }
        currentrec++;
        if (matches_keycopy(rec->key, rec->keylen)) return true;
    }
    return false;
}

// A key held by several CSVFILE2 records is worth a warning when only one of them is joined:
// not with -m, which joins them all, nor with -x, which joins none.
static bool warns_same_keys(void) {
    return !opt_manymatches && !opt_onlyunmatched;
}

static void warn_same_key(int first, int later, const char *key, int keylen) {
    errorf(0, "Warning: CSVFILE2 records #%d and #%d have the same key: %s", first, later,
           shown_key(key, keylen));
}

#if ZELK_MERGE_REFERENCE_SCAN

// The reference for the index's duplicate-key warnings: when the scan looks behind its
// position for the first time, each key held by more than one CSVFILE2 record is reported
// once, in the order of the records, naming its first two records.
static void reference_warn_same_keys(csvfile2 *f, int keyfield) {
    std::unordered_map<std::string, int> first; // key -> its first record, or 0 once reported
    csvfile2_rewind(f);
    record2 rec;
    for (int r = 2; read_record2(f->fp, f->name, r, 0, keyfield, &rec); r++) {
        if (!rec.key) continue;
        std::string key(rec.key, (size_t)rec.keylen);
        if (opt_ignorecase)
            for (char &c : key)
                c = (char)ascii_lower((unsigned char)c);
        auto [it, fresh] = first.try_emplace(key, r);
        if (fresh || it->second == 0) continue;
        warn_same_key(it->second, r, rec.key, rec.keylen);
        it->second = 0;
    }
}

// Visits every CSVFILE2 record once, beginning just after the previous match: when both files
// list their keys in the same order, each match costs one read. A scan that starts at record 1
// does not go round.
static bool circular_scan(csvfile2 *f, int keyfield, record2 *rec) {
    static bool looked_back;
    const int start = currentrec;
    if (scan_forward(f, keyfield, 0, rec)) return true;
    if (start == 1) return false;
    if (!looked_back) {
        looked_back = true;
        if (warns_same_keys()) reference_warn_same_keys(f, keyfield);
    }
    csvfile2_rewind(f);
    currentrec = 1;
    return scan_forward(f, keyfield, start, rec);
}
#endif

// ---- The index (default mode) ---------------------------------------------------------------

// Gives each key the record the circular scan would find, without the scan. Until a key has
// to be looked for behind the scan position, CSVFILE2 is read forward exactly as the scan
// reads it, and nothing is held. The first such key finds CSVFILE2 read to its end; its
// records are then read once more and indexed: the offset of every record, and an open
// addressing table from a 64-bit hash of each key to its records. A candidate is confirmed by
// reading its record at its offset, which a match needs anyway. A key held by several records
// has their numbers in ascending order, so the one the scan would reach first from any
// position is found by a binary search.
namespace keyindex {

struct slot {
    uint32_t check; // the high half of the key's hash
    uint32_t ref;   // 0: empty; the key's record; or SHARED | its entry in the shared lists
};
constexpr uint32_t SHARED = 0x80000000u;

bool built;
uint64_t seed;
off_t *offsets;      // by record number
slot *table;         // a power of two in size, at most three quarters full
size_t mask;         // the table's size less one
uint32_t *shared;    // the records of the keys held by several, key after key
uint32_t *shared_at; // where each such key's records begin in shared, and the end
size_t found;        // the slot of the key lookup found last
bool *key_matched;   // -r: by slot, whether a CSVFILE1 key found it

// p resized to n elements; running out of memory ends the run.
template <class T> T *resize(T *p, size_t n) {
    p = static_cast<T *>(realloc(p, n ? n * sizeof(T) : 1));
    if (!p) fail_after_partial_record("ERROR: not enough memory to index CSVFILE2");
    return p;
}

template <class T> struct growing {
    T *p = nullptr;
    size_t n = 0, cap = 0;
    void push(T v) {
        if (n == cap) p = resize(p, cap = cap ? cap * 2 : 64);
        p[n++] = v;
    }
    void append(const T *v, size_t k) {
        if (n + k > cap) p = resize(p, cap = std::max(cap * 2, n + k));
        memcpy(p + n, v, k * sizeof(T));
        n += k;
    }
};

// The key of each shared key's first record, while they fit in KEPT_KEYS_MAX bytes: a later
// record of the key, or a CSVFILE1 key looked up, is then confirmed without reading the first
// record again, which costs a system call at a random place of the file.
constexpr size_t KEPT_KEYS_MAX = ZELK_MERGE_FEW_HASHES ? 16 : 16u << 20;
constexpr uint32_t NOT_KEPT = UINT32_MAX;
struct kept_ref {
    uint32_t at; // where the key's bytes begin in kept, or NOT_KEPT
    uint32_t len;
};
growing<char> kept;
growing<kept_ref> kept_refs; // by shared key

// Keeps the key of the shared key just added, if it fits.
void keep_key(const held_key *key) {
    if (kept.n + (size_t)key->len > KEPT_KEYS_MAX) {
        kept_refs.push(kept_ref{NOT_KEPT, 0});
        return;
    }
    kept_refs.push(kept_ref{(uint32_t)kept.n, (uint32_t)key->len});
    kept.append(key->text, (size_t)key->len);
}

// Whether key is shared key k's (same_key): 1 or 0, or -1 when its key was not kept.
int is_kept_key(uint32_t k, const held_key *key) {
    const kept_ref r = kept_refs.p[k];
    if (r.at == NOT_KEPT) return -1;
    return same_key(key, kept.p + r.at, (int)r.len);
}

template <bool Fold> [[gnu::always_inline]] inline uint64_t hash_of(const char *p, int n) {
    uint64_t h = seed ^ 0xcbf29ce484222325u;
    for (int i = 0; i < n; i++)
        h = (h ^ (Fold ? ascii_lower((unsigned char)p[i]) : (unsigned char)p[i])) * 0x100000001b3u;
    h ^= h >> 33; // the finaliser of MurmurHash3: every input bit reaches the low bits
    h *= 0xff51afd7ed558ccdu;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53u;
    h ^= h >> 33;
    if (ZELK_MERGE_FEW_HASHES) h &= 0x100000001u;
    return h;
}

// Keys that compare equal (same_key) hash alike. Kept inline, as it was before -i, where the
// index is built and searched.
[[gnu::always_inline]] inline uint64_t hash(const char *p, int n) {
    return opt_ignorecase ? hash_of<true>(p, n) : hash_of<false>(p, n);
}

bool take_ahead(int recnum, int keyfield, record2 *rec);

// Reads record recnum into rec, as read ahead or through the reader at offsets; the record has
// been read before.
void read_at(csvfile2 *f, int keyfield, int recnum, record2 *rec) {
    if (take_ahead(recnum, keyfield, rec)) return;
    if (fseeko(f->at, offsets[(size_t)recnum], SEEK_SET) != 0 ||
        !read_record2(f->at, f->name, recnum, 0, keyfield, rec))
        fail_after_partial_record(FAILED_REWINDING);
}

// Indexes records 2 to lastrec2. Each key held by a second record is reported once.
void build(csvfile2 *f, int keyfield) {
    const size_t n = (size_t)lastrec2;
    size_t cap = 16;
    while (cap / 4 * 3 < n)
        cap <<= 1;
    mask = cap - 1;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != (ssize_t)sizeof seed)
        seed = (uint64_t)getpid() * 0x9e3779b97f4a7c15u;
    offsets = resize(offsets, n + 2); // and where the last record ends
    table = resize(table, cap);
    memset(table, 0, cap * sizeof *table);
    struct later {
        uint32_t key; // a shared key's entry
        uint32_t rec;
    };
    growing<uint32_t> first_of; // each shared key's first record
    growing<later> more;        // the later records of the shared keys
    static held_key key;

    csvfile2_rewind(f);
    for (size_t r = 2; r <= n; r++) {
        offsets[r] = ftello(f->fp);
        record2 rec;
        if (!read_record2(f->fp, f->name, (int)r, 0, keyfield, &rec))
            fail_after_partial_record(FAILED_REWINDING);
        if (!rec.key) continue;
        const uint64_t h = hash(rec.key, rec.keylen);
        const uint32_t check = (uint32_t)(h >> 32);
        bool copied = false;
        size_t i = h & mask;
        for (; table[i].ref; i = (i + 1) & mask) {
            if (table[i].check != check) continue;
            // The same hash: the same key only if the earlier record's key is equal. Reading
            // it overwrites the library's buffers, so this record's key is kept first.
            if (!copied) {
                held_key_set(&key, rec.key, rec.keylen);
                copied = true;
            }
            const uint32_t ref = table[i].ref;
            int same = ref & SHARED ? is_kept_key(ref & ~SHARED, &key) : -1;
            if (same < 0) {
                record2 other;
                read_at(f, keyfield, (int)(ref & SHARED ? first_of.p[ref & ~SHARED] : ref), &other);
                same = same_key(&key, other.key, other.keylen);
            }
            if (!same) continue;
            if (!(ref & SHARED)) {
                if (warns_same_keys()) warn_same_key((int)ref, (int)r, key.text, key.len);
                table[i].ref = SHARED | (uint32_t)first_of.n;
                first_of.push(ref);
                keep_key(&key);
            }
            more.push(later{table[i].ref & ~SHARED, (uint32_t)r});
            break;
        }
        if (!table[i].ref) table[i] = slot{check, (uint32_t)r};
    }

    offsets[n + 1] = ftello(f->fp);

    // The shared keys' records, key after key, each key's in ascending order: the first
    // record, then the later ones in the order they were met.
    const size_t nshared = first_of.n;
    shared_at = resize(shared_at, nshared + 1);
    memset(shared_at, 0, (nshared + 1) * sizeof *shared_at);
    for (size_t j = 0; j < more.n; j++)
        shared_at[more.p[j].key + 1]++;
    for (size_t k = 0; k < nshared; k++)
        shared_at[k + 1] += shared_at[k] + 1;
    shared = resize(shared, more.n + nshared);
    uint32_t *fill = resize<uint32_t>(nullptr, nshared); // the next place in each key's list
    for (size_t k = 0; k < nshared; k++) {
        fill[k] = shared_at[k];
        shared[fill[k]++] = first_of.p[k];
    }
    for (size_t j = 0; j < more.n; j++)
        shared[fill[more.p[j].key]++] = more.p[j].rec;
    free(fill);
    free(first_of.p);
    free(more.p);
    if (opt_unmatched2) key_matched = static_cast<bool *>(calloc(cap, sizeof *key_matched));
    if (opt_unmatched2 && !key_matched)
        fail_after_partial_record("ERROR: not enough memory to index CSVFILE2");
    built = true;
}

// The records of the key of slot s, in ascending order: [*b, *e).
void records_of(const slot &s, const uint32_t **b, const uint32_t **e) {
    if (s.ref & SHARED) {
        const uint32_t k = s.ref & ~SHARED;
        *b = shared + shared_at[k];
        *e = shared + shared_at[k + 1];
    } else {
        *b = &s.ref;
        *e = *b + 1;
    }
}

// The record that a scan for the key of slot s starting after record `from` reaches first: the
// first one after `from`, else the first of all.
uint32_t first_reached(slot s, int from) {
    if (!(s.ref & SHARED)) return s.ref;
    const uint32_t k = s.ref & ~SHARED;
    const uint32_t *b = shared + shared_at[k], *e = shared + shared_at[k + 1];
    const uint32_t *p = std::upper_bound(b, e, (uint32_t)from);
    return p == e ? *b : *p;
}

// Finds the record the scan would find for keycopy, read into rec. When the caller reads the
// key's records itself (-m), a key held by several records that matches the kept key is found
// without reading, and rec->recnum is 0.
bool lookup(csvfile2 *f, int keyfield, record2 *rec) {
    const uint64_t h = hash(keycopy.text, keycopy.len);
    const uint32_t check = (uint32_t)(h >> 32);
    for (size_t i = h & mask; table[i].ref; i = (i + 1) & mask) {
        if (table[i].check != check) continue;
        const uint32_t r = first_reached(table[i], currentrec);
        if (opt_manymatches && !opt_onlyunmatched && (table[i].ref & SHARED)) {
            const int same = is_kept_key(table[i].ref & ~SHARED, &keycopy);
            if (same == 0) continue;
            if (same == 1) {
                rec->recnum = 0;
                currentrec = (int)r;
                found = i;
                return true;
            }
        }
        read_at(f, keyfield, (int)r, rec);
        if (matches_keycopy(rec->key, rec->keylen)) {
            currentrec = (int)r;
            found = i;
            return true;
        }
    }
    return false;
}

// Marks, by record number (want, lastrec2 + 1 entries), the records whose key no CSVFILE1 key
// found.
void mark_unmatched(bool *want) {
    for (size_t i = 0; i <= mask; i++) {
        if (!table[i].ref || key_matched[i]) continue;
        const uint32_t *b, *e;
        records_of(table[i], &b, &e);
        for (; b != e; b++)
            want[*b] = true;
    }
}

// ---- Records read ahead, in file order ------------------------------------------------------

// Every match the index finds is a read at a random place of CSVFILE2: a system call each, most
// of the time of a join of many keys. When CSVFILE1 is a regular file and its key is one field,
// the join's coming records are looked at ahead (a second, silent reading of its bytes), and the
// CSVFILE2 records that their keys' candidates hold are read in file order, many records a
// read, and held until the join reaches them. They are only a copy of CSVFILE2's bytes: a
// record not read ahead (one the look ahead could not parse, one holding a NUL byte) is read at
// its offset as before, so the result never depends on the look ahead. What it holds is
// bounded, whatever the size of the files.
constexpr size_t AHEAD_BYTES = ZELK_MERGE_FEW_HASHES ? 256 : 2u << 20; // records' bytes held
constexpr size_t AHEAD_RECORDS = ZELK_MERGE_FEW_HASHES ? 8 : 1u << 16; // records held
constexpr size_t AHEAD_SLOTS = 2 * AHEAD_RECORDS; // a power of two: a set at most half full
constexpr size_t WINDOW = 1u << 18;               // the largest read of either file

bool ahead_on; // CSVFILE1 is looked at ahead
int fd1;       // CSVFILE1
off_t pos1;    // the offset of the next record of CSVFILE1 the look ahead has not seen
int next1;     // its record number
char *buf1;    // bytes of CSVFILE1 from offset buf1_at on, buf1_len of them read
off_t buf1_at;
size_t buf1_len;
char *buf2; // bytes of CSVFILE2

// The records wanted by the records of CSVFILE1 looked at, as an open addressing set by record
// number (0: an empty place); held is the place of a record's text in held_at, or NOT_HELD.
struct wanted_record {
    uint32_t rec;
    uint32_t held;
};
constexpr uint32_t NOT_HELD = UINT32_MAX;
wanted_record *wanted_set;
size_t nwanted;
size_t wanted_bytes;
growing<uint32_t> wanted;  // the records wanted, ascending, while they are read
growing<uint32_t> held_at; // where each record held begins in held
growing<char> held;

wanted_record *wanted_place(uint32_t r) {
    size_t i = (r * 0x9e3779b1u) & (AHEAD_SLOTS - 1);
    while (wanted_set[i].rec && wanted_set[i].rec != r)
        i = (i + 1) & (AHEAD_SLOTS - 1);
    return &wanted_set[i];
}

bool ahead_full() {
    return wanted_bytes >= AHEAD_BYTES || nwanted >= AHEAD_RECORDS;
}

// The text of CSVFILE1's next record from pos1, its terminator removed, in *text (len bytes and
// a NUL, in buf1); false at the end of the file or where the look ahead cannot go on (a read
// error, a record longer than WINDOW).
bool next_record1(char **text, size_t *len) {
    for (int pass = 0; pass < 2; pass++) {
        const size_t from = (size_t)(pos1 - buf1_at);
        bool quoted = false;
        size_t i = from;
        for (; i < buf1_len; i++) {
            if (buf1[i] == '"') quoted = !quoted;
            if (buf1[i] == '\n' && !quoted) break;
        }
        const bool to_the_end = buf1_len < WINDOW - 1; // the read reached the end of the file
        if (i < buf1_len || (to_the_end && i > from)) {
            pos1 += (off_t)(i - from) + (i < buf1_len);
            *len = i - from - (i < buf1_len && i > from && buf1[i - 1] == '\r');
            *text = buf1 + from;
            (*text)[*len] = 0;
            return true;
        }
        // No whole record left: read on from pos1.
        if (pass == 1) return false;
        const ssize_t got = pread_retry(fd1, buf1, WINDOW - 1, pos1);
        if (got <= 0) return false;
        buf1_at = pos1;
        buf1_len = (size_t)got;
    }
    return false;
}

// The key field of a record the string parser has cut into n fields (ending at end), as
// read_record2 gives it: copied (-u: its value) into a buffer of its own, *len bytes and a
// NUL. Null when it is too long to hold.
const char *parsed_key(char **fields, int n, int keyfield, const char *end, int *len) {
    static char key[MAX_FIELD_LENGTH];
    int klen = csv_parsed_field_length(fields, n, keyfield, end);
    if (klen >= MAX_FIELD_LENGTH) return nullptr;
    memcpy(key, fields[keyfield - 1], (size_t)klen);
    key[klen] = 0;
    *len = opt_unquotekeys ? csv_field_value_inplace(key, klen) : klen;
    return key;
}

// The candidates' records of the key of CSVFILE1's record text (len bytes, record recnum, its
// key field keyfield), added to the records wanted; nothing when the text cannot be parsed.
void want_records_of(char *text, size_t len, int recnum, int keyfield) {
    if (memchr(text, 0, len)) return;
    char **fields;
    char err;
    const int n = csv_record_string_parse(text, recnum, 0, &fields, &err, 0);
    int klen;
    const char *key = n >= keyfield ? parsed_key(fields, n, keyfield, text + len, &klen) : nullptr;
    if (!key) return;
    const uint64_t h = hash(key, klen);
    const uint32_t check = (uint32_t)(h >> 32);
    for (size_t i = h & mask; table[i].ref; i = (i + 1) & mask) {
        if (table[i].check != check) continue;
        const uint32_t *b, *e;
        records_of(table[i], &b, &e);
        for (; b != e && !ahead_full(); b++) {
            wanted_record *w = wanted_place(*b);
            if (w->rec) continue;
            *w = {*b, NOT_HELD};
            nwanted++;
            wanted_bytes += (size_t)(offsets[*b + 1] - offsets[*b]);
        }
    }
}

// Reads the wanted records in file order, each read taking as many as fit in WINDOW bytes, and
// holds their texts, terminators removed.
void read_wanted(csvfile2 *f) {
    wanted.n = 0;
    for (size_t i = 0; i < AHEAD_SLOTS; i++)
        if (wanted_set[i].rec) wanted.push(wanted_set[i].rec);
    std::sort(wanted.p, wanted.p + wanted.n);
    const uint32_t *w = wanted.p, *end = w + wanted.n;
    while (w != end) {
        const off_t from = offsets[*w];
        const uint32_t *last = w;
        while (last + 1 != end && offsets[last[1] + 1] - from <= (off_t)WINDOW)
            last++;
        const size_t n = (size_t)(offsets[*last + 1] - from);
        const bool got = n <= WINDOW && pread_retry(f->fd, buf2, n, from) == (ssize_t)n;
        for (; w != last + 1; w++) {
            const char *t = buf2 + (offsets[*w] - from);
            size_t len = (size_t)(offsets[*w + 1] - offsets[*w]);
            if (len && t[len - 1] == '\n') len -= 1 + (len > 1 && t[len - 2] == '\r');
            // Left to be read at its offset: a last record ending in a carriage return, which
            // the reader takes apart, and a NUL byte, which would end the text.
            if (!got || (len && t[len - 1] == '\r') || memchr(t, 0, len)) continue;
            wanted_place(*w)->held = (uint32_t)held_at.n;
            held_at.push((uint32_t)held.n);
            held.append(t, len);
            held.push(0);
        }
    }
}

// Starts looking ahead at CSVFILE1 (fp, whose next record is recnum), if it is a regular file
// and its key one field.
void start_ahead(FILE *fp, int recnum) {
    struct stat st;
    if (multikey || fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const off_t pos = ftello(fp);
    if (pos < 0) return;
    ahead_on = true;
    fd1 = fileno(fp);
    pos1 = buf1_at = pos;
    next1 = recnum;
    buf1 = resize<char>(nullptr, WINDOW);
    buf2 = resize<char>(nullptr, WINDOW);
    wanted_set = resize<wanted_record>(nullptr, AHEAD_SLOTS);
}

// Before the join reads CSVFILE1 record recnum: when the look ahead has not seen it, the
// records held are dropped, and those wanted by the next records of CSVFILE1 (keyfield their
// key) are read.
void look_ahead(csvfile2 *f, int keyfield, int recnum) {
    if (recnum < next1) return;
    memset(wanted_set, 0, AHEAD_SLOTS * sizeof *wanted_set);
    nwanted = wanted_bytes = held_at.n = held.n = 0;
    char *text;
    size_t len;
    while (!ahead_full() && next_record1(&text, &len))
        want_records_of(text, len, next1++, keyfield);
    if (recnum >= next1) ahead_on = false; // the end of CSVFILE1, or it could not be read
    read_wanted(f);
}

// Record recnum as read ahead into rec, as read_record2 reads it; false when it was not.
bool take_ahead(int recnum, int keyfield, record2 *rec) {
    if (!ahead_on) return false;
    const wanted_record *w = wanted_place((uint32_t)recnum);
    if (!w->rec || w->held == NOT_HELD) return false;
    const uint32_t k = w->held;
    char *text = held.p + held_at.p[k];
    const int len = (int)((k + 1 < held_at.n ? held_at.p[k + 1] : held.n) - held_at.p[k] - 1);
    char **fields;
    char err;
    const int n = csv_record_string_parse(text, recnum, 0, &fields, &err, 0);
    if (n < 0) return false;
    *rec = {text, len, nullptr, 0, n, recnum};
    if (n < keyfield) return true;
    rec->key = parsed_key(fields, n, keyfield, text + len, &rec->keylen);
    return rec->key != nullptr;
}

} // namespace keyindex

// -m and -r: CSVFILE2 read forward to its end, with the warnings of a first reading, and indexed.
static void index_csvfile2(csvfile2 *f, int keyfield) {
    record2 rec;
    while (read_record2(f->fp, f->name, currentrec + 1, 1, keyfield, &rec))
        currentrec++;
    lastrec2 = currentrec;
    seen_end2 = true;
    currentrec = 1;
    keyindex::build(f, keyfield);
}

// The default mode's search for keycopy, kept inline in the record loop, as it was when the
// loop was built once.
[[gnu::always_inline]] inline static bool default_scan(csvfile2 *f, int keyfield, record2 *rec) {
#if ZELK_MERGE_REFERENCE_SCAN
    if (keyindex::built) return keyindex::lookup(f, keyfield, rec); // -m, -r
    return circular_scan(f, keyfield, rec);
#else
    if (!keyindex::built) {
        const int start = currentrec;
        if (scan_forward(f, keyfield, 0, rec)) return true;
        if (start == 1) return false;
        keyindex::build(f, keyfield);
        currentrec = start;
    }
    return keyindex::lookup(f, keyfield, rec);
#endif
}

// ---- Forward pass (-o) ----------------------------------------------------------------------

static int currentrec_o = 1;
static bool lastmatched = true; // the pending record was used; the next one must be read
static held_record record2copy; // the pending record, waiting for a later CSVFILE1 key
static held_key key2copy;
static int numfields2; // the pending record's field count
static bool used_up2;  // CSVFILE2 has ended: nothing matches any more

// Reads the next CSVFILE2 record that has the key field; false at the end of the file. A
// record without the key field can never match; waiting on it would block every later match,
// so it is passed over.
static bool read_keyed_record2(FILE *fp, const char *name, int keyfield, record2 *rec) {
    do {
        if (!read_record2(fp, name, currentrec_o + 1, 1, keyfield, rec)) {
            used_up2 = true;
            return false;
        }
        currentrec_o++;
    } while (!rec->key);
    return true;
}

static bool forward_pass(FILE *fp, const char *name, int keyfield, record2 *rec) {
    if (lastmatched) {
        if (used_up2 || !read_keyed_record2(fp, name, keyfield, rec)) return false;
        if (matches_keycopy(rec->key, rec->keylen)) return true;
        held_record_set(&record2copy, rec->text, rec->textlen);
        held_key_set(&key2copy, rec->key, rec->keylen);
        numfields2 = rec->numfields;
        lastmatched = false;
        return false;
    }
    if (!same_key(&keycopy, key2copy.text, key2copy.len)) return false;
    lastmatched = true;
    *rec = {record2copy.text, record2copy.len, key2copy.text,
            key2copy.len,     numfields2,      currentrec_o};
    return true;
}

// After the last CSVFILE1 record, with -a: a CSVFILE2 record still waiting, or one not read
// yet, matched no CSVFILE1 key, and may have kept later keys from their matches.
static bool forward_pass_complete(FILE *fp, const char *name, int keyfield) {
    const char *key;
    int keylen;
    if (!lastmatched) {
        key = key2copy.text;
        keylen = key2copy.len;
    } else {
        record2 rec;
        if (used_up2 || !read_keyed_record2(fp, name, keyfield, &rec)) return true;
        key = rec.key;
        keylen = rec.keylen;
    }
    errorf(0,
           "ERROR: CSVFILE2 record #%d (key %s) matched no CSVFILE1 record: with -o, both files "
           "must list the same keys in the same order",
           currentrec_o, shown_key(key, keylen));
    return false;
}

// ---- The join -------------------------------------------------------------------------------

// Refuses a key field that the header (and so every record checked against it) lacks.
static bool key_field_exists(int n, int keyfield, int headerfields) {
    if (keyfield <= headerfields) return true;
    errorf(0, "ERROR: CSVFILE%d header: KEY_FIELD%d #%d does not exist (%d fields)", n, n, keyfield,
           headerfields);
    return false;
}

// -r, after the last CSVFILE1 record: the CSVFILE2 records whose key no CSVFILE1 key found, in
// CSVFILE2's order, after headerfields1 empty fields (with -x alone). A record without the key
// field that is not blank is written too, so that it fails the field count rather than vanish.
static bool write_unmatched2(csvfile2 *f, int keyfield, int headerfields1, int headerfields2) {
    bool *want = keyindex::resize<bool>(nullptr, (size_t)lastrec2 + 1);
    memset(want, 0, (size_t)lastrec2 + 1);
    keyindex::mark_unmatched(want);
    char fill[520];
    const int ncommas = headerfields1 > 1 ? headerfields1 - 1 : 0;
    memset(fill, ',', (size_t)ncommas);
    csvfile2_rewind(f);
    record2 rec;
    for (int r = 2; read_record2(f->fp, f->name, r, 0, keyfield, &rec); r++) {
        if (rec.key ? !want[r] : rec.numfields == 0) continue;
        if (rec.numfields != headerfields2) {
            error_numbered_field_count(2, "unmatched ", r, rec.numfields, headerfields2);
            free(want);
            return false;
        }
        stat_unmatched2++;
        out_rec_begin(r);
        if (!opt_onlyunmatched) {
            joined_part(fill, (size_t)ncommas, headerfields1);
            joined_separator(opt_recseparator);
        }
        joined_part(rec.text, (size_t)rec.textlen, rec.numfields);
        out_rec_end();
        errcheck_stdout_exit();
    }
    free(want);
    return true;
}

// Fails the run on a matched CSVFILE2 record whose field count is not its header's.
static void check_matched_fields(const record2 &rec, int headerfields2) {
    if (rec.numfields == headerfields2) return;
    end_partial_record();
    error_numbered_field_count(2, "matching ", rec.recnum, rec.numfields, headerfields2);
    cli_exit(1);
}

// The key fields of CSVFILE<n> when KEY_FIELD<n> is a list, resolved against its header as
// zelk-columns resolves a FIELDS_LIST (numbers and ranges, or with -Q names). With -Q a name
// the header holds whole, commas and all, is one field. Returns the number of the one field of
// a key of one field, else 0 with the fields in list.
static int key_fields(int n, const char *operand, int numfields, char **fields, const char *end,
                      field_list *list) {
    if (opt_queryfieldnames) {
        const int f = header_field_lookup(operand, numfields, fields, end);
        if (f) return f;
    }
    char *text = strdup(operand);
    if (!text) fail_after_partial_record("ERROR: not enough memory");
    field_list_parse(text, {opt_queryfieldnames != 0, false, false}, numfields, fields, end, list);
    free(text);
    if (list->openended) {
        errorf(0, "ERROR: KEY_FIELD%d: a key cannot end with an open range", n);
        cli_exit(1);
    }
    return list->count == 1 ? list->index[0] + 1 : 0;
}

// Extra: any of -m, -r, -x or a list of key fields. Without them the record loop is built
// without their tests, so that they cost a plain join nothing.
template <bool Extra>
static bool join_csv_streams(FILE *fp1, const char *name1, csvfile2 *f2, int keyfield1,
                             int keyfield2) {
    FILE *fp2 = f2->fp;
    const char *name2 = f2->name;
    int numfields;
    char **fields;
    char err;

    size_t len;
    // The CSVFILE1 record (or header) that must outlive reads of CSVFILE2: -x writes it after
    // its key has been looked for, -m writes it before every match after the first. The header
    // waits too while a KEY_FIELD2 list may yet be refused.
    static held_record rec1;
    const bool hold_header1 = opt_onlyunmatched || keyliststr2;

    stat_numrecords1 = 1;
    const char *text = read_numbered_header(fp1, name1, 1, &numfields, &fields, &len);
    if (!text) return false;
    if (keyliststr1)
        keyfield1 = key_fields(1, keyliststr1, numfields, fields, text + len, &keylist1);
    else if (opt_queryfieldnames)
        keyfield1 = fieldname2fieldnum(opt_keynamestr1, numfields, fields);
    if (!key_field_exists(1, keyfield1, numfields)) return false;
    const int headerfields1 = numfields;
    if (hold_header1) {
        held_record_set(&rec1, text, (int)len);
    } else {
        out_rec_begin(1);
        joined_part(text, len, numfields);
    }

    text = read_numbered_header(fp2, name2, 2, &numfields, &fields, &len);
    if (!text) {
        end_partial_record();
        return false;
    }
    // The CSVFILE1 part is ended before an unknown name stops the run.
    if (keyliststr2) {
        keyfield2 = key_fields(2, keyliststr2, numfields, fields, text + len, &keylist2);
    } else if (opt_queryfieldnames) {
        if (header_field_lookup(opt_keynamestr2, numfields, fields, text + len) == 0)
            end_partial_record();
        keyfield2 = fieldname2fieldnum(opt_keynamestr2, numfields, fields);
    }
    if (!key_field_exists(2, keyfield2, numfields)) {
        end_partial_record();
        return false;
    }
    const int nkeys1 = keyfield1 ? 1 : keylist1.count, nkeys2 = keyfield2 ? 1 : keylist2.count;
    if (nkeys1 != nkeys2) {
        end_partial_record();
        errorf(0,
               "ERROR: KEY_FIELD1 has %d fields and KEY_FIELD2 %d: keys are compared field "
               "by field",
               nkeys1, nkeys2);
        return false;
    }
    multikey = nkeys1 > 1;
    const int headerfields2 = numfields;
    if (!opt_onlyunmatched) {
        if (hold_header1) {
            out_rec_begin(1);
            joined_part(rec1.text, (size_t)rec1.len, headerfields1);
        }
        joined_separator(opt_recseparator);
        joined_part(text, len, numfields);
    } else if (opt_unmatched2) {
        out_rec_begin(1);
        joined_part(text, len, numfields);
    } else {
        out_rec_begin(1);
        joined_part(rec1.text, (size_t)rec1.len, headerfields1);
    }
    out_rec_end();
    errcheck_stdout_exit();
    if (opt_manymatches || opt_unmatched2) index_csvfile2(f2, keyfield2);

    // -a: the CSVFILE2 part of an unmatched record, as many empty fields as its header has.
    char fill[520];
    int ncommas = headerfields2 > 1 ? headerfields2 - 1 : 0;
    memset(fill, ',', (size_t)ncommas);

    for (bool ahead_started = false;;) {
        if (__builtin_expect(keyindex::built, 0)) {
            if (!ahead_started) keyindex::start_ahead(fp1, stat_numrecords1 + 1);
            ahead_started = true;
            if (keyindex::ahead_on) keyindex::look_ahead(f2, keyfield1, stat_numrecords1 + 1);
        }
        char *key;
        const char *keys = nullptr; // a key of several fields
        int keyslen = 0;
        text = Extra && multikey
                   ? read_multikey(fp1, name1, 1, stat_numrecords1 + 1, 1, keylist1, &keys,
                                   &keyslen, &numfields, &err)
                   : csv_record_read_and_get_field(fp1, name1, stat_numrecords1 + 1, 1, keyfield1,
                                                   &key, &numfields, &err);
        if (!text) {
            if (err) return false;
            if (Extra && opt_unmatched2)
                return write_unmatched2(f2, keyfield2, headerfields1, headerfields2);
            return !(opt_orderedkeys && opt_allowmissing) ||
                   forward_pass_complete(fp2, name2, keyfield2);
        }
        stat_numrecords1++;
        if (numfields != headerfields1) {
            error_numbered_field_count(1, "", stat_numrecords1, numfields, headerfields1);
            return false;
        }
        if (Extra && (opt_onlyunmatched || opt_manymatches))
            held_record_set(&rec1, text, csv_record_parse_length());
        if (!(Extra && opt_onlyunmatched)) {
            out_rec_begin(stat_numrecords1);
            joined_part(text, (size_t)csv_record_parse_length(), numfields);
        }
        if (Extra && multikey)
            held_key_set(&keycopy, keys, keyslen);
        else
            held_key_set(&keycopy, key, prepare_key(key));

        record2 rec;
        bool matched = opt_orderedkeys ? forward_pass(fp2, name2, keyfield2, &rec)
                                       : default_scan(f2, keyfield2, &rec);
        if (Extra && matched && opt_unmatched2) keyindex::key_matched[keyindex::found] = true;
        if (Extra && opt_onlyunmatched) {
            if (matched) {
                check_matched_fields(rec, headerfields2);
            } else if (!opt_unmatched2) {
                out_rec_begin(stat_numrecords1);
                joined_part(rec1.text, (size_t)rec1.len, numfields);
                out_rec_end();
            }
        } else if (Extra && matched && opt_manymatches) {
            const uint32_t *b, *e;
            keyindex::records_of(keyindex::table[keyindex::found], &b, &e);
            for (const uint32_t *p = b; p != e; p++) {
                if (p != b) {
                    out_rec_begin(stat_numrecords1);
                    joined_part(rec1.text, (size_t)rec1.len, numfields);
                }
                if (rec.recnum != (int)*p) keyindex::read_at(f2, keyfield2, (int)*p, &rec);
                check_matched_fields(rec, headerfields2);
                stat_nummatches2++;
                joined_separator(opt_recseparator);
                joined_part(rec.text, (size_t)rec.textlen, rec.numfields);
                out_rec_end();
            }
        } else if (matched) {
            check_matched_fields(rec, headerfields2);
            stat_nummatches2++;
            joined_separator(opt_recseparator);
            joined_part(rec.text, (size_t)rec.textlen, rec.numfields);
            out_rec_end();
        } else if (opt_allowmissing) {
            joined_separator(opt_recseparator);
            joined_part(fill, (size_t)ncommas, headerfields2);
            out_rec_end();
        } else {
            end_partial_record();
            errorf(0, "ERROR: CSVFILE2 does not have matching record for key: %s",
                   shown_key(keycopy.text, keycopy.len));
            return false;
        }
        errcheck_stdout_exit();
    }
}

int main(int argc, char **argv) {
    cli_begin(&program, argc, argv);
    int c;
    while ((c = cli_next_option(argc, argv)) != -1) {
        switch (c) {
        case 'a': opt_allowmissing = 1; break;
        case 'i':
            opt_ignorecase = 1;
            same_key = held_key_equals_nocase;
            break;
        case 'm': opt_manymatches = 1; break;
        case 'o': opt_orderedkeys = 1; break;
        case 'Q': opt_queryfieldnames = 1; break;
        case 'r': opt_unmatched2 = 1; break;
        case 's': opt_recseparator = optarg; break;
        case 'u': opt_unquotekeys = 1; break;
        case 'v': opt_verbose = 1; break;
        case 'x': opt_onlyunmatched = opt_allowmissing = 1; break;
        }
    }
    if (opt_orderedkeys && (opt_manymatches || opt_unmatched2))
        fatalf(0, "ERROR: -o does not combine with -m or -r: they index all of CSVFILE2");
    int nops = argc - optind;
    if (nops < 3 || nops > 4) cli_usage_exit();
    char **ops = argv + optind;

    // A list of key fields has a comma, or without -Q a range; it is resolved against the
    // header. Any other operand is one field, as it always was.
    const char *listchars = opt_queryfieldnames ? "," : ",-";
    if (strpbrk(ops[0], listchars)) keyliststr1 = ops[0];
    if (strpbrk(ops[2], listchars)) keyliststr2 = ops[2];
    int keyfield1 = 0, keyfield2 = 0;
    if (opt_queryfieldnames) {
        opt_keynamestr1 = ops[0];
        opt_keynamestr2 = ops[2];
    } else {
        if (!keyliststr1) keyfield1 = intstrconv(ops[0], "KEY_FIELD1");
        if (!keyliststr2) keyfield2 = intstrconv(ops[2], "KEY_FIELD2");
    }

    const char *name1;
    FILE *fp1 = open_numbered_csvfile(ops[1], 1, &name1);
    csvfile2 f2;
    csvfile2_open(&f2, nops == 4 ? ops[3] : nullptr);
    const bool extra =
        opt_manymatches || opt_unmatched2 || opt_onlyunmatched || keyliststr1 || keyliststr2;
    if (!(extra ? join_csv_streams<true>(fp1, name1, &f2, keyfield1, keyfield2)
                : join_csv_streams<false>(fp1, name1, &f2, keyfield1, keyfield2)))
        cli_exit(1);

    if (opt_verbose) {
        // The report is for a complete join: the output must have been written in full.
        fflush(stdout);
        errcheck_stdout_exit();
        fprintf(stderr, "Number of (non-header) records in CSVFILE1:           %d\n",
                stat_numrecords1 - 1);
        fprintf(stderr, "Number of records joined from CSVFILE2:               %d\n",
                stat_nummatches2);
        if (opt_unmatched2)
            fprintf(stderr, "Number of CSVFILE2 records that matched no key:       %d\n",
                    stat_unmatched2);
    }
    cli_exit(0);
}
