#include "regex_dfa.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <new>
#include <regex.h>

#include "libcsv.h"

char_encoding locale_char_encoding() {
    if (MB_CUR_MAX == 1) return char_encoding::single_byte;
    return strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? char_encoding::utf8
                                                      : char_encoding::other_multibyte;
}

bool ascii_only_meaning(const char *p, int cflags) {
    if (cflags & REG_ICASE) return false;
    // Without collation rules regcomp compares a range's ends by code point.
    const char *coll = setlocale(LC_COLLATE, nullptr);
    bool codepoint_ranges = coll && (strcmp(coll, "C") == 0 || strcmp(coll, "POSIX") == 0);
    for (size_t i = 0; p[i]; i++) {
        if ((unsigned char)p[i] >= 0x80 || p[i] == '.') return false;
        if (p[i] == '\\') {
            char e = p[i + 1];
            if (e == 'w' || e == 'W' || e == 's' || e == 'S') return false;
            if (e) i++;
        } else if (p[i] == '[') {
            size_t end = regex_bracket_end(p, i);
            if (end == 0 || p[i + 1] == '^') return false;
            for (size_t j = i + 1; j + 1 < end; j++) {
                if ((unsigned char)p[j] >= 0x80 || (p[j] == '-' && !codepoint_ranges)) return false;
                if (p[j] != '[') continue;
                if (p[j + 1] == '=' || p[j + 1] == '.') return false;
                if (p[j + 1] == ':' && strncmp(p + j, "[:digit:]", 9) != 0 &&
                    strncmp(p + j, "[:xdigit:]", 10) != 0)
                    return false;
            }
            i = end - 1;
        }
    }
    return true;
}

size_t regex_bracket_end(const char *p, size_t i) {
    i++;
    if (p[i] == '^') i++;
    if (p[i] == ']') i++;
    while (p[i] && p[i] != ']') {
        if (p[i] == '[' && (p[i + 1] == ':' || p[i + 1] == '=' || p[i + 1] == '.')) {
            char kind = p[i + 1];
            const char *end = p + i + 2;
            while (*end && !(end[0] == kind && end[1] == ']')) end++;
            if (!*end) return 0;
            i = (size_t)(end - p) + 2;
            continue;
        }
        i++;
    }
    return p[i] == ']' ? i + 1 : 0;
}

namespace {

// Limits that keep the automaton small; a pattern past them stays with regexec.
constexpr size_t max_pattern = 1024;
constexpr int max_nfa = 2000;
constexpr int max_bound = 255;
// The state table: at most this many transitions (states times byte classes), states and
// NFA node entries held by the states.
constexpr int table_cells = 1 << 15;
constexpr int max_states = 512;
constexpr int pool_size = 1 << 13; // more than max_nfa: room for any one state
constexpr int max_sets = 64;

struct byteset {
    uint64_t w[4] = {0, 0, 0, 0};
    void add(unsigned c) { w[c >> 6] |= uint64_t(1) << (c & 63); }
    bool has(unsigned c) const { return (w[c >> 6] >> (c & 63)) & 1; }
    bool operator==(const byteset &o) const { return memcmp(w, o.w, sizeof w) == 0; }
};

// The syntax tree.
enum ast_kind : uint8_t { A_EMPTY, A_SET, A_BOL, A_EOL, A_CAT, A_ALT, A_REP };
struct ast_node {
    ast_kind kind;
    int a = -1, b = -1; // children (A_CAT, A_ALT; a alone for A_REP), or the set (A_SET)
    int min = 0, max = 0; // A_REP; max -1: no upper bound
};

// The NFA: each node leads on to out (and out2 for a split).
enum nfa_kind : uint8_t { N_SET, N_SPLIT, N_BOL, N_EOL, N_MATCH };
struct nfa_node {
    nfa_kind kind;
    int set = -1;
    int out = -1, out2 = -1;
};

// State flags.
constexpr uint8_t F_ACCEPT = 1;     // the expression has matched
constexpr uint8_t F_END_ACCEPT = 2; // it matches if the field ends here
constexpr uint8_t F_DEAD = 4;       // no match can follow

} // namespace

// Memory comes from malloc and realloc (the programs link no C++ run-time library): taken at
// compile time, except the state arrays, which grow to a fixed bound and are then reused.
struct regex_dfa_impl {
    int cflags = 0;
    const char *p = nullptr; // the pattern
    size_t pos = 0;
    bool failed = false;

    byteset sets[max_sets];
    int nsets = 0;
    // The one-byte items already asked of regexec: their text in the pattern and their set.
    struct probe_entry {
        size_t off, len;
        int set;
    } probes[max_sets];
    int nprobes = 0;

    ast_node *ast = nullptr;
    int nast = 0, cap_ast = 0;
    nfa_node *nfa = nullptr;
    int nnfa = 0, cap_nfa = 0;
    int start = -1;

    // Byte classes: bytes that every set treats alike.
    uint8_t cls[256];
    int nclasses = 0;
    unsigned char rep[256]; // one byte of each class

    // The lazily built automaton: per state its flags, whether it is the state before the
    // first byte, and its NFA nodes (set_len of them from pool[set_off]).
    // The arrays grow (doubling) as states are added, up to cap_states states and pool_size
    // pool entries; then the table is emptied.
    int cap_states = 0, alloc_states = 0;
    int nstates = 0;
    // A state's row of transitions, one per class, is 1 << shift entries long (nclasses
    // rounded up to a power of two). alloc_states rows; each entry the next state's row
    // (its number << shift), so that a step is two loads; -2 - the state for one that accepts
    // or is dead, which ends the walk; -1 for a transition not yet known.
    int shift = 0;
    int32_t *trans = nullptr;
    uint8_t *flags = nullptr;
    uint8_t *at_start = nullptr;
    int32_t *set_off = nullptr, *set_len = nullptr;
    int32_t *pool = nullptr;
    int pool_used = 0, alloc_pool = 0;
    int32_t *hash = nullptr; // hash_size slots, -1 empty
    size_t hash_size = 0;
    int start_state = -1;
    unsigned flushes = 0;

    // Closure work space.
    uint32_t *mark = nullptr;
    uint32_t generation = 0;
    int32_t *stack = nullptr, *list = nullptr;
    int nstack = 0, nlist = 0;

    ~regex_dfa_impl() {
        free(ast);
        free(nfa);
        free(trans);
        free(flags);
        free(at_start);
        free(set_off);
        free(set_len);
        free(pool);
        free(hash);
        free(mark);
        free(stack);
        free(list);
    }

    // ---- Parsing -------------------------------------------------------------------------
    int node(ast_kind k, int a = -1, int b = -1) {
        if (nast == cap_ast) {
            failed = true;
            return 0;
        }
        ast[nast] = ast_node{k, a, b, 0, 0};
        return nast++;
    }

    int add_set(const byteset &s) {
        for (int i = 0; i < nsets; i++)
            if (sets[i] == s) return i;
        if (nsets == max_sets) {
            failed = true;
            return -1;
        }
        sets[nsets] = s;
        return nsets++;
    }

    // The set of bytes that the one-byte item at p[off..off+len) matches, asked of regexec.
    int probe(size_t off, size_t len) {
        for (int i = 0; i < nprobes; i++)
            if (probes[i].len == len && memcmp(p + probes[i].off, p + off, len) == 0)
                return probes[i].set;
        if (nprobes == max_sets || len >= max_pattern) {
            failed = true;
            return -1;
        }
        char text[max_pattern + 1];
        memcpy(text, p + off, len);
        text[len] = '\0';
        regex_t re;
        if (regcomp(&re, text, (cflags & (REG_EXTENDED | REG_ICASE)) | REG_NOSUB) != 0) {
            failed = true;
            return -1;
        }
        byteset s;
        for (unsigned c = 0; c < 256; c++) {
            char b[2] = {(char)c, '\0'}; // REG_STARTEND reads one byte; the NUL is for tools
            regmatch_t m[1];
            m[0].rm_so = 0;
            m[0].rm_eo = 1;
            errno = 0;
            int r = regexec(&re, b, 0, m, REG_STARTEND);
            if (r == 0)
                s.add(c);
            else if (r != REG_NOMATCH || errno == ENOMEM)
                failed = true;
        }
        regfree(&re);
        int set = add_set(s);
        probes[nprobes++] = probe_entry{off, len, set};
        return set;
    }

    int literal(unsigned char c) {
        byteset s;
        s.add(c);
        if ((cflags & REG_ICASE) && ((c | 32) >= 'a' && (c | 32) <= 'z')) {
            s.add(c | 32);
            s.add(c & ~32u);
        }
        return node(A_SET, add_set(s));
    }

    // alternation := branch ('|' branch)*
    int parse_alt(int depth) {
        int left = parse_branch(depth);
        while (!failed && p[pos] == '|') {
            pos++;
            int right = parse_branch(depth);
            left = node(A_ALT, left, right);
        }
        return left;
    }

    // branch := piece*, up to '|', ')' or the end
    int parse_branch(int depth) {
        int seq = node(A_EMPTY);
        while (!failed && p[pos] && p[pos] != '|') {
            if (p[pos] == ')') {
                if (depth == 0) failed = true; // a lone ')' is an ordinary byte: left to regexec
                break;
            }
            int piece = parse_piece(depth);
            seq = node(A_CAT, seq, piece);
        }
        return seq;
    }

    static bool is_repeat(char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

    // piece := atom repetition*
    int parse_piece(int depth) {
        char c = p[pos];
        if (is_repeat(c)) { // a repetition of nothing
            failed = true;
            return -1;
        }
        int atom;
        if (c == '^' || c == '$') {
            pos++;
            if (is_repeat(p[pos])) {
                failed = true;
                return -1;
            }
            return node(c == '^' ? A_BOL : A_EOL);
        }
        atom = parse_atom(depth);
        while (!failed && is_repeat(p[pos])) {
            int min, max;
            char r = p[pos++];
            if (r == '*') min = 0, max = -1;
            else if (r == '+') min = 1, max = -1;
            else if (r == '?') min = 0, max = 1;
            else if (!parse_bounds(&min, &max)) {
                failed = true;
                return -1;
            }
            int rep = node(A_REP, atom);
            ast[(size_t)rep].min = min;
            ast[(size_t)rep].max = max;
            atom = rep;
        }
        return atom;
    }

    int number() {
        if (p[pos] < '0' || p[pos] > '9') return -1;
        int n = 0;
        while (p[pos] >= '0' && p[pos] <= '9') {
            n = n * 10 + (p[pos++] - '0');
            if (n > max_bound) return -1;
        }
        return n;
    }

    // After '{': m}, m,} or m,n} with m <= n, both small.
    bool parse_bounds(int *min, int *max) {
        *min = number();
        if (*min < 0) return false;
        if (p[pos] == '}') {
            pos++;
            *max = *min;
            return true;
        }
        if (p[pos++] != ',') return false;
        if (p[pos] == '}') {
            pos++;
            *max = -1;
            return true;
        }
        *max = number();
        if (*max < *min || p[pos] != '}') return false;
        pos++;
        return true;
    }

    int parse_atom(int depth) {
        char c = p[pos];
        if (c == '(') {
            pos++;
            int inner = parse_alt(depth + 1);
            if (failed) return -1;
            if (p[pos] != ')') {
                failed = true;
                return -1;
            }
            pos++;
            return inner;
        }
        if (c == '.') {
            pos++;
            return set_node(probe(pos - 1, 1));
        }
        if (c == '[') {
            size_t end = regex_bracket_end(p, pos);
            if (end == 0) {
                failed = true;
                return -1;
            }
            size_t off = pos;
            pos = end;
            return set_node(probe(off, end - off));
        }
        if (c == '\\') {
            char e = p[pos + 1];
            if (e == '\0') {
                failed = true;
                return -1;
            }
            pos += 2;
            if (e == 'w' || e == 'W' || e == 's' || e == 'S')
                return set_node(probe(pos - 2, 2));
            // Letters, digits and a few marks are back references, anchors or escapes of
            // their own; every other escaped byte stands for itself.
            if ((e >= '0' && e <= '9') || ((e | 32) >= 'a' && (e | 32) <= 'z') || e == '<' ||
                e == '>' || e == '`' || e == '\'' || (unsigned char)e >= 0x80) {
                failed = true;
                return -1;
            }
            return literal((unsigned char)e);
        }
        pos++;
        return literal((unsigned char)c);
    }

    int set_node(int set) {
        if (set < 0) {
            failed = true;
            return -1;
        }
        return node(A_SET, set);
    }

    // ---- The NFA -------------------------------------------------------------------------

    int new_nfa(nfa_kind k, int out = -1, int set = -1) {
        if (nnfa == cap_nfa) {
            int cap = std::min(max_nfa, cap_nfa * 2);
            nfa_node *grown =
                nnfa == max_nfa ? nullptr : (nfa_node *)realloc(nfa, (size_t)cap * sizeof *nfa);
            if (!grown) {
                failed = true;
                return 0;
            }
            nfa = grown;
            cap_nfa = cap;
        }
        nfa[nnfa] = nfa_node{k, set, out, -1};
        return nnfa++;
    }

    // The entry of the NFA for tree node n, which goes on to next.
    int emit(int n, int next) {
        if (failed) return 0;
        const ast_node a = ast[(size_t)n];
        switch (a.kind) {
        case A_EMPTY: return next;
        case A_SET: return new_nfa(N_SET, next, a.a);
        case A_BOL: return new_nfa(N_BOL, next);
        case A_EOL: return new_nfa(N_EOL, next);
        case A_CAT: return emit(a.a, emit(a.b, next));
        case A_ALT: {
            int l = emit(a.a, next);
            int r = emit(a.b, next);
            int s = new_nfa(N_SPLIT, l);
            if (!failed) nfa[(size_t)s].out2 = r;
            return s;
        }
        case A_REP: {
            // The optional copies: a choice between the operand, going on to then (itself for
            // no upper bound, else the next optional copy), and leaving.
            int cur = next;
            for (int i = a.min; (a.max < 0 ? i == a.min : i < a.max) && !failed; i++) {
                int s = new_nfa(N_SPLIT);
                int body = emit(a.a, a.max < 0 ? s : cur);
                if (failed) return 0;
                nfa[(size_t)s].out = body;
                nfa[(size_t)s].out2 = next;
                cur = s;
            }
            for (int i = 0; i < a.min && !failed; i++) cur = emit(a.a, cur);
            return cur;
        }
        }
        return 0;
    }

    void make_classes() {
        memset(cls, 0, sizeof cls);
        nclasses = 1;
        for (int i = 0; i < nsets; i++) {
            const byteset &s = sets[i];
            int remap[512];
            for (int &r : remap) r = -1;
            int n = 0;
            for (unsigned c = 0; c < 256; c++) {
                int key = cls[c] * 2 + (s.has(c) ? 1 : 0);
                if (remap[key] < 0) remap[key] = n++;
                cls[c] = (uint8_t)remap[key];
            }
            nclasses = n;
        }
        for (int c = 255; c >= 0; c--) rep[cls[c]] = (unsigned char)c;
    }

    // ---- The automaton -------------------------------------------------------------------

    // Adds to list the nodes reached from n without reading a byte: sets, the match, and end
    // anchors not yet passed. Start anchors are passed only with bol, end anchors with eol.
    bool closure_from(int n, bool bol, bool eol) {
        bool matched = false;
        stack[nstack++] = n;
        while (nstack > 0) {
            int k = stack[--nstack];
            if (mark[(size_t)k] == generation) continue;
            mark[(size_t)k] = generation;
            const nfa_node &x = nfa[(size_t)k];
            switch (x.kind) {
            case N_SET: list[nlist++] = k; break;
            case N_MATCH:
                list[nlist++] = k;
                matched = true;
                break;
            case N_SPLIT:
                stack[nstack++] = x.out2;
                stack[nstack++] = x.out;
                break;
            case N_BOL:
                if (bol) stack[nstack++] = x.out;
                break;
            case N_EOL:
                if (eol)
                    stack[nstack++] = x.out;
                else
                    list[nlist++] = k;
                break;
            }
        }
        return matched;
    }

    void new_generation() {
        if (++generation == 0) {
            memset(mark, 0, (size_t)nnfa * sizeof *mark);
            generation = 1;
        }
    }

    // The flags of a state holding the nodes in list (sorted).
    uint8_t state_flags(bool start_pos) {
        uint8_t f = 0;
        if (nlist == 0) return F_DEAD;
        bool eols = false;
        for (int i = 0; i < nlist; i++) {
            if (nfa[list[i]].kind == N_MATCH) f |= F_ACCEPT | F_END_ACCEPT;
            if (nfa[list[i]].kind == N_EOL) eols = true;
        }
        if (!(f & F_ACCEPT) && eols) {
            // At the end of the field the end anchors are passed (and start anchors too
            // before the first byte, so that "$^" matches an empty field).
            int keep = nlist;
            new_generation();
            bool m = false;
            for (int i = 0; i < keep; i++)
                if (nfa[list[i]].kind == N_EOL) m |= closure_from(nfa[list[i]].out, start_pos, true);
            nlist = keep;
            if (m) f |= F_END_ACCEPT;
        }
        return f;
    }

    static uint32_t hash_of(const int32_t *v, size_t n, bool st) {
        uint32_t h = st ? 0x9e3779b9u : 2166136261u;
        for (size_t i = 0; i < n; i++) h = (h ^ (uint32_t)v[i]) * 16777619u;
        return h ^ (h >> 15);
    }

    void flush() {
        flushes++;
        nstates = 0;
        pool_used = 0;
        start_state = -1;
        for (size_t i = 0; i < hash_size; i++) hash[i] = -1;
    }

    template <class T> static void grow(T **p, size_t n) {
        T *q = (T *)realloc(*p, n * sizeof **p);
        if (!q) fatalf(errno, "ERROR: failed allocating dynamic memory");
        *p = q;
    }

    void grow_states() {
        alloc_states = std::min(cap_states, alloc_states ? alloc_states * 2 : 16);
        size_t n = (size_t)alloc_states;
        grow(&trans, n << shift);
        grow(&flags, n);
        grow(&at_start, n);
        grow(&set_off, n);
        grow(&set_len, n);
    }

    void grow_pool() {
        alloc_pool = std::min(pool_size, alloc_pool ? alloc_pool * 2 : 256);
        grow(&pool, (size_t)alloc_pool);
    }

    // The state for the nodes in list (sorted), found or added.
    int state_of(bool st) {
        size_t hmask = hash_size - 1;
        uint32_t h = hash_of(list, (size_t)nlist, st);
        for (size_t i = h & hmask;; i = (i + 1) & hmask) {
            int s = hash[i];
            if (s < 0) break;
            if (at_start[s] == st && set_len[s] == nlist &&
                memcmp(list, pool + set_off[s], (size_t)nlist * sizeof *list) == 0)
                return s;
        }
        if (nstates == cap_states || pool_used + nlist > pool_size) flush();
        if (nstates == alloc_states) grow_states();
        while (pool_used + nlist > alloc_pool) grow_pool();
        int s = nstates++;
        set_off[(size_t)s] = pool_used;
        set_len[(size_t)s] = nlist;
        memcpy(pool + pool_used, list, (size_t)nlist * sizeof *list);
        pool_used += nlist;
        at_start[(size_t)s] = st;
        flags[(size_t)s] = state_flags(st);
        memset(trans + ((size_t)s << shift), 0xff, sizeof *trans << shift);
        size_t i = h & hmask;
        while (hash[i] >= 0) i = (i + 1) & hmask;
        hash[i] = s;
        return s;
    }

    int make_start() {
        nlist = 0;
        new_generation();
        closure_from(start, true, false);
        std::sort(list, list + nlist);
        start_state = state_of(true);
        return start_state;
    }

    // The state after s on a byte of class c. The table may be emptied on the way; the
    // transition is then not recorded.
    int successor(int s, int c) {
        nlist = 0;
        new_generation();
        unsigned char b = rep[c];
        int off = set_off[(size_t)s], len = set_len[(size_t)s];
        for (int i = 0; i < len; i++) {
            const nfa_node &x = nfa[(size_t)pool[(size_t)(off + i)]];
            if (x.kind == N_SET && sets[(size_t)x.set].has(b)) closure_from(x.out, false, false);
        }
        closure_from(start, false, false); // a match may begin at the next byte
        std::sort(list, list + nlist);
        unsigned before = flushes;
        int t = state_of(false);
        if (flushes == before)
            trans[((size_t)s << shift) + (size_t)c] =
                flags[(size_t)t] & (F_ACCEPT | F_DEAD) ? -2 - t : t << shift;
        return t;
    }

    // Whether a walk over the nodes that read no byte, from every node in from[0..n), reaches
    // a node of kind k.
    bool reaches(const int32_t *from, int n, nfa_kind k) {
        new_generation();
        nstack = 0;
        for (int i = 0; i < n; i++) stack[nstack++] = from[i];
        while (nstack > 0) {
            int x = stack[--nstack];
            if (mark[x] == generation) continue;
            mark[x] = generation;
            const nfa_node &node = nfa[x];
            if (node.kind == k) return true;
            if (node.kind == N_SET || node.kind == N_MATCH) continue;
            stack[nstack++] = node.out;
            if (node.kind == N_SPLIT) stack[nstack++] = node.out2;
        }
        return false;
    }

    // regexec takes an anchor that meets a byte of the same match as a line anchor: a '^'
    // right after a byte read is met when that byte is a line feed, a '$' right before one
    // when it is (".^a" matches "x\na", "a$." matches "a\n"), though it takes neither anchor
    // for a line anchor elsewhere. Patterns where that can happen stay with regexec.
    bool anchors_at_edges() {
        int n = 0;
        for (int i = 0; i < nnfa; i++)
            if (nfa[i].kind == N_SET) list[n++] = nfa[i].out;
        if (reaches(list, n, N_BOL)) return false;
        n = 0;
        for (int i = 0; i < nnfa; i++)
            if (nfa[i].kind == N_EOL) list[n++] = nfa[i].out;
        return !reaches(list, n, N_SET);
    }

    bool build(const char *pattern) {
        p = pattern;
        cap_ast = 3 * (int)strlen(pattern) + 8; // an item, its place in a branch, a repetition
        ast = (ast_node *)malloc((size_t)cap_ast * sizeof *ast);
        cap_nfa = std::min(max_nfa, 2 * (int)strlen(pattern) + 16);
        nfa = (nfa_node *)malloc((size_t)cap_nfa * sizeof *nfa);
        if (!ast || !nfa) fatalf(errno, "ERROR: failed allocating dynamic memory");
        int root = parse_alt(0);
        if (failed || p[pos] != '\0') return false;
        int match = new_nfa(N_MATCH);
        start = emit(root, match);
        if (failed) return false;
        make_classes();
        while ((1 << shift) < nclasses)
            shift++;
        cap_states = std::min(max_states, table_cells >> shift);
        size_t cs = (size_t)cap_states;
        hash_size = 1;
        while (hash_size < cs * 2) hash_size *= 2;
        hash = (int32_t *)malloc(hash_size * sizeof *hash);
        mark = (uint32_t *)calloc((size_t)nnfa, sizeof *mark);
        stack = (int32_t *)malloc((size_t)(3 * nnfa + 8) * sizeof *stack);
        list = (int32_t *)malloc((size_t)(2 * nnfa + 8) * sizeof *list);
        if (!hash || !mark || !stack || !list)
            fatalf(errno, "ERROR: failed allocating dynamic memory");
        for (size_t i = 0; i < hash_size; i++) hash[i] = -1;
        return anchors_at_edges();
    }
};

namespace {

void destroy(regex_dfa_impl *d) {
    if (!d) return;
    d->~regex_dfa_impl();
    free(d);
}

} // namespace

regex_dfa::~regex_dfa() { destroy(impl); }

bool regex_dfa::compile(const char *pattern, int cflags) {
    destroy(impl);
    impl = nullptr;
    if (!(cflags & REG_EXTENDED) || (cflags & REG_NEWLINE) || strlen(pattern) > max_pattern)
        return false;
    switch (locale_char_encoding()) {
    case char_encoding::single_byte: break;
    case char_encoding::utf8:
        if (!ascii_only_meaning(pattern, cflags)) return false;
        break;
    case char_encoding::other_multibyte: return false;
    }
    void *mem = malloc(sizeof(regex_dfa_impl));
    if (!mem) fatalf(errno, "ERROR: failed allocating dynamic memory");
    regex_dfa_impl *d = new (mem) regex_dfa_impl;
    d->cflags = cflags;
    if (!d->build(pattern)) {
        destroy(d);
        return false;
    }
    impl = d;
    return true;
}

bool regex_dfa::matches(const char *field, size_t len) {
    regex_dfa_impl &d = *impl;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(field);
    int st = d.start_state >= 0 ? d.start_state : d.make_start();
    uint8_t f = d.flags[(size_t)st];
    if (f & (F_ACCEPT | F_DEAD)) return f & F_ACCEPT;
    const int shift = d.shift;
    const uint8_t *cls = d.cls;
    const int32_t *trans = d.trans;
    ptrdiff_t row = (ptrdiff_t)st << shift;
    for (size_t i = 0; i < len; i++) {
        ptrdiff_t next = trans[row + cls[s[i]]];
        if (__builtin_expect(next < 0, 0)) {
            int t = next == -1 ? d.successor((int)(row >> shift), cls[s[i]]) : (int)(-2 - next);
            trans = d.trans; // moved if the table grew
            f = d.flags[(size_t)t];
            if (f & (F_ACCEPT | F_DEAD)) return f & F_ACCEPT;
            next = t << shift;
        }
        row = next;
    }
    return d.flags[(size_t)(row >> shift)] & F_END_ACCEPT;
}
