// What the in-process fuzz targets need around a run of a program's entry:
// its two streams caught in memory, and the lowest free descriptor, to tell
// that the run left none open.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "fuzz_check.h"

inline int lowest_free_descriptor() {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "opening /dev/null");
    close(fd);
    return fd;
}

// One of the tool's streams, caught in memory for the length of a run.
class Captured {
public:
    Captured() : stream_(open_memstream(&data_, &size_)) { FUZZ_CHECK(stream_ != nullptr, "open_memstream"); }
    ~Captured() { std::free(data_); }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* stream() { return stream_; }
    std::string close() {
        std::fclose(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};
