// Writing to a file descriptor directly, past the stdio buffers.
#pragma once

#include <cstddef>

// Writes all n bytes to fd, resuming after short writes and interrupted calls. False on
// failure, with errno set.
bool write_fd_all(int fd, const char *p, size_t n);
