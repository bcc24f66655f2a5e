/* The process-start limit for the CGI benchmark: the least a CGI program can do for one request,
   read CONTENT_LENGTH bytes of body and write a fixed 1 KB page. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(void) {
    const char* len = getenv("CONTENT_LENGTH");
    long left = len ? atol(len) : 0;
    char buf[4096];
    while (left > 0) {
        ssize_t n = read(0, buf, left < (long)sizeof buf ? (size_t)left : sizeof buf);
        if (n <= 0) break;
        left -= n;
    }
    static const char head[] = "Content-Type: text/html\r\n\r\n<html><body>";
    static const char tail[] = "</body></html>\r\n";
    char page[1024];
    size_t fill = sizeof page - (sizeof head - 1) - (sizeof tail - 1);
    memcpy(page, head, sizeof head - 1);
    memset(page + sizeof head - 1, 'x', fill);
    memcpy(page + sizeof head - 1 + fill, tail, sizeof tail - 1);
    return write(1, page, sizeof page) == (ssize_t)sizeof page ? 0 : 1;
}
