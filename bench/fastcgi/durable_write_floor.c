/* The floor under background delivery's CPU per post: what keeping a 1 KB mail on disk the way the
   outbox promises costs one thread on this file system, with no mail composed or sent. Each file is
   created beside its final name, written, synced, closed, renamed, and the folder synced; then the
   same without the two syncs. Prints the processor time per file of each, in microseconds.
   Usage: durable_write_floor FOLDER COUNT (FOLDER is made; it must not exist). */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

static double cpu_us(void) {
    struct rusage r;
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
}

static int keep(const char* folder, int folder_fd, int i, int synced) {
    static char text[1024];
    char temp[4096], name[4096];
    memset(text, 'x', sizeof text);
    snprintf(temp, sizeof temp, "%s/%d-%d.tmp", folder, synced, i);
    snprintf(name, sizeof name, "%s/%d-%d.mail", folder, synced, i);
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, text, sizeof text) != (ssize_t)sizeof text || (synced && fsync(fd) != 0)) return 0;
    close(fd);
    return rename(temp, name) == 0 && (!synced || fsync(folder_fd) == 0);
}

int main(int argc, char** argv) {
    if (argc != 3 || mkdir(argv[1], 0700) != 0) return 2;
    int count = atoi(argv[2]), folder_fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int synced = 1; synced >= 0; --synced) {
        double start = cpu_us();
        for (int i = 0; i < count; ++i)
            if (!keep(argv[1], folder_fd, i, synced)) {
                perror("durable_write_floor");
                return 1;
            }
        printf("%.1f ", (cpu_us() - start) / count);
    }
    printf("\n");
    return 0;
}
