/* The floor for the FastCGI benchmarks: the least a FastCGI responder can do for one request
   behind a web server that opens a connection per request. Threads block in accept on one Unix
   socket (as PHP-FPM's workers do), read records until the empty STDIN record, answer a fixed
   page and END_REQUEST, and close. No parameters are decoded. Usage: minimal_fcgi SOCKET THREADS */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int listener;

static void put_record(char* out, size_t* at, int type, const char* content, size_t length) {
    unsigned char head[8] = {1, (unsigned char)type, 0, 1, (unsigned char)(length >> 8), (unsigned char)length, 0, 0};
    memcpy(out + *at, head, 8);
    memcpy(out + *at + 8, content, length);
    *at += 8 + length;
}

/* True once the empty STDIN record has come whole; records are parsed from the start each time. */
static int request_complete(const unsigned char* in, size_t have) {
    size_t at = 0;
    while (at + 8 <= have) {
        size_t length = ((size_t)in[at + 4] << 8) | in[at + 5], record = 8 + length + in[at + 6];
        if (at + record > have) return 0;
        if (in[at + 1] == 5 && length == 0) return 1;
        at += record;
    }
    return 0;
}

static void serve(int fd) {
    static const char page[] = "Status: 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body><p>Refused.</p></body></html>\r\n";
    static const char end[8] = {0};
    unsigned char in[65536];
    size_t have = 0;
    while (!request_complete(in, have)) {
        if (have == sizeof in) return;
        ssize_t n = read(fd, in + have, sizeof in - have);
        if (n <= 0) return;
        have += (size_t)n;
    }
    char out[512];
    size_t at = 0;
    put_record(out, &at, 6, page, sizeof page - 1);
    put_record(out, &at, 6, "", 0);
    put_record(out, &at, 3, end, sizeof end);
    if (write(fd, out, at) < 0) return;
}

static void* work(void* unused) {
    (void)unused;
    for (;;) {
        int fd = accept(listener, NULL, NULL);
        if (fd < 0) continue;
        serve(fd);
        close(fd);
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    struct sockaddr_un a;
    memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    strncpy(a.sun_path, argv[1], sizeof a.sun_path - 1);
    unlink(argv[1]);
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    if (listener < 0 || bind(listener, (struct sockaddr*)&a, sizeof a) != 0 || listen(listener, 1024) != 0) {
        perror("minimal_fcgi");
        return 1;
    }
    int threads = atoi(argv[2]);
    for (int i = 1; i < threads; ++i) {
        pthread_t t;
        pthread_create(&t, NULL, work, NULL);
    }
    work(NULL);
    return 0;
}
