// The floor of a durable in-place run over many files: what no program that
// replaces each file by a complete new version, durably, can beat. It does
// exactly this and nothing more:
//
//   1. read each file and write its bytes into a new file beside it,
//   2. one syncfs() of the file system they are on,
//   3. rename each new file over its old one,
//   4. one fsync() of each folder (the folders of consecutive names; the
//      benchmarks give one folder).
//
//   cc -O2 -o replace_floor bench/replace_floor.c && ./replace_floor FILE...
//
// The new files are named FILE.floor-new; the content is the old one's, so a
// run leaves every file as it was (with a new inode).
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void die(const char *what, const char *name)
{
    fprintf(stderr, "replace_floor: %s %s: %s\n", what, name, strerror(errno));
    exit(1);
}

static char *newName(const char *name)
{
    static const char suffix[] = ".floor-new";
    char *result = malloc(strlen(name) + sizeof suffix);
    if (!result)
        die("malloc", name);
    strcpy(result, name);
    strcat(result, suffix);
    return result;
}

// The folder part of a name, "." when it has none.
static char *folderOf(const char *name)
{
    const char *slash = strrchr(name, '/');
    if (!slash)
        return strdup(".");
    if (slash == name)
        return strdup("/");
    return strndup(name, (size_t)(slash - name));
}

int main(int argc, char **argv)
{
    size_t capacity = 1 << 20;
    char *buffer = malloc(capacity);
    if (!buffer)
        die("malloc", "");
    for (int i = 1; i < argc; ++i) {
        const int in = open(argv[i], O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (in < 0 || fstat(in, &info) != 0)
            die("open", argv[i]);
        if ((size_t)info.st_size > capacity) {
            capacity = (size_t)info.st_size;
            free(buffer);
            if (!(buffer = malloc(capacity)))
                die("malloc", argv[i]);
        }
        size_t size = 0;
        for (ssize_t got; size < (size_t)info.st_size; size += (size_t)got)
            if ((got = read(in, buffer + size, (size_t)info.st_size - size)) <= 0)
                die("read", argv[i]);
        close(in);
        char *name = newName(argv[i]);
        const int out = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0)
            die("create", name);
        for (size_t put = 0; put < size;) {
            const ssize_t n = write(out, buffer + put, size - put);
            if (n <= 0)
                die("write", name);
            put += (size_t)n;
        }
        if (close(out) != 0)
            die("close", name);
        free(name);
    }
    if (argc > 1) {
        char *folder = folderOf(argv[1]);
        const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || syncfs(fd) != 0)
            die("syncfs", folder);
        close(fd);
        free(folder);
    }
    for (int i = 1; i < argc; ++i) {
        char *name = newName(argv[i]);
        if (rename(name, argv[i]) != 0)
            die("rename", name);
        free(name);
    }
    char *flushed = NULL;
    for (int i = 1; i < argc; ++i) {
        char *folder = folderOf(argv[i]);
        if (flushed && strcmp(folder, flushed) == 0) {
            free(folder);
            continue;
        }
        const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || fsync(fd) != 0)
            die("fsync", folder);
        close(fd);
        free(flushed);
        flushed = folder;
    }
    free(flushed);
    free(buffer);
    return 0;
}
