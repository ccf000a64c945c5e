#include "parallel.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "libcsv.h"

namespace {

constexpr size_t DEFAULT_CHUNK = 1 << 20;
constexpr long long DEFAULT_MIN_INPUT = 16LL << 20; // below it, one worker unless asked

// A part of the input and what a worker made of it, in memory shared with the workers.
enum part_state { P_WORKING, P_DONE, P_GIVEN_UP };
struct part {
    char *in; // the input bytes from a pipe (in_cap), then the output (out_cap)
    char *out;
    char *tally;                // the loop's counts for this part
    size_t in_len;              // bytes of the part
    long long offset;           // of its first byte, in a regular file
    int first;                  // the records before it
    long count;                 // the records that end in it
    bool last;                  // it ends where the input ends
    bool cut;                   // where it ends is known (a part of a file read whole)
    size_t out_len;             // output left in out, to write once the part is done
    size_t out_done;            // of it, what has been written
    std::atomic<size_t> direct; // bytes of the part's output written so far, whoever wrote them
    std::atomic<int> state;
};

struct shared {
    std::atomic<uint32_t> turn;    // the part whose output goes out next
    std::atomic<uint32_t> waiters; // processes waiting for it to move
    // The process that writes the parts done in order, and the one whose write to standard
    // output is under way: each as its self (below) names it, or 0.
    std::atomic<uint32_t> writer;
    std::atomic<uint32_t> writing;
    int records; // the records before the next part to publish or take
    // In a regular file, a worker that is free takes the next part itself: it holds the chain
    // while it reads the part and finds where it ends, which is where the next one starts.
    std::atomic<uint32_t> chain;        // 0 free, else its holder (below), | CHAIN_WAITED
    std::atomic<uint32_t> next;         // the parts taken (from a pipe: published)
    std::atomic<bool> end;              // no part is left to take
    long long offset;                   // where the next part starts
    std::atomic<int> holding[MAX_JOBS]; // the part each worker has taken, or -1
};

size_t chunk = DEFAULT_CHUNK;
size_t in_cap, out_cap;
int nparts;
shared *sh;
part *parts;      // nparts of them, after sh
char *sums[2];    // the tallies of the parts written: before part t, in sums[t % 2]
int file_fd = -1; // a regular file, which the workers read themselves
// This process, as writer and writing name it: a worker's index + 1, the program MAX_JOBS + 1.
uint32_t self = MAX_JOBS + 1;
int w_chan = -1; // a worker's channel: parts to work on come in, parts done go out

part &part_of(uint32_t seq) {
    return parts[seq % (uint32_t)nparts];
}

// Part seq, made ready for a worker: the record counts are the caller's to set.
part &begin_part(uint32_t seq) {
    part &p = part_of(seq);
    p.out_len = p.out_done = 0;
    p.cut = false;
    p.direct.store(0, std::memory_order_relaxed);
    p.state.store(P_WORKING, std::memory_order_relaxed);
    return p;
}

long futex(std::atomic<uint32_t> *addr, int op, uint32_t val) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t *>(addr), op, val, nullptr, nullptr, 0);
}

// The chain's lock names its holder, so that the program knows a worker that went holding it.
// One that has waited for it takes it marked as waited for, lest another waiter be missed.
constexpr uint32_t CHAIN_WAITED = 1u << 31;
void lock_chain() {
    uint32_t c = sh->chain.load(std::memory_order_relaxed), waited = 0;
    for (;;) {
        if (c == 0) {
            if (sh->chain.compare_exchange_weak(c, self | waited, std::memory_order_acquire))
                return;
            continue;
        }
        if (!(c & CHAIN_WAITED) && !sh->chain.compare_exchange_weak(c, c | CHAIN_WAITED)) continue;
        futex(&sh->chain, FUTEX_WAIT, c | CHAIN_WAITED);
        waited = CHAIN_WAITED;
        c = sh->chain.load(std::memory_order_relaxed);
    }
}

void unlock_chain() {
    if (sh->chain.exchange(0, std::memory_order_release) & CHAIN_WAITED)
        futex(&sh->chain, FUTEX_WAKE, 1);
}

// Waits until every part before part upto has gone out.
void wait_written(uint32_t upto) {
    if ((int32_t)(sh->turn.load(std::memory_order_acquire) - upto) >= 0) return;
    sh->waiters.fetch_add(1);
    for (uint32_t t; (int32_t)((t = sh->turn.load()) - upto) < 0;)
        futex(&sh->turn, FUTEX_WAIT, t);
    sh->waiters.fetch_sub(1);
}

// ---- Writing in order ----------------------------------------------------------------------

// Wakes the program to look at how the run stands: a message that is no part's number. (Not
// sent when one is waiting already.)
constexpr uint32_t LOOK = UINT32_MAX;
void wake_program(void) {
    if (w_chan >= 0) send(w_chan, &LOOK, sizeof LOOK, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Writes n bytes of part p's output to standard output, counting them into the part as they go
// out, so that a process that goes on from the part knows how many to leave out. False when a
// write fails.
bool write_out(part &p, const char *buf, size_t n, size_t *done) {
    sh->writing.store(self);
    while (n > 0) {
        ssize_t w = write(STDOUT_FILENO, buf, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) break;
        buf += w;
        n -= (size_t)w;
        if (done) *done += (size_t)w;
        p.direct.fetch_add((size_t)w, std::memory_order_release);
    }
    sh->writing.store(0);
    return n == 0;
}

// Moves the turn past part t, written, with the sum of the counts carried on (and the part's
// own added, when they are not in the program's already); wakes whoever waits for the turn.
// The sum up to the part is kept until the turn moves: a writer that ends on the way leaves it
// whole.
void pass_turn(uint32_t t, const record_loop &loop, const char *tally) {
    if (loop.merge) {
        memcpy(sums[(t + 1) % 2], sums[t % 2], loop.tally_size);
        if (tally) loop.merge(sums[(t + 1) % 2], tally);
    }
    sh->turn.store(t + 1);
    if (sh->waiters.load()) futex(&sh->turn, FUTEX_WAKE, INT_MAX);
}

// Writes the output of the part whose turn it is, when it is done, and moves the turn on.
// False when it is not done (or was given up, or none is left: the program is woken to see).
bool write_next(const record_loop &loop) {
    uint32_t t = sh->turn.load(std::memory_order_relaxed); // (moved by the writer alone)
    if ((int32_t)(t - sh->next.load(std::memory_order_acquire)) >= 0) {
        if (sh->end.load()) wake_program(); // all written
        return false;
    }
    part &p = part_of(t);
    int st = p.state.load(std::memory_order_acquire);
    if (st == P_DONE && p.out_done < p.out_len &&
        !write_out(p, p.out + p.out_done, p.out_len - p.out_done, &p.out_done)) {
        st = P_GIVEN_UP; // the program goes on from the part, and says why
        p.state.store(P_GIVEN_UP, std::memory_order_release);
    }
    if (st != P_DONE) {
        if (st == P_GIVEN_UP) wake_program();
        return false;
    }
    pass_turn(t, loop, p.tally);
    return true;
}

// Writes out the parts done, in input order, unless another process is doing it: a worker
// calls it when it has finished a part, the program when it wakes.
void write_in_order(const record_loop &loop) {
    for (;;) {
        uint32_t none = 0;
        if (!sh->writer.compare_exchange_strong(none, self)) return; // it will see ours too
        while (write_next(loop)) {
        }
        sh->writer.store(0);
        // A part finished while the writer was here, by a worker that found it busy.
        uint32_t t = sh->turn.load();
        if ((int32_t)(t - sh->next.load()) >= 0 || part_of(t).state.load() != P_DONE) return;
    }
}

// ---- The worker ----------------------------------------------------------------------------

uint32_t w_seq; // the part it works on
part *w_part;   // null between parts
bool w_chained; // it holds the chain
// A part of a regular file is read into the worker's own memory, the same for every part: no
// other process needs its bytes, and they stay in the core's cache.
char *w_in;
bool w_finishing; // the part's loop has returned: a write is the rest of its output

[[noreturn]] void give_up(void) {
    if (w_part) {
        w_part->state.store(P_GIVEN_UP, std::memory_order_release);
        if (w_chained) { // no part after it is taken: the single process reads on from it
            sh->next.store(w_seq + 1, std::memory_order_release);
            sh->end.store(true, std::memory_order_release);
            unlock_chain();
        }
        send(w_chan, &w_seq, sizeof w_seq, MSG_NOSIGNAL);
    }
    _exit(0);
}

ssize_t refuse_write(void *, const char *, size_t) {
    give_up();
}

// The part's bytes are the stream's buffer: the first read finds them there already. Its
// position is that of the part in the file (base), for a message that says where a fault lies.
struct part_input {
    char *p;
    size_t n, off;
    long long base;
};
ssize_t part_read(void *cookie, char *buf, size_t size) {
    auto *in = static_cast<part_input *>(cookie);
    size_t n = in->n - in->off < size ? in->n - in->off : size;
    if (buf != in->p + in->off) memmove(buf, in->p + in->off, n);
    in->off += n;
    return (ssize_t)n;
}
int part_seek(void *cookie, off64_t *pos, int whence) {
    auto *in = static_cast<part_input *>(cookie);
    if (whence != SEEK_CUR || *pos != 0) return -1;
    *pos = in->base + (off64_t)in->off;
    return 0;
}
// The stream of a part's bytes; null when it cannot be made.
FILE *part_stream(part_input *pin) {
    FILE *in = fopencookie(pin, "r", {part_read, nullptr, part_seek, nullptr});
    if (in && setvbuf(in, pin->p, _IOFBF, pin->n) != 0) {
        fclose(in);
        in = nullptr;
    }
    return in;
}

// Standard output of a part: its buffer is the part's output space. Written when it fills (or
// a record needs room), it goes straight to the real output once every part before has gone
// out; at the end, what it holds is left there for the writer.
ssize_t part_write(void *cookie, const char *buf, size_t n) {
    auto *p = static_cast<part *>(cookie);
    if (w_finishing && p->direct.load(std::memory_order_relaxed) == 0) {
        if (buf != p->out) memmove(p->out, buf, n);
        p->out_len = n;
        return (ssize_t)n;
    }
    wait_written(w_seq);
    return write_out(*p, buf, n, nullptr) ? (ssize_t)n : -1;
}

// Reads a part of the regular file from its offset, and finds where it ends as the reader of a
// pipe does: at the last record end in its first chunk bytes, else the first one after them,
// else the end of the file. False when no record ends in in_cap bytes or a read fails: the
// single process reads it again and says why.
bool read_part(part &p, char *in, bool quoted) {
    size_t fill = 0, cut = 0;
    long ends = 0;
    bool inquote = false;
    for (;;) {
        size_t want = fill < chunk ? chunk - fill : 4096;
        if (want > in_cap - fill) want = in_cap - fill;
        if (want == 0) return false;
        ssize_t n = pread(file_fd, in + fill, want, p.offset + (long long)fill);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            p.in_len = fill;
            p.count = ends + (fill > cut ? 1 : 0);
            p.last = true;
            return true;
        }
        size_t last;
        ends += csv_record_ends(in + fill, (size_t)n, quoted, &inquote, &last);
        if (last) cut = fill + last;
        fill += (size_t)n;
        if (fill >= chunk && cut) {
            p.in_len = cut;
            p.count = ends;
            p.last = false;
            return true;
        }
    }
}

// Takes the next part of a regular file and reads it, once the ring has room for it. False
// when none is left.
bool take_part(bool quoted) {
    lock_chain();
    if (sh->end.load(std::memory_order_relaxed)) {
        unlock_chain();
        return false;
    }
    w_seq = sh->next.load(std::memory_order_relaxed);
    sh->holding[self - 1].store((int)w_seq, std::memory_order_relaxed);
    wait_written(w_seq + 1 - (uint32_t)nparts); // room in the ring
    part &p = begin_part(w_seq);
    p.offset = sh->offset;
    p.first = sh->records;
    w_part = &p;
    w_chained = true;
    if (!read_part(p, w_in, quoted)) give_up();
    p.cut = true;
    // The part is counted as taken before the chain moves past it: a worker that ends between
    // the two leaves either the part to go on from, or the chain where it starts.
    sh->next.store(w_seq + 1, std::memory_order_release);
    sh->offset = p.offset + (long long)p.in_len;
    sh->records = p.first + (int)p.count;
    if (p.last) sh->end.store(true, std::memory_order_release);
    w_chained = false;
    unlock_chain();
    return true;
}

// Runs the loop on the part (its bytes at in) into the part's output space.
void run_part(const record_loop &loop, const char *name, part &p, char *in_bytes) {
    part_input pin = {in_bytes, p.in_len, 0, 0};
    FILE *in = part_stream(&pin);
    FILE *out = fopencookie(&p, "w", {nullptr, part_write, nullptr, nullptr});
    if (!in || !out || setvbuf(out, p.out, _IOFBF, out_cap) != 0) give_up();
    stdout = out;
    w_finishing = false;
    int recnum = p.first;
    // Records counted otherwise than the scan counted them: the part did not end where a
    // record ends, and its last output must not go out.
    if (!loop.run(in, name, &recnum, loop.tally) || recnum - p.first != p.count) give_up();
    w_finishing = true;
    if (fflush(out) != 0 || ferror(out)) give_up();
    fclose(in);
    fclose(out);
    stdout = nullptr;
}

// The worker's own memory for the parts of a regular file, in one huge page where the system
// gives them: fewer faults and misses of the TLB.
char *part_memory(void) {
    constexpr size_t HUGE = 2 << 20;
    size_t len = (in_cap + HUGE - 1) / HUGE * HUGE;
    void *m = mmap(nullptr, len + HUGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) give_up();
    char *in = reinterpret_cast<char *>(((uintptr_t)m + HUGE - 1) & ~(uintptr_t)(HUGE - 1));
    madvise(in, len, MADV_HUGEPAGE);
    return in;
}

[[noreturn]] void worker(const record_loop &loop, const char *name) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    csv_set_before_message(give_up);
    set_fatal_exit(give_up);
    atexit(give_up);
    csv_set_before_refill(nullptr);
    stderr = fopencookie(nullptr, "w", {nullptr, refuse_write, nullptr, nullptr});
    if (!stderr) _exit(0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (file_fd >= 0) w_in = part_memory();
    for (;;) {
        if (file_fd >= 0) {
            if (!take_part(loop.quoted)) { // none left: the reader ends the worker
                char c;
                while (recv(w_chan, &c, sizeof c, 0) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
        } else {
            ssize_t r;
            while ((r = recv(w_chan, &w_seq, sizeof w_seq, 0)) < 0 && errno == EINTR) {
            }
            if (r != (ssize_t)sizeof w_seq) _exit(0);
            w_part = &part_of(w_seq);
        }
        part &p = *w_part;
        if (loop.tally) memset(loop.tally, 0, loop.tally_size);
        if (p.in_len > 0) // (none when a file ends where its last part ends)
            run_part(loop, name, p, file_fd >= 0 ? w_in : p.in);
        if (loop.tally) memcpy(p.tally, loop.tally, loop.tally_size);
        p.state.store(P_DONE);
        sh->holding[self - 1].store(-1, std::memory_order_relaxed);
        w_part = nullptr;
        write_in_order(loop);
        // From a pipe, the reader hands the worker its next part (from a file, it takes it).
        if (file_fd < 0 &&
            send(w_chan, &w_seq, sizeof w_seq, MSG_NOSIGNAL) != (ssize_t)sizeof w_seq)
            _exit(0);
    }
}

// ---- The reader and writer -----------------------------------------------------------------

// From a pipe, a worker holds up to two parts: it starts on the second as soon as the first is
// done. (A worker on a file takes its parts itself.)
struct worker_slot {
    pid_t pid;
    int chan;     // parts to work on go out, parts done come back
    long held[2]; // the parts sent and not done, the oldest first
    int nheld;
    bool gone; // ended, and waited for
};

int jobs_for(FILE *fp, bool by_default, long long *left) {
    struct stat st;
    bool regular = fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode);
    *left = -1;
    if (regular) {
        off_t pos = lseek(fileno(fp), 0, SEEK_CUR);
        if (pos >= 0) *left = st.st_size - pos + (fp->_IO_read_end - fp->_IO_read_ptr);
    }
    if (opt_jobs) return opt_jobs;
    if (const char *v = getenv("ZELK_JOBS")) return intstrconv(v, "ZELK_JOBS", 1, MAX_JOBS);
    if (!by_default || *left < DEFAULT_MIN_INPUT) return 1;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    int n = CPU_COUNT(&set);
    return n < MAX_JOBS ? n : MAX_JOBS;
}

// The bytes a single process reads on from, when the workers stop short: parts in memory,
// then the rest of the input.
struct rest_input {
    const char *seg[2 * MAX_JOBS + 3];
    size_t len[2 * MAX_JOBS + 3];
    int nseg, at;
    int fd;
};
ssize_t rest_read(void *cookie, char *buf, size_t size) {
    auto *r = static_cast<rest_input *>(cookie);
    while (r->at < r->nseg && r->len[r->at] == 0)
        r->at++;
    if (r->at < r->nseg) {
        size_t n = r->len[r->at] < size ? r->len[r->at] : size;
        memcpy(buf, r->seg[r->at], n);
        r->seg[r->at] += n;
        r->len[r->at] -= n;
        return (ssize_t)n;
    }
    if (r->fd < 0) return 0;
    out_flush_before_wait(r->fd);
    ssize_t n;
    while ((n = read(r->fd, buf, size)) < 0 && errno == EINTR) {
    }
    return n;
}

// Output of a single process that goes on from a part whose worker had written its first
// `skip` bytes already.
ssize_t skip_write(void *cookie, const char *buf, size_t n) {
    auto *skip = static_cast<size_t *>(cookie);
    size_t s = *skip < n ? *skip : n;
    *skip -= s;
    return write_fd_all(STDOUT_FILENO, buf + s, n - s) ? (ssize_t)n : -1;
}
// Such an output; null when it cannot be made. (One at a time.)
FILE *output_past(size_t skip) {
    static size_t left;
    left = skip;
    return fopencookie(&left, "w", {nullptr, skip_write, nullptr, nullptr});
}

class parallel_run {
  public:
    parallel_run(FILE *fp, const char *name, const record_loop &loop, int jobs)
        : fp_(fp), name_(name), loop_(loop), jobs_(jobs) {}
    bool run(int *recnum);
    // The parts go with the run: a program that reads several inputs maps them afresh for each.
    // (Called, not a destructor, which would cost every program the C++ runtime for unwinding.)
    void unmap() {
        if (mem_) munmap(mem_, mem_len_);
        mem_ = nullptr;
    }

  private:
    bool start_workers();
    bool start_worker(int i);
    void replace_gone();
    enum step { RAN, ENDED, FROM_END, FROM_START };
    step run_here(uint32_t seq, int *recnum, bool *ok);
    void stop_workers();
    bool fill();
    void publish(size_t cut, long count);
    void see_written();
    // Adds the counts of the parts the workers wrote to the program's, once they have stopped.
    void add_written_counts() {
        if (loop_.merge) loop_.merge(loop_.tally, sums[sh->turn.load() % 2]);
    }
    void dispatch();
    void lose(int i);
    void wait_for_something();
    bool go_on_alone(int *recnum);

    FILE *fp_;
    const char *name_;
    const record_loop &loop_;
    int jobs_;
    int jobs_started_ = 0;
    void *mem_ = nullptr;
    size_t mem_len_ = 0;
    int alive_ = 0;
    int fd_ = -1;
    bool regular_ = false;
    worker_slot workers_[MAX_JOBS];
    uint32_t next_ = 0, sent_ = 0, written_ = 0; // parts published, sent, written
    long given_up_ = -1;                         // the first part given up
    // From a file, the program runs a part given up itself and the workers go on after it, the
    // ones gone replaced, while parts given up are far apart: otherwise (or after many in a
    // run) the work given up and the workers started cost more than one process, which reads
    // on alone. Not when a worker has gone holding the chain, which no other can then take.
    static constexpr int MAX_REPLACED = 64;
    static constexpr uint32_t MIN_APART = 4; // parts written since the last one run here
    int replaced_ = 0;
    long ran_here_ = -1; // the last part run here
    bool chain_lost_ = false;
    long long alone_from_ = -1; // where the program reads on alone, when not from a part
    int alone_recnum_ = 0;
    bool eof_ = false, stuck_ = false; // no record end in a full part
    bool ready_ = true;                // a read of the input will not wait
    // The part being filled: its bytes, how far they are scanned, the records ending in them.
    size_t fill_ = 0, scanned_ = 0, last_end_ = 0;
    long ends_ = 0;
    bool inquote_ = false;
    // Bytes of the last part published past its cut, for the next part to begin with.
    const char *carry_ = nullptr;
    size_t carry_len_ = 0;
};

bool parallel_run::start_workers() {
    out_flush();
    for (int i = 0; i < jobs_; i++) {
        if (!start_worker(i)) return false;
        jobs_started_ = i + 1;
    }
    return true;
}

// Starts worker i; false when the system refuses.
bool parallel_run::start_worker(int i) {
    // Messages of one part number each way; a worker gone is an end of file or an error,
    // never a signal.
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) != 0) return false;
    // Never a standard descriptor that the program was started without: its output or
    // messages would go to a worker instead of failing.
    for (int &fd : sv) {
        if (fd > STDERR_FILENO) continue;
        int high = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
        close(fd);
        fd = high;
    }
    if (sv[0] < 0 || sv[1] < 0) {
        for (int fd : sv)
            if (fd >= 0) close(fd);
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(sv[0]);
        close(sv[1]);
        return false;
    }
    if (pid == 0) {
        // A worker holds no other worker's channel, so that the reader sees one go.
        for (int k = 0; k < jobs_started_; k++)
            if (k != i && workers_[k].chan >= 0) close(workers_[k].chan);
        close(sv[0]);
        w_chan = sv[1];
        self = (uint32_t)i + 1;
        worker(loop_, name_);
    }
    close(sv[1]);
    workers_[i] = {pid, sv[0], {-1, -1}, 0, false};
    return true;
}

// Starts a worker in the place of each that has gone, for a run that goes on.
void parallel_run::replace_gone() {
    for (int i = 0; i < jobs_started_ && replaced_ < MAX_REPLACED; i++) {
        worker_slot &w = workers_[i];
        if (!w.gone) continue;
        close(w.chan);
        w.chan = -1;
        sh->holding[i].store(-1);
        replaced_++;
        if (start_worker(i)) alive_++;
    }
}

// Runs part seq, which its worker gave up, in the program itself as one process would: its
// messages said here, its output after what the worker had written of it, its counts into the
// program's own, then the turn moved past it. RAN: the workers go on with the parts after it.
// ENDED: the loop ended the run, with what it returned in *ok. FROM_END: its records were
// counted otherwise than the cut assumed, and the program reads on alone from its end.
// FROM_START: its bytes could not be read again, and the program reads on alone from it.
parallel_run::step parallel_run::run_here(uint32_t seq, int *recnum, bool *ok) {
    part &p = part_of(seq);
    for (size_t got = 0; got < p.in_len;) { // (a file's part, read into its unused input space)
        ssize_t n = pread(fd_, p.in + got, p.in_len - got, p.offset + (long long)got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FROM_START;
        got += (size_t)n;
    }
    part_input pin = {p.in, p.in_len, 0, p.offset};
    FILE *in = part_stream(&pin);
    FILE *out = output_past(p.direct.load());
    if (!in || !out) {
        if (in) fclose(in);
        if (out) fclose(out);
        return FROM_START;
    }
    // The stream stands for the file at the part's place: a fault is placed in the file.
    int cookie_fd = in->_fileno;
    in->_fileno = fd_;
    FILE *real_out = stdout;
    stdout = out;
    int r = p.first;
    *ok = loop_.run(in, name_, &r, loop_.tally);
    out_flush();
    errcheck_stdout_exit();
    stdout = real_out;
    fclose(out);
    in->_fileno = cookie_fd;
    fclose(in);
    *recnum = r;
    if (!*ok) return ENDED;
    if (r - p.first != p.count) return FROM_END;
    pass_turn(seq, loop_, nullptr);
    return RAN;
}

void parallel_run::stop_workers() {
    for (int i = 0; i < jobs_started_; i++) {
        if (workers_[i].chan >= 0) close(workers_[i].chan);
        if (!workers_[i].gone) kill(workers_[i].pid, SIGKILL);
    }
    for (int i = 0; i < jobs_started_; i++)
        while (!workers_[i].gone && waitpid(workers_[i].pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    jobs_started_ = 0;
}

void parallel_run::publish(size_t cut, long count) {
    part &p = begin_part(next_);
    p.in_len = cut;
    p.cut = true;
    p.first = sh->records;
    p.count = count;
    carry_ = p.in + cut;
    carry_len_ = fill_ - cut;
    sh->records += (int)count;
    next_++;
    sh->next.store(next_, std::memory_order_release);
    fill_ = scanned_ = last_end_ = 0;
    ends_ = 0;
    inquote_ = false;
}

// Reads a pipe into the part being filled and publishes it when it is complete. False when it
// can do nothing now: the ring is full, the input is at its end, or a read would wait. (Finding
// that it cannot go on is something: the loop looks again whether to go on alone.)
bool parallel_run::fill() {
    if (regular_ || eof_ || stuck_ || given_up_ >= 0 || next_ - written_ >= (uint32_t)nparts)
        return false;
    part &p = part_of(next_);
    if (carry_len_) {
        memcpy(p.in, carry_, carry_len_);
        fill_ = carry_len_;
        carry_len_ = 0;
    }
    if (scanned_ < fill_) {
        // As far as reads would have filled the part: to its size, then 4 KiB at a time until a
        // record ends. What the stream had read ahead (the first part's bytes) can hold many
        // parts' worth, and is cut as the reads would have cut it.
        size_t to = scanned_ < chunk ? chunk : scanned_ + 4096;
        if (to > fill_) to = fill_;
        size_t last;
        ends_ += csv_record_ends(p.in + scanned_, to - scanned_, loop_.quoted, &inquote_, &last);
        if (last) last_end_ = scanned_ + last;
        scanned_ = to;
    }
    if (scanned_ >= chunk && last_end_) {
        publish(last_end_, ends_);
        return true;
    }
    if (scanned_ < fill_) return true;
    if (fill_ == in_cap) { // no record ends in it: the single process will say why
        stuck_ = true;
        return true;
    }
    if (!ready_) {
        // The input has nothing more for now: what has come goes to work.
        if (last_end_) {
            publish(last_end_, ends_);
            return true;
        }
        return false;
    }
    size_t want = fill_ < chunk ? chunk - fill_ : in_cap - fill_;
    if (want > 4096 && fill_ >= chunk) want = 4096;
    ssize_t n = read(fd_, p.in + fill_, want);
    if (n < 0 && errno == EINTR) return true;
    if (n < 0) { // the single process reads it again, and reports it
        stuck_ = true;
        return true;
    }
    ready_ = false;
    if (n == 0) {
        eof_ = true;
        if (fill_ > 0) publish(fill_, ends_ + (fill_ > last_end_ ? 1 : 0));
        return true;
    }
    fill_ += (size_t)n;
    return true;
}

// How far the output has gone, and whether it stops at a part given up.
void parallel_run::see_written() {
    written_ = sh->turn.load();
    if (written_ < next_ && part_of(written_).state.load(std::memory_order_acquire) == P_GIVEN_UP &&
        (given_up_ < 0 || written_ < given_up_))
        given_up_ = written_;
}

// A worker has gone (it ended, or was ended): the oldest part it held is given up.
void parallel_run::lose(int i) {
    worker_slot &w = workers_[i];
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    w.gone = true;
    alive_--;
    uint32_t me = (uint32_t)i + 1;
    if (sh->writing.load() == me && WIFSIGNALED(status)) {
        // A signal ended it in a write to standard output (its reader gone, a limit on the
        // file's size, a kill): how much of the write went out cannot be told, and the program
        // ends as the worker did.
        stop_workers();
        end_by_default_signal(WTERMSIG(status));
    }
    uint32_t writer = me;
    sh->writer.compare_exchange_strong(writer, 0); // the order of writing goes on without it
    // The part it held is given up; not one the program has run itself already, whose place in
    // the ring may be another part's now.
    long held = regular_ ? sh->holding[i].load() : w.nheld > 0 ? w.held[0] : -1;
    if (held >= 0 && (int32_t)((uint32_t)held - sh->turn.load()) >= 0 &&
        (!regular_ || held < sh->next.load(std::memory_order_acquire))) {
        part_of((uint32_t)held).state.store(P_GIVEN_UP);
        if (given_up_ < 0 || held < given_up_) given_up_ = held;
    }
    // A worker that went holding the chain of a file leaves it held: no part is taken after
    // the one it took or was taking. The parts before are written (the writer wakes the
    // program when none is left), and the single process reads on from there.
    if (regular_ && (sh->chain.load() & ~CHAIN_WAITED) == me) {
        chain_lost_ = true;
        sh->end.store(true);
        long next = sh->next.load();
        if (given_up_ < 0 || next < given_up_) given_up_ = next;
    }
}

// Sends the parts published to the workers, to those that hold none first.
void parallel_run::dispatch() {
    for (int most = 1; most <= 2; most++)
        for (int i = 0; i < jobs_started_ && sent_ < next_; i++) {
            worker_slot &w = workers_[i];
            if (w.gone || w.nheld >= most) continue;
            if (send(w.chan, &sent_, sizeof sent_, MSG_NOSIGNAL) != (ssize_t)sizeof sent_) {
                lose(i);
                continue;
            }
            w.held[w.nheld++] = sent_++;
        }
}

void parallel_run::wait_for_something() {
    struct pollfd pf[MAX_JOBS + 1];
    int n = 0;
    for (int i = 0; i < jobs_started_; i++)
        pf[n++] = {workers_[i].gone ? -1 : workers_[i].chan, POLLIN, 0};
    bool want_input = !regular_ && !ready_ && !eof_ && !stuck_ && given_up_ < 0 &&
                      next_ - written_ < (uint32_t)nparts;
    if (want_input) pf[n++] = {fd_, POLLIN, 0};
    while (poll(pf, (nfds_t)n, -1) < 0)
        if (errno != EINTR) return;
    if (want_input && pf[n - 1].revents) ready_ = true;
    for (int i = 0; i < jobs_started_; i++) {
        worker_slot &w = workers_[i];
        if (w.gone || !pf[i].revents) continue;
        uint32_t seq;
        ssize_t r = recv(w.chan, &seq, sizeof seq, 0);
        if (r == (ssize_t)sizeof seq && !regular_ && seq != LOOK) {
            w.held[0] = w.held[1];
            w.nheld--;
        } else if (r == 0 || (r < 0 && errno != EINTR)) {
            lose(i);
        }
    }
}

// Goes on as a single process from the first part not written.
bool parallel_run::go_on_alone(int *recnum) {
    stop_workers();
    if (regular_) next_ = sh->next.load(); // (the workers are gone: for good)
    uint32_t from = written_ = sh->turn.load();
    add_written_counts();
    part &p = part_of(from);
    bool in_ring = from < next_;
    long long offset = in_ring ? p.offset : sh->offset;
    size_t skip = in_ring ? p.direct.load() : 0;
    *recnum = in_ring ? p.first : sh->records;
    if (alone_from_ >= 0) { // after a part the program has run itself
        offset = alone_from_;
        skip = 0;
        *recnum = alone_recnum_;
    }
    FILE *in = fp_;
    rest_input rest{};
    if (regular_) {
        // The stream never saw its descriptor move (the reader reads at offsets).
        if (fseeko(fp_, offset, SEEK_SET) != 0) return loop_.run(fp_, name_, recnum, loop_.tally);
    } else {
        for (uint32_t s = from; s < next_; s++) {
            rest.seg[rest.nseg] = part_of(s).in;
            rest.len[rest.nseg++] = part_of(s).in_len;
        }
        if (carry_len_) {
            rest.seg[rest.nseg] = carry_;
            rest.len[rest.nseg++] = carry_len_;
        } else {
            rest.seg[rest.nseg] = part_of(next_).in;
            rest.len[rest.nseg++] = fill_;
        }
        rest.fd = eof_ ? -1 : fd_;
        in = fopencookie(&rest, "r", {rest_read, nullptr, nullptr, nullptr});
        if (!in) fatalf(errno, "ERROR: failed allocating dynamic memory");
        input_buffer_lend(in);
    }
    if (skip) {
        fflush(stdout);
        FILE *out = output_past(skip);
        if (!out) fatalf(errno, "ERROR: failed allocating dynamic memory");
        stdout = out;
    }
    return loop_.run(in, name_, recnum, loop_.tally);
}

bool parallel_run::run(int *recnum) {
    fd_ = fileno(fp_);
    struct stat st;
    regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    if (const char *v = getenv("ZELK_JOBS_CHUNK"))
        chunk = (size_t)intstrconv(v, "ZELK_JOBS_CHUNK", 1, 1 << 30);
    in_cap = chunk + MAX_RECORD_LENGTH + 2;
    out_cap = 2 * in_cap + 2 * MAX_RECORD_LENGTH;
    nparts = regular_ ? jobs_ + 2 : 2 * jobs_ + 2;
    size_t tally = (loop_.tally_size + 63) & ~(size_t)63;
    size_t head = (sizeof(shared) + 63) & ~(size_t)63;
    size_t ring = (head + (size_t)nparts * sizeof(part) + 63) & ~(size_t)63;
    size_t each = (tally + in_cap + out_cap + 63) & ~(size_t)63; // every tally aligned
    size_t len = ring + 2 * tally + (size_t)nparts * each;
    void *mem = mmap(nullptr, len, PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mem == MAP_FAILED) return loop_.run(fp_, name_, recnum, loop_.tally);
    mem_ = mem;
    mem_len_ = len;
    sh = new (mem) shared;
    parts = reinterpret_cast<part *>(static_cast<char *>(mem) + head);
    sums[0] = static_cast<char *>(mem) + ring;
    sums[1] = sums[0] + tally;
    for (int i = 0; i < nparts; i++) {
        char *base = sums[1] + tally + (size_t)i * each;
        part *p = new (&parts[i]) part;
        p->tally = base;
        p->in = base + tally;
        p->out = p->in + in_cap;
    }
    // A regular file is read again from the stream's position. From a pipe, the stream's
    // buffered bytes come first, and the reader goes on from the descriptor.
    if (regular_) {
        sh->offset = ftello(fp_);
        if (sh->offset < 0) return loop_.run(fp_, name_, recnum, loop_.tally);
        for (auto &h : sh->holding)
            h.store(-1, std::memory_order_relaxed);
    } else {
        carry_ = fp_->_IO_read_ptr;
        carry_len_ = (size_t)(fp_->_IO_read_end - fp_->_IO_read_ptr);
    }
    file_fd = regular_ ? fd_ : -1;
    fp_->_IO_read_ptr = fp_->_IO_read_end;
    sh->records = *recnum;
    if (!start_workers()) stop_workers(); // none has a part yet: the program does it all
    alive_ = jobs_started_;
    for (;;) {
        if (regular_) { // what the workers have taken
            eof_ = sh->end.load(std::memory_order_acquire);
            next_ = sent_ = sh->next.load(std::memory_order_acquire);
        }
        see_written();
        if (given_up_ >= 0 && written_ == (uint32_t)given_up_) {
            if (!regular_ || chain_lost_ || replaced_ >= MAX_REPLACED || written_ >= next_ ||
                !part_of(written_).cut ||
                (ran_here_ >= 0 && written_ - (uint32_t)ran_here_ <= MIN_APART))
                break;
            ran_here_ = written_;
            bool ok;
            int r;
            step s = run_here(written_, &r, &ok);
            if (s == FROM_START) break;
            if (s == FROM_END) {
                alone_from_ = part_of(written_).offset + (long long)part_of(written_).in_len;
                alone_recnum_ = r;
                break;
            }
            if (s == ENDED) {
                stop_workers();
                add_written_counts();
                *recnum = r;
                return ok;
            }
            given_up_ = -1;
            replace_gone();
            continue;
        }
        if (stuck_ && written_ == next_) break;
        if (regular_ && alive_ < jobs_started_ && !chain_lost_) replace_gone();
        if (alive_ == 0) break;
        if (eof_ && carry_len_ == 0 && fill_ == 0 && written_ == next_) {
            stop_workers();
            add_written_counts();
            if (regular_) fseeko(fp_, 0, SEEK_END);
            *recnum = sh->records;
            return true;
        }
        dispatch();
        if (fill()) continue;
        // With nothing else to do, the program writes what no worker has: the output of parts
        // done by a worker that has gone since, say.
        uint32_t was = written_;
        write_in_order(loop_);
        if (sh->turn.load() != was) continue;
        wait_for_something();
    }
    return go_on_alone(recnum);
}

} // namespace

bool run_record_loop(FILE *fp, const char *name, int *recnum, const record_loop &loop) {
    long long left;
    int jobs = jobs_for(fp, loop.by_default, &left);
    // Standard output closed, or open for reading only: a single process says so where it
    // always has (the workers' output would fail at another record).
    int out_flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (out_flags < 0 || (out_flags & O_ACCMODE) == O_RDONLY) jobs = 1;
    if (jobs <= 1 || left == 0) return loop.run(fp, name, recnum, loop.tally);
    parallel_run run(fp, name, loop, jobs);
    bool ok = run.run(recnum);
    run.unmap();
    return ok;
}
