#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// A message is put together here and handed to its stream in one call, so
// that standard error, which has no buffer, gets it in one write.
constexpr std::size_t MESSAGE_SIZE = 4096;

// Puts the message together byte by byte, as printf would. Knows %s and
// %u, the only conversions of unifpack's messages; false for any other
// conversion, and for a message longer than the buffer.
bool assemble(char* text, std::size_t& length, const char* format, std::va_list args) {
    std::size_t used = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            if (used == MESSAGE_SIZE)
                return false;
            text[used++] = *f;
            continue;
        }
        ++f;
        if (*f == 's') {
            for (const char* c = va_arg(args, const char*); *c != '\0'; ++c) {
                if (used == MESSAGE_SIZE)
                    return false;
                text[used++] = *c;
            }
        } else if (*f == 'u') {
            char digits[16];
            std::size_t at = sizeof digits;
            unsigned value = va_arg(args, unsigned);
            do {
                digits[--at] = static_cast<char>('0' + value % 10);
                value /= 10;
            } while (value != 0);
            if (sizeof digits - at > MESSAGE_SIZE - used)
                return false;
            while (at < sizeof digits)
                text[used++] = digits[at++];
        } else {
            return false;
        }
    }
    length = used;
    return true;
}

// Prints a message: put together here when it can be, through vfprintf
// otherwise (unifinfo's widths and 64-bit numbers, a very long message).
void print(std::FILE* stream, const char* format, std::va_list args) UNIFPACK_PRINTF(2, 0);
void print(std::FILE* stream, const char* format, std::va_list args) {
    char text[MESSAGE_SIZE];
    std::size_t length = 0;
    std::va_list again;
    va_copy(again, args);
    if (assemble(text, length, format, args))
        std::fwrite(text, 1, length, stream);
    else
        std::vfprintf(stream, format, again);
    va_end(again);
}

// Progress messages wait here, when standard output is a file or a pipe,
// and go out in large writes: when the buffer is full, before any error
// message, and at the end of the run.
constexpr std::size_t PROGRESS_SIZE = std::size_t{64} * 1024;

struct PendingProgress {
    std::FILE* stream;  // standard output, or null when not held back
    std::size_t used;
    char text[PROGRESS_SIZE];
};
PendingProgress pending;

}  // namespace

void buffer_progress() {
    // Only a stream on a descriptor: a terminal shows every line as it
    // comes, and a stream in memory needs no help.
    int fd = fileno(stdout);
    pending.stream = fd >= 0 && isatty(fd) == 0 ? stdout : nullptr;
    pending.used = 0;
    // The held-back messages go out whole, in one write each.
    if (pending.stream != nullptr)
        std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void flush_progress() {
    if (pending.used > 0)
        std::fwrite(pending.text, 1, pending.used, pending.stream);
    pending.used = 0;
}

void progress(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    if (pending.stream != nullptr && pending.stream == stdout) {
        if (PROGRESS_SIZE - pending.used < MESSAGE_SIZE)
            flush_progress();
        std::size_t length = 0;
        std::va_list again;
        va_copy(again, args);
        if (assemble(pending.text + pending.used, length, format, args)) {
            pending.used += length;
        } else {
            flush_progress();
            std::vfprintf(stdout, format, again);
        }
        va_end(again);
    } else {
        print(stdout, format, args);
    }
    va_end(args);
}

void report(const char* format, ...) {
    flush_progress();
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    print(stderr, format, args);
    va_end(args);
}
