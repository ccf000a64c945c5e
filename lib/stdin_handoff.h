// Reading one record from standard input and leaving the rest of it to the next process.
//
// The pipeline readers are called once per record in shell loops such as
//     while rec=$(zelk-next-row); do ...; done < file.csv
// so each run must consume exactly one record of standard input. A seekable input is read
// through the stream's buffer as usual, and the descriptor is moved back to the end of the
// record afterwards; a pipe or terminal is read without a buffer, one byte per read, so that
// no byte past the record ever leaves the pipe.
#pragma once

// Call before the first read of stdin: chooses the buffering and arranges for a fatal error
// to hand the input back as well.
void stdin_handoff_begin(void);
// Call once the record has been read: the descriptor of standard input is positioned just
// after the last byte the stream consumed, and the stream's buffer is emptied.
void stdin_handoff_end(void);
