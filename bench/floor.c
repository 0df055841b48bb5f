/* The floor for the speed benchmark: the least work that writes the same
 * image and the same messages as unifpack for the benchmark's makefiles
 * (LF line ends, keys MAPR, NAME, TVCI, MIRR, BATR, PRGn and CHRn, every
 * data file present). It reads the makefile in 1 MiB pieces, keeps the
 * image and the messages in 1 MiB buffers written out when full, reads a
 * small data file straight into the image buffer and copies a large one
 * with copy_file_range. It checks nothing the benchmark does not need.
 *
 *   floor MAKEFILE
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { OUT_SIZE = 1 << 20 };

struct out {
    int fd;
    size_t used;
    char bytes[OUT_SIZE];
};

static struct out image;
static struct out messages;

static void flush(struct out *out) {
    size_t done = 0;
    while (done < out->used) {
        ssize_t n = write(out->fd, out->bytes + done, out->used - done);
        if (n <= 0) {
            perror("floor: write");
            exit(1);
        }
        done += (size_t)n;
    }
    out->used = 0;
}

static void put(struct out *out, const void *bytes, size_t size) {
    if (out->used + size > OUT_SIZE)
        flush(out);
    memcpy(out->bytes + out->used, bytes, size);
    out->used += size;
}

static void put_text(struct out *out, const char *text) {
    put(out, text, strlen(text));
}

static void put_number(struct out *out, unsigned long value) {
    char digits[24];
    int at = sizeof digits;
    do {
        digits[--at] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    put(out, digits + at, sizeof digits - (size_t)at);
}

static void put_le32(struct out *out, unsigned long value) {
    unsigned char bytes[4] = {(unsigned char)value, (unsigned char)(value >> 8),
                              (unsigned char)(value >> 16), (unsigned char)(value >> 24)};
    put(out, bytes, 4);
}

static void block_start(const char *key, size_t key_length, unsigned long length) {
    char id[4] = {0, 0, 0, 0};
    memcpy(id, key, key_length < 4 ? key_length : 4);
    put(&image, id, 4);
    put_le32(&image, length);
}

static void store_message(const char *key, size_t key_length) {
    put(&messages, "Storing ", 8);
    put(&messages, key, key_length);
}

/* Copies a data file into the image: small ones through the buffer, large
 * ones inside the kernel. */
static void copy_file(const char *name, const char *key, size_t key_length) {
    int fd = open(name, O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        perror(name);
        exit(1);
    }
    size_t size = (size_t)info.st_size;
    store_message(key, key_length);
    put_text(&messages, " as from file ");
    put_text(&messages, name);
    put_text(&messages, " (");
    put_number(&messages, size);
    put_text(&messages, " bytes)\n");
    block_start(key, key_length, size);
    if (image.used + size <= OUT_SIZE) {
        if (read(fd, image.bytes + image.used, size) != (ssize_t)size) {
            perror(name);
            exit(1);
        }
        image.used += size;
    } else {
        flush(&image);
        while (size > 0) {
            ssize_t n = copy_file_range(fd, NULL, image.fd, NULL, size, 0);
            if (n <= 0) {
                perror(name);
                exit(1);
            }
            size -= (size_t)n;
        }
    }
    close(fd);
}

/* One directive line, without its LF. */
static void directive(char *line, char *lf) {
    *lf = '\0';
    char *space = memchr(line, ' ', (size_t)(lf - line));
    const char *key = line;
    size_t key_length = (size_t)(space - line);
    const char *value = space + 1;
    size_t value_length = (size_t)(lf - value);
    if (memcmp(key, "MAPR", 4) == 0 || memcmp(key, "NAME", 4) == 0) {
        store_message(key, key_length);
        put(&messages, " as '", 5);
        put(&messages, value, value_length);
        put(&messages, "'\n", 2);
        block_start(key, key_length, value_length + 1);
        put(&image, value, value_length + 1);  /* the text and its zero byte */
    } else if (memcmp(key, "PRG", 3) == 0 || memcmp(key, "CHR", 3) == 0) {
        copy_file(value, key, key_length);
    } else {
        unsigned byte = 0;
        for (const char *digit = value; *digit >= '0' && *digit <= '9'; ++digit)
            byte = (byte * 10 + (unsigned)(*digit - '0')) % 256;
        store_message(key, key_length);
        put(&messages, " as ", 4);
        put_number(&messages, byte);
        put(&messages, "\n", 1);
        block_start(key, key_length, 1);
        unsigned char stored = (unsigned char)byte;
        put(&image, &stored, 1);
    }
}

static char input[OUT_SIZE + 1];

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: floor MAKEFILE\n");
        return 1;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    messages.fd = STDOUT_FILENO;
    /* The makefile in 1 MiB pieces: whole lines are handled, the rest of
     * a piece moves to the front before the next read. */
    size_t held = 0;
    int line_number = 0;
    for (;;) {
        ssize_t got = read(fd, input + held, OUT_SIZE - held);
        if (got <= 0)
            break;
        held += (size_t)got;
        char *line = input;
        char *end = input + held;
        char *lf;
        while ((lf = memchr(line, '\n', (size_t)(end - line))) != NULL) {
            ++line_number;
            if (line_number == 2) {
                *lf = '\0';
                image.fd = open(line, O_WRONLY | O_CREAT | O_TRUNC, 0666);
                if (image.fd < 0) {
                    perror(line);
                    return 1;
                }
                put_text(&messages, "Opened file ");
                put_text(&messages, line);
                put_text(&messages, " for output.\nWriting header...\n");
                static const char header[32] = {'U', 'N', 'I', 'F', 7};
                put(&image, header, sizeof header);
            } else if (line_number > 2) {
                directive(line, lf);
            }
            line = lf + 1;
        }
        held = (size_t)(end - line);
        memmove(input, line, held);
    }
    close(fd);
    flush(&image);
    close(image.fd);
    put_text(&messages, "Done!\n");
    flush(&messages);
    return 0;
}
