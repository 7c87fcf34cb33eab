// A small program over the console functions alone, as the runtime uses them,
// for the terminal host's tests. It polls for keys as the runtime does (peek,
// then Sleep) and acts on each key-down:
//   printable keys   echoed at the cursor (on the console: a cell written, the
//                    cursor moved after it; redirected: the byte written)
//   Enter            a new line; on the bottom row the whole buffer scrolls up
//   F1               scrolls the whole buffer up one row
//   F2, F3           hide and show the cursor
//   F4               beeps
//   F5               shows "busy" and stays away from the console (as a
//                    long computation would) until a control handler has run
//   F6               writes output without end (cells and frames on the
//                    console, bytes when redirected) until a control handler
//                    has run
//   Escape           ends the program through crt::exit(0)
// A failed WriteFile ends it with status 4.
// On the console it starts with "ready <cols>x<rows>" in the top row and writes
// "size <cols>x<rows>" there when the buffer changes size. Control keys that
// arrive as keys (processed input off) are echoed as ^ and their letter.
//
// Options: --handler registers a control handler that handles every event;
// the program then shows "<event N>" for each. --raw turns processed input off.
// --greet writes "ready" and a line end first when output is redirected.
#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "platform/console_api.h"

namespace {

HANDLE g_input;
HANDLE g_output;
bool g_console = false;  // standard output is the console's screen
COORD g_size{80, 25};
COORD g_cursor{0, 0};
std::atomic<unsigned> g_events{0};  // bit per control event type, set by the handler thread

constexpr int kWriteFailed = 4;

void write_out(std::string_view bytes) {
    DWORD written = 0;
    if (!WriteFile(g_output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        crt::exit(kWriteFailed);
    }
}

BOOL on_control_event(DWORD type) {
    g_events.fetch_or(1u << type);
    return TRUE;
}

void place_cursor() { SetConsoleCursorPosition(g_output, g_cursor); }

void scroll_up() {
    const SMALL_RECT below_top{0, 1, static_cast<SHORT>(g_size.X - 1), static_cast<SHORT>(g_size.Y - 1)};
    CHAR_INFO blank{};
    blank.Char.AsciiChar = ' ';
    blank.Attributes = 7;
    ScrollConsoleScreenBufferA(g_output, &below_top, nullptr, COORD{0, 0}, &blank);
}

void new_line() {
    if (!g_console) {
        write_out("\n");
        return;
    }
    g_cursor.X = 0;
    if (g_cursor.Y + 1 < g_size.Y) {
        ++g_cursor.Y;
    } else {
        scroll_up();
    }
    place_cursor();
}

void put(std::string_view text) {
    if (!g_console) {
        write_out(text);
        return;
    }
    for (const char c : text) {
        CHAR_INFO cell{};
        cell.Char.AsciiChar = c;
        cell.Attributes = 7;
        SMALL_RECT region{g_cursor.X, g_cursor.Y, g_cursor.X, g_cursor.Y};
        WriteConsoleOutputA(g_output, &cell, COORD{1, 1}, COORD{0, 0}, &region);
        if (g_cursor.X + 1 < g_size.X) {
            ++g_cursor.X;
            place_cursor();
        } else {
            new_line();
        }
    }
}

void show_cursor(bool visible) {
    CONSOLE_CURSOR_INFO info{};
    GetConsoleCursorInfo(g_output, &info);
    info.bVisible = visible ? TRUE : FALSE;
    SetConsoleCursorInfo(g_output, &info);
}

// Writes `text` over the top row, leaving the cursor where it is.
void title(const std::string& text) {
    const COORD cursor = g_cursor;
    DWORD filled = 0;
    FillConsoleOutputCharacterA(g_output, ' ', static_cast<DWORD>(g_size.X), COORD{0, 0}, &filled);
    g_cursor = {0, 0};
    put(text);
    g_cursor = cursor;
    place_cursor();
}

std::string size_text() { return std::to_string(g_size.X) + "x" + std::to_string(g_size.Y); }

void report_events() {
    const unsigned events = g_events.exchange(0);
    for (unsigned type = 0; type < 8; ++type) {
        if ((events & (1u << type)) == 0) continue;
        put("<event " + std::to_string(type) + ">");
        new_line();
    }
}

void resized() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(g_output, &info)) return;
    g_size = info.dwSize;
    g_cursor = info.dwCursorPosition;
    title("size " + size_text());
}

// No console call in the loop: only a handler running on a thread of its own
// can end it. The thread sleeps between its looks rather than spinning: to
// the console a thread asleep outside it is as busy as one computing, and a
// spinning thread would hold a whole core for as long as a test waits.
void compute_until_an_event() {
    put("busy");
    Sleep(0);
    while (g_events.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A terminal or pipe that nobody reads fills up, and the write blocks.
void write_until_an_event() {
    const std::string chunk(4096, '#');
    for (unsigned long n = 0; g_events.load() == 0; ++n) {
        if (!g_console) {
            write_out(chunk);
            continue;
        }
        put(std::string(1, static_cast<char>('a' + n % 26)));
        Sleep(0);
    }
}

void key(const KEY_EVENT_RECORD& k) {
    if (!k.bKeyDown) return;
    const auto ch = static_cast<unsigned char>(k.uChar.AsciiChar);
    switch (k.wVirtualKeyCode) {
        case VK_ESCAPE:
            crt::exit(0);
        case VK_F1:
            scroll_up();
            return;
        case VK_F2:
            show_cursor(false);
            return;
        case VK_F3:
            show_cursor(true);
            return;
        case VK_F4:
            Beep(800, 200);
            return;
        case VK_F5:
            compute_until_an_event();
            return;
        case VK_F6:
            write_until_an_event();
            return;
        case VK_RETURN:
            new_line();
            return;
        default:
            break;
    }
    if (ch >= 0x20) {
        put(std::string(1, static_cast<char>(ch)));
    } else if (ch != 0) {
        put(std::string{'^', static_cast<char>('@' + ch)});
    }
}

}  // namespace

int main(int argc, char** argv) {
    g_input = GetStdHandle(STD_INPUT_HANDLE);
    g_output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(g_input, &mode);
    mode |= ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT;
    bool greet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--handler") SetConsoleCtrlHandler(on_control_event, TRUE);
        if (option == "--raw") mode &= ~ENABLE_PROCESSED_INPUT;
        if (option == "--greet") greet = true;
    }
    SetConsoleMode(g_input, mode);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    g_console = GetConsoleScreenBufferInfo(g_output, &info) != FALSE;
    if (g_console) {
        g_size = info.dwSize;
        g_cursor = {0, 1};
        place_cursor();
        title("ready " + size_text());
    } else if (greet) {
        write_out("ready\n");
    }

    for (;;) {
        report_events();
        INPUT_RECORD record{};
        DWORD count = 0;
        while (PeekConsoleInputA(g_input, &record, 1, &count) && count == 1) {
            ReadConsoleInputA(g_input, &record, 1, &count);
            if (record.EventType == KEY_EVENT) key(record.Event.KeyEvent);
            if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) resized();
            report_events();
        }
        Sleep(25);
    }
}
