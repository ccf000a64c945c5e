// Helpers for the library's unit tests.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "libcsv.h"

using namespace std::string_literals;

// A read-only stream over the given bytes (NUL bytes included); closed with the object.
class MemStream {
  public:
    explicit MemStream(std::string bytes) : bytes_(std::move(bytes)) {
        fp_ = bytes_.empty() ? fopen("/dev/null", "r")
                             : fmemopen(bytes_.data(), bytes_.size(), "r");
    }
    ~MemStream() {
        if (fp_) fclose(fp_);
    }
    MemStream(const MemStream &) = delete;
    MemStream &operator=(const MemStream &) = delete;
    operator FILE *() const { return fp_; }

  private:
    std::string bytes_;
    FILE *fp_;
};

// Captures what the library writes to standard error. Messages begin "t: ".
class StderrCapture {
  public:
    StderrCapture() {
        program_invocation_name = const_cast<char *>("t");
        ::testing::internal::CaptureStderr();
    }
    std::string take() {
        if (done_) return {};
        done_ = true;
        return ::testing::internal::GetCapturedStderr();
    }
    ~StderrCapture() { take(); }

  private:
    bool done_ = false;
};
