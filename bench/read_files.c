/* The floor of the report: reads once every file named in LIST (one path a line), the way
 * any program must at least read them, and nothing else. Directories are listed.
 *
 *   bench_read_files LIST [-v]
 *
 * bench/suite.py makes LIST from an strace of the report, so the floor is the cost of the
 * very files the report read. With -v the number of files and bytes go to standard error. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    static char buf[1 << 16];
    static char line[8192];
    if (argc < 2) {
        fprintf(stderr, "usage: %s LIST [-v]\n", argv[0]);
        return 2;
    }
    FILE* list = fopen(argv[1], "re");
    if (!list) {
        perror(argv[1]);
        return 1;
    }
    unsigned long files = 0, bytes = 0;
    while (fgets(line, sizeof line, list)) {
        line[strcspn(line, "\n")] = 0;
        int fd = open(line, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
    if (argc > 2) fprintf(stderr, "%lu files, %lu bytes\n", files, bytes);
    return 0;
}
