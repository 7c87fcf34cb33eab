/* The peer for the keystroke cost: a line read with GNU readline behind the
 * same prompt, line after line, until end of input. */
#include <stdio.h>
#include <stdlib.h>

#include <readline/readline.h>

int main(void) {
    for (;;) {
        char* line = readline("Decimal number  (max. 999999999999999)? ");
        if (line == NULL) return 0;
        free(line);
    }
}
