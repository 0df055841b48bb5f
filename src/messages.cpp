#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// A message is put together here and handed to its stream in one call, so
// that standard error, which has no buffer, gets it in one write. A longer
// message (a very long program name) goes in several pieces.
constexpr std::size_t MESSAGE_SIZE = 4096;

struct Message {
    std::FILE* stream;
    std::size_t used;
    char text[MESSAGE_SIZE];
};

void send(Message& message) {
    std::fwrite(message.text, 1, message.used, message.stream);
    message.used = 0;
}

void add(Message& message, const char* bytes, std::size_t size) {
    while (size > 0) {
        if (message.used == MESSAGE_SIZE)
            send(message);
        std::size_t room = MESSAGE_SIZE - message.used;
        std::size_t chunk = size < room ? size : room;
        std::memcpy(message.text + message.used, bytes, chunk);
        message.used += chunk;
        bytes += chunk;
        size -= chunk;
    }
}

void add_unsigned(Message& message, unsigned value) {
    char digits[16];
    std::size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    add(message, digits + at, sizeof digits - at);
}

// True when the format's only conversions are %s and %u: all of the
// tool's messages are such.
bool is_plain(const char* format) {
    for (const char* percent = std::strchr(format, '%'); percent != nullptr;
         percent = std::strchr(percent + 2, '%'))
        if (percent[1] != 's' && percent[1] != 'u')
            return false;
    return true;
}

// Prints a message: a plain format is put together here, byte for byte as
// printf would, without printf's cost per call; any other goes to vfprintf.
void print(std::FILE* stream, const char* format, std::va_list args) {
    if (!is_plain(format)) {
        std::vfprintf(stream, format, args);
        return;
    }
    Message message;
    message.stream = stream;
    message.used = 0;
    const char* text = format;
    for (const char* percent = std::strchr(text, '%'); percent != nullptr;
         percent = std::strchr(text, '%')) {
        add(message, text, static_cast<std::size_t>(percent - text));
        if (percent[1] == 's') {
            const char* string = va_arg(args, const char*);
            add(message, string, std::strlen(string));
        } else {
            add_unsigned(message, va_arg(args, unsigned));
        }
        text = percent + 2;
    }
    add(message, text, std::strlen(text));
    send(message);
}

// Standard output's buffer when it is a file or a pipe.
constexpr std::size_t PROGRESS_BUFFER_SIZE = std::size_t{64} * 1024;
char progress_buffer[PROGRESS_BUFFER_SIZE];

}  // namespace

void buffer_progress() {
    // Only a stream on a descriptor: one in memory keeps its own buffer.
    int fd = fileno(stdout);
    if (fd >= 0 && isatty(fd) == 0)
        std::setvbuf(stdout, progress_buffer, _IOFBF, PROGRESS_BUFFER_SIZE);
}

void progress(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    print(stdout, format, args);
    va_end(args);
}

void report(const char* format, ...) {
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    print(stderr, format, args);
    va_end(args);
}
