// Sorting CSV records with /usr/bin/sort as a child process.
//
// Each record goes to sort as one frame: its key text(s), the byte 0x02, the record text as
// read (line breaks inside quoted fields kept), a CR when CR LF output is wanted, and a NUL.
// Sort compares only the keys (before the first 0x02), keeps equal keys in input order, and
// writes the frames back NUL-terminated; reformat_sort_output strips the keys and ends each
// record with LF.
//
// A record is refused (fatal, naming the record) when it cannot travel in a frame unchanged:
// a NUL byte anywhere in it, or a framing byte (0x01, 0x02) inside a key.
#pragma once

#include <cstddef>
#include <cstdio>

#define SORT_COMMAND "/usr/bin/sort"
// sort's memory for the frames. Fed from a pipe, sort would take a few megabytes and spill a
// large input into dozens of temporary files merged in several passes; 32 MiB keeps a few
// hundred megabytes to one merge pass (a third less time) at a fixed size, whatever the input.
#define SORT_BUFFER_SIZE "--buffer-size=32M"
#define SORT_FRAME_KEYSEP '\x01'   // between the keys of a multi-key frame
#define SORT_FRAME_RECSTART '\x02' // ends the key part of every frame

// Starts sort with argv (the sorting protocol of libsubproc, the command's standard output on
// the pipe). Afterwards to_sort[1] and from_sort[0] are the program's ends.
void start_sort_child(char *const argv[], int to_sort[2], int from_sort[2]);

// The write end of the input pipe as a buffered stream; failure is fatal with
// "ERROR: failed opening sort pipe for main process".
FILE *open_sort_pipe(int fd);

// Writes the header record (len bytes) with the output terminator and flushes standard
// output; an output error ends the run through the child clean-up.
void sort_write_header(const char *text, size_t len);

// Refuses a record that holds a NUL byte: fatal with a message naming the record.
void sortframe_check_record(int recnum, const char *record, size_t len);
// Refuses a key that holds a framing byte: fatal with a message naming the record.
void sortframe_check_key(int recnum, const char *key, size_t len, bool multikey);

// The parts of a frame. Keys are written by the caller (with SORT_FRAME_KEYSEP after each
// key of a multi-key frame), then the record part.
void sortframe_put_key(FILE *pipe, const char *key, size_t len);
void sortframe_put_record(FILE *pipe, const char *record, size_t len, bool cr);
// "Error: failed writing output to 'pipe to sort'" and the clean-up when the stream failed.
void sortframe_check_pipe(FILE *pipe);
// Closes the stream, flushing the last frames; false (errno set) if that failed.
bool close_sort_pipe(FILE *pipe);

// The decimal seconds since the epoch of a date-time key, parsed with strptime(format) and
// converted with mktime in the zone named by TZ. On failure prints
// "ERROR: record #%d: %s was an invalid date-time: '%s'" (what is "SORT_FIELD" or
// "KEYDEF field N"; after "ERROR: record #%d: failed to convert date-time '%s' to utime" when
// only the conversion failed) and ends through the child clean-up. The text lives in a static
// buffer until the next call.
const char *datetime_to_utimestr(const char *key, const char *format, int recnum, const char *what);

// The usage text's closing notes on date-time formats, ending with tz_note, to out.
void print_datetime_usage(FILE *out, const char *tz_note);

// Copies sort's output (the fd) to standard output, dropping each frame's keys and its first
// 0x02, and ending each record with LF. False on a read or write error, after
// "ERROR: failed reformatting sort output" with the system error.
bool reformat_sort_output(int fd);
