/* The floor of the report: reads once every file named in LIST (one path a line), the way
 * any program must at least read them, and nothing else. Directories are listed.
 *
 *   bench_read_files LIST [-v] [-g]
 *
 * bench/suite.py makes LIST from an strace of the report, so the floor is the cost of the
 * very files the report read. With -v the number of files and bytes go to standard error.
 * With -g each file is opened the guarded way the report opens the files of a capture: only a
 * regular file or a directory is opened, and nothing that follows a link. A directory only
 * its owner (this user or the superuser) may change is listed once, and a file in it opened
 * when the listing shows a regular file or a directory; elsewhere each file takes a
 * descriptor of the path that opens nothing, a look at what it is, and an open of that very
 * object. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The directory of the last file, as the report keeps it: whether it is sealed and, if so,
 * its listing (d_type of each name), made once per directory. */
static char last_dir[8192];
static int last_sealed = 0;
static char listing[1 << 16];
static long listing_size = 0;

static void enter_dir(const char* path) {
    const char* slash = strrchr(path, '/');
    size_t len = slash ? (size_t)(slash - path) : 0;
    if (len >= sizeof last_dir) len = 0;
    if (strncmp(last_dir, path, len) == 0 && last_dir[len] == 0) return;
    memcpy(last_dir, path, len);
    last_dir[len] = 0;
    struct stat st;
    last_sealed = len > 0 && stat(last_dir, &st) == 0 &&
                  (st.st_uid == geteuid() || st.st_uid == 0) &&
                  (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    listing_size = 0;
    if (!last_sealed) return;
    int fd = open(last_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    long n;
    while (fd >= 0 && listing_size < (long)sizeof listing &&
           (n = getdents64(fd, listing + listing_size, sizeof listing - listing_size)) > 0)
        listing_size += n;
    if (fd >= 0) close(fd);
}

static int listed_kind(const char* name) {
    for (long at = 0; at < listing_size;) {
        const struct dirent64* e = (const struct dirent64*)(listing + at);
        if (strcmp(e->d_name, name) == 0) return e->d_type;
        at += e->d_reclen;
    }
    return -1;
}

static int guarded_open(const char* path, int own_fds) {
    struct stat st;
    enter_dir(path);
    if (last_sealed) {
        int kind = listed_kind(strrchr(path, '/') + 1);
        if (kind != DT_REG && kind != DT_DIR) return -1;
        return open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    }
    int at = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (at < 0) return -1;
    int fd = -1;
    if (fstat(at, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        char name[16];
        snprintf(name, sizeof name, "%d", at);
        fd = openat(own_fds, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    }
    close(at);
    return fd;
}

int main(int argc, char** argv) {
    static char buf[1 << 16];
    static char line[8192];
    if (argc < 2) {
        fprintf(stderr, "usage: %s LIST [-v] [-g]\n", argv[0]);
        return 2;
    }
    int verbose = 0, own_fds = -1;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "-v") == 0) verbose = 1;
        if (strcmp(argv[i], "-g") == 0 && own_fds < 0)
            own_fds = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    FILE* list = fopen(argv[1], "re");
    if (!list) {
        perror(argv[1]);
        return 1;
    }
    unsigned long files = 0, bytes = 0;
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\n")] = 0;
        int fd = own_fds >= 0 ? guarded_open(line, own_fds)
                              : open(line, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            bytes += (unsigned long)n;
        if (n < 0 && errno == EISDIR)
            while ((n = getdents64(fd, buf, sizeof buf)) > 0)
                bytes += (unsigned long)n;
        close(fd);
        ++files;
    }
    fclose(list);
    if (verbose) fprintf(stderr, "%lu files, %lu bytes\n", files, bytes);
    return 0;
}
