// What the fuzz targets share: a fatal exit that returns to the target instead of ending the
// process (an intended fatal error is not a finding), memory streams, quiet messages, and the
// check that reports a broken property.
//
// The same sources build two ways: with clang and libFuzzer (scripts/fuzz), and with g++ into
// a plain driver that replays the stored corpora as ordinary tests (replay_main.cpp).
#pragma once

#include <csetjmp>
#include <string>
#include <vector>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "libcsv.h"

namespace fuzz {

inline FILE *report_stream; // the real standard error, for findings

// Called first for each input. The library's messages go to memory (they would drown the
// fuzzer's output); sanitizer and fuzzer reports write to descriptor 2 directly.
void start_messages();
inline void init() {
    if (!report_stream) report_stream = stderr;
    start_messages();
}

[[noreturn]] inline void fail(const char *what, const char *file, int line) {
    fprintf(report_stream, "%s:%d: property broken: %s\n", file, line, what);
    fflush(report_stream);
    abort();
}

// Two texts that must be equal; both are shown when they are not.
#define FUZZ_CHECK_SAME(a, b)                                                                  \
    do {                                                                                       \
        if ((a) != (b)) {                                                                      \
            fprintf(fuzz::report_stream, "[%s]\n[%s]\n", std::string(a).c_str(),             \
                    std::string(b).c_str());                                                   \
            fuzz::fail(#a " == " #b, __FILE__, __LINE__);                                      \
        }                                                                                      \
    } while (0)

#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) fuzz::fail(#cond, __FILE__, __LINE__);                                    \
    } while (0)

inline jmp_buf fatal_jump;
inline bool fatal_armed;

inline void fatal_trap(void) {
    if (fatal_armed) {
        fatal_armed = false;
        longjmp(fatal_jump, 1);
    }
}

// Runs fn(); true if it ended in the library's fatal exit (which then returned here). fn must
// hold no object with a destructor that matters, since the jump skips it.
template <class F> bool ends_fatally(F fn) {
    set_fatal_exit(fatal_trap);
    if (setjmp(fatal_jump) != 0) return true;
    fatal_armed = true;
    fn();
    fatal_armed = false;
    return false;
}

// A read stream over the bytes (fmemopen refuses an empty buffer, so that is a null file).
inline FILE *open_bytes(const uint8_t *data, size_t size) {
    if (size == 0) return fopen("/dev/null", "r");
    return fmemopen(const_cast<uint8_t *>(data), size, "r");
}

// A NUL-terminated copy of the bytes, for string interfaces.
struct owned_string {
    char *s;
    size_t n;
    owned_string(const void *p, size_t len) : s(static_cast<char *>(malloc(len + 1))), n(len) {
        memcpy(s, p, len);
        s[len] = '\0';
    }
    ~owned_string() { free(s); }
    owned_string(const owned_string &) = delete;
    owned_string &operator=(const owned_string &) = delete;
};

// The library's messages, caught in memory while a call runs: standard error is one memory
// stream for the whole run, rewound for each input.
inline FILE *messages;
inline char *messages_buf;
inline size_t messages_len;

inline void start_messages() {
    if (!messages) {
        messages = open_memstream(&messages_buf, &messages_len);
        stderr = messages;
    }
    rewind(messages);
}

// The messages fn() wrote.
template <class F> std::string messages_of(F fn) {
    fflush(messages);
    long before = ftell(messages);
    fn();
    fflush(messages);
    long after = ftell(messages);
    return std::string(messages_buf + before, (size_t)(after - before));
}

// The value of a field's raw text: a quoted field (first and last byte a double quote, a lone
// double quote included) gives its inner bytes with each pair of double quotes taken as one;
// any other text is its own value.
inline std::string value_of(const std::string &raw) {
    if (raw.empty() || raw.front() != '"' || raw.back() != '"') return raw;
    std::string v;
    for (size_t i = 1; i + 1 < raw.size(); i++) {
        v += raw[i];
        if (raw[i] == '"' && i + 2 < raw.size() && raw[i + 1] == '"') i++;
    }
    return v;
}

// The parts of s between the separators (an empty s is one empty part).
inline std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// Every record of a CSV text as the raw texts of its fields; false when the text is not valid
// CSV (the records before the error are kept).
inline bool read_records(const std::string &text, std::vector<std::vector<std::string>> &out) {
    FILE *fp = open_bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    char **fields;
    char err = 0;
    int count;
    for (int recnum = 1;; recnum++) {
        char *rec = csv_record_read_and_parse(fp, "fuzz", recnum, 0, &count, &fields, &err);
        if (!rec) break;
        std::vector<std::string> r;
        const char *end = rec + csv_record_parse_length();
        for (int i = 1; i <= count; i++)
            r.emplace_back(fields[i - 1], (size_t)csv_parsed_field_length(fields, count, i, end));
        out.push_back(r);
    }
    fclose(fp);
    return err == 0;
}

// Equal byte runs (n may be 0 with null pointers).
inline bool same(const void *a, const void *b, size_t n) { return n == 0 || memcmp(a, b, n) == 0; }

// Standard output caught in memory while a call runs.
struct output_capture {
    FILE *saved = stdout;
    char *buf = nullptr;
    size_t len = 0;
    output_capture() { stdout = open_memstream(&buf, &len); }
    // Ends the capture; the text stays in buf (len bytes).
    void end() {
        if (stdout != saved) {
            fclose(stdout);
            stdout = saved;
        }
    }
    ~output_capture() {
        end();
        free(buf);
    }
    output_capture(const output_capture &) = delete;
    output_capture &operator=(const output_capture &) = delete;
};

} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
