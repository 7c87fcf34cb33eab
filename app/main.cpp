// Program entry. The conversion loop arrives with the console runtime; until
// then the program starts and ends.
#include "runtime/core/startup.h"

int main(int argc, char** argv) {
    rt::runtime_init(argc, argv);
    rt::run_module_constructors();
    rt::runtime_end(0);
}
