/* A bare poll loop: wakes every PERIOD milliseconds (the first argument) and
   does nothing else, the least a program that polls at that period can cost
   while idle. */
#include <poll.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    const int period = argc > 1 ? atoi(argv[1]) : 25;
    for (;;)
        poll(NULL, 0, period);
}
