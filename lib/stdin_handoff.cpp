#include "stdin_handoff.h"

#include <cstdio>
#include <cstdlib>
#include <sys/types.h>
#include <unistd.h>

#include "libcsv.h"

namespace {

bool seekable;
bool handed_back;

void handoff_and_exit(void) {
    stdin_handoff_end();
    exit(1);
}

} // namespace

void stdin_handoff_begin(void) {
    seekable = lseek(STDIN_FILENO, 0, SEEK_CUR) >= 0;
    // Without a buffer the stream reads one byte per read(2), so the reader, which never
    // looks past a record's terminator, leaves the pipe just after the record.
    if (!seekable) setvbuf(stdin, nullptr, _IONBF, 0);
    set_fatal_exit(handoff_and_exit);
}

void stdin_handoff_end(void) {
    if (handed_back || !seekable) return;
    handed_back = true;
    // The stream's position is the end of what the reader consumed; the descriptor is
    // further on by whatever the buffer read ahead.
    off_t pos = ftello(stdin);
    fflush(stdin); // empties the buffer (and, in glibc, already moves the descriptor back)
    if (pos >= 0 && lseek(STDIN_FILENO, 0, SEEK_CUR) != pos) lseek(STDIN_FILENO, pos, SEEK_SET);
}
