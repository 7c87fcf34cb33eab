/* A poll loop that wakes every PERIOD milliseconds (the first argument) and
   does nothing else. Without a second argument it watches no descriptor: the
   least a program that polls at that period can cost while idle. With the
   second argument "stdin" it waits on its standard input as well, which it
   never reads: the least a program that waits on a terminal for its keys at
   that period can cost. */
#include <poll.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const int period = argc > 1 ? atoi(argv[1]) : 25;
    struct pollfd input = {.fd = 0, .events = POLLIN};
    const nfds_t count = argc > 2 && strcmp(argv[2], "stdin") == 0 ? 1 : 0;
    for (;;)
        poll(&input, count, period);
}
