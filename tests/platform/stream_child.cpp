// A program whose standard output is redirected, for redirected_output_test. Its
// first argument says what it does after writing the test pattern:
//   wait    poll for keys and sleep, as the runtime does, until killed;
//   exit    end through the C runtime's exit with status 5;
//   broken  (writes no pattern) write one byte and wait a moment: output is
//           sent before a wait at the latest, and output that cannot be sent
//           ends the program there; should it go on, it ends with status 1.
#include <cstring>
#include <string>

#include "platform/console_api.h"
#include "tests/platform/stream_pattern.h"

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (std::strcmp(mode, "broken") == 0) {
        DWORD written = 0;
        WriteFile(out, "x", 1, &written, nullptr);
        Sleep(1);
        crt::exit(1);
    }
    const std::string pattern = stream_test::pattern();
    for (std::size_t at = 0; at < pattern.size(); at += stream_test::kChunk) {
        const std::string chunk = pattern.substr(at, stream_test::kChunk);
        DWORD written = 0;
        WriteFile(out, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr);
    }
    if (std::strcmp(mode, "exit") == 0) crt::exit(5);
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        INPUT_RECORD record{};
        DWORD read = 0;
        PeekConsoleInputA(in, &record, 1, &read);
        Sleep(25);
    }
}
