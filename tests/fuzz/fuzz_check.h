// What the fuzz targets share. FUZZ_CHECK: a property they hold the tool
// to; when it fails, the input is a finding. The message goes straight to
// descriptor 2, whatever the standard streams point at, and the abort
// makes libFuzzer keep the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

[[noreturn]] inline void fuzz_property_failed(const char* what, const char* file, int line) {
    dprintf(2, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                               \
    do {                                                          \
        if (!(condition))                                         \
            fuzz_property_failed((what), __FILE__, __LINE__);     \
    } while (false)

// The lowest descriptor number free now: a run that leaves one open moves it.
inline int lowest_free_descriptor() {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "opening /dev/null");
    close(fd);
    return fd;
}

// A tool's standard stream, caught in memory for the length of a run.
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
