// A program's record loop on several cores at once.
//
// A program whose work goes record by record hands its loop over the rest of an input to
// run_record_loop. With one worker the loop simply runs. With more, the input is cut into
// parts at record ends (csv_record_ends: for CSV, the parity of the double quotes since the
// last cut), forked copies of the program, each with the state the program had when it
// called, run the loop on the parts at once, and their output is written in input order by
// the workers themselves: one that finishes a part writes out the parts done from the next one
// due, when no other is at it, and goes on working. In a regular file, a worker that is free
// reads the next part itself, from where the one before it ends, and the program sleeps until
// the end; from a pipe, the reader (the program itself) reads the parts and hands them out.
// A part whose loop would write to standard error or end the program is given up unseen: the
// parts before it are written, and the program itself runs that part as a single process
// would, messages and all; from a file, the workers then go on with the parts after it (the
// one that gave it up replaced) while the parts given up are more than four apart, up to 64
// times a run, and otherwise the program reads on alone from that part's first record. So the
// output, the messages and the status are those of the one-worker run, byte for byte, errors
// included; only the time differs. (A worker that a signal ends is replaced in the same way,
// unless it was writing: then the program ends by the same signal, since what that write left
// cannot be told.)
//
// What keeps it exact: a worker's part starts where a record starts (the parts before it were
// read without a fault, each ending where csv_record_ends says a record ends), and a worker
// that counts the records of its part otherwise than the scan did gives it up. A change to
// the readers' grammar that moves where records end changes csv_record_ends with it, or every
// part is given up: slower, never wrong.
//
// The number of workers: -jNUM (a common option letter), else ZELK_JOBS in the environment,
// else every core the program may run on for a regular file with at least 16 MiB left to
// read (unless the loop says it gains nothing from them), and one for anything smaller or not
// a file. Memory, whatever the input's size: parts of about 1 MiB (ZELK_JOBS_CHUNK bytes) and
// their output, two a worker and two more in flight from a pipe, one a worker and two more from
// a file (whose workers each read into 2 MiB of their own).
#pragma once

#include <cstddef>
#include <cstdio>

struct record_loop {
    // Reads the records of fp, numbered from *recnum + 1, to the end of the input and leaves
    // in *recnum the number of the last one read; counts into tally. False when a record could
    // not be read (the reader has said why).
    bool (*run)(FILE *fp, const char *name, int *recnum, void *tally);
    // What the loop counts, as plain data that a part's run starts at zero, or null. merge
    // adds a part's counts to those of the parts before it.
    void *tally = nullptr;
    size_t tally_size = 0;
    void (*merge)(void *into, const void *part) = nullptr;
    // Double quotes enclose fields; false: every line feed ends a record.
    bool quoted = true;
    // Several cores without -j or ZELK_JOBS, for a large file. False for a loop that costs no
    // more than reading the input, which the reader does alone: more workers only add work.
    bool by_default = true;
};

// The merge of a tally that is one array of counts, `struct { int n[K]; }`: adds them up.
template <class Tally> void add_counts(void *into, const void *part) {
    auto &sum = static_cast<Tally *>(into)->n;
    const auto &more = static_cast<const Tally *>(part)->n;
    for (size_t i = 0; i < sizeof sum / sizeof sum[0]; i++)
        sum[i] += more[i];
}

// Runs loop over the rest of fp (from where the stream stands) as described above; returns
// what its run returns.
bool run_record_loop(FILE *fp, const char *name, int *recnum, const record_loop &loop);
