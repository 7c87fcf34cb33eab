// The console and C runtime operations that the runtime and the program call.
//
// On Windows this is the real console API. Elsewhere the same names, types and
// constants are provided by platform/, over a console model that is mirrored
// onto a terminal (or onto plain byte streams when redirected). Code outside
// platform/ includes only this header for platform services, and uses nothing
// here that the real API lacks.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

// The C++ runtime's own headers may have asked for these already.
#if !defined(WIN32_LEAN_AND_MEAN)
#define WIN32_LEAN_AND_MEAN
#endif
#if !defined(NOMINMAX)
#define NOMINMAX
#endif
#include <windows.h>

#else

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using SHORT = std::int16_t;
using UINT = unsigned int;
using CHAR = char;
using WCHAR = char16_t;
using HANDLE = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// As on Windows: the standard handle identifiers are small negative numbers.
inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

struct COORD {
    SHORT X;
    SHORT Y;
};

struct SMALL_RECT {
    SHORT Left;
    SHORT Top;
    SHORT Right;
    SHORT Bottom;
};

struct CHAR_INFO {
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } Char;
    WORD Attributes;
};

struct CONSOLE_SCREEN_BUFFER_INFO {
    COORD dwSize;
    COORD dwCursorPosition;
    WORD wAttributes;
    SMALL_RECT srWindow;
    COORD dwMaximumWindowSize;
};

struct CONSOLE_CURSOR_INFO {
    DWORD dwSize;
    BOOL bVisible;
};

struct KEY_EVENT_RECORD {
    BOOL bKeyDown;
    WORD wRepeatCount;
    WORD wVirtualKeyCode;
    WORD wVirtualScanCode;
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } uChar;
    DWORD dwControlKeyState;
};

struct WINDOW_BUFFER_SIZE_RECORD {
    COORD dwSize;
};

struct FOCUS_EVENT_RECORD {
    BOOL bSetFocus;
};

struct INPUT_RECORD {
    WORD EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        WINDOW_BUFFER_SIZE_RECORD WindowBufferSizeEvent;
        FOCUS_EVENT_RECORD FocusEvent;
    } Event;
};

// INPUT_RECORD::EventType
inline constexpr WORD KEY_EVENT = 0x0001;
inline constexpr WORD MOUSE_EVENT = 0x0002;
inline constexpr WORD WINDOW_BUFFER_SIZE_EVENT = 0x0004;
inline constexpr WORD MENU_EVENT = 0x0008;
inline constexpr WORD FOCUS_EVENT = 0x0010;

// KEY_EVENT_RECORD::dwControlKeyState
inline constexpr DWORD RIGHT_ALT_PRESSED = 0x0001;
inline constexpr DWORD LEFT_ALT_PRESSED = 0x0002;
inline constexpr DWORD RIGHT_CTRL_PRESSED = 0x0004;
inline constexpr DWORD LEFT_CTRL_PRESSED = 0x0008;
inline constexpr DWORD SHIFT_PRESSED = 0x0010;
inline constexpr DWORD NUMLOCK_ON = 0x0020;
inline constexpr DWORD SCROLLLOCK_ON = 0x0040;
inline constexpr DWORD CAPSLOCK_ON = 0x0080;
inline constexpr DWORD ENHANCED_KEY = 0x0100;

// Console input modes
inline constexpr DWORD ENABLE_PROCESSED_INPUT = 0x0001;
inline constexpr DWORD ENABLE_LINE_INPUT = 0x0002;
inline constexpr DWORD ENABLE_ECHO_INPUT = 0x0004;
inline constexpr DWORD ENABLE_WINDOW_INPUT = 0x0008;
inline constexpr DWORD ENABLE_MOUSE_INPUT = 0x0010;

// Control events passed to a handler routine
inline constexpr DWORD CTRL_C_EVENT = 0;
inline constexpr DWORD CTRL_BREAK_EVENT = 1;
inline constexpr DWORD CTRL_CLOSE_EVENT = 2;
inline constexpr DWORD CTRL_LOGOFF_EVENT = 5;
inline constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

inline constexpr UINT MAPVK_VK_TO_VSC = 0;
inline constexpr UINT MAPVK_VSC_TO_VK = 1;
inline constexpr UINT MAPVK_VK_TO_CHAR = 2;

// Virtual-key codes. Letters and digits are their upper-case ASCII codes.
inline constexpr WORD VK_BACK = 0x08;
inline constexpr WORD VK_TAB = 0x09;
inline constexpr WORD VK_CLEAR = 0x0C;
inline constexpr WORD VK_RETURN = 0x0D;
inline constexpr WORD VK_SHIFT = 0x10;
inline constexpr WORD VK_CONTROL = 0x11;
inline constexpr WORD VK_MENU = 0x12;
inline constexpr WORD VK_PAUSE = 0x13;
inline constexpr WORD VK_CAPITAL = 0x14;
inline constexpr WORD VK_ESCAPE = 0x1B;
inline constexpr WORD VK_SPACE = 0x20;
inline constexpr WORD VK_PRIOR = 0x21;
inline constexpr WORD VK_NEXT = 0x22;
inline constexpr WORD VK_END = 0x23;
inline constexpr WORD VK_HOME = 0x24;
inline constexpr WORD VK_LEFT = 0x25;
inline constexpr WORD VK_UP = 0x26;
inline constexpr WORD VK_RIGHT = 0x27;
inline constexpr WORD VK_DOWN = 0x28;
inline constexpr WORD VK_INSERT = 0x2D;
inline constexpr WORD VK_DELETE = 0x2E;
inline constexpr WORD VK_NUMPAD0 = 0x60;
inline constexpr WORD VK_NUMPAD1 = 0x61;
inline constexpr WORD VK_NUMPAD2 = 0x62;
inline constexpr WORD VK_NUMPAD3 = 0x63;
inline constexpr WORD VK_NUMPAD4 = 0x64;
inline constexpr WORD VK_NUMPAD5 = 0x65;
inline constexpr WORD VK_NUMPAD6 = 0x66;
inline constexpr WORD VK_NUMPAD7 = 0x67;
inline constexpr WORD VK_NUMPAD8 = 0x68;
inline constexpr WORD VK_NUMPAD9 = 0x69;
inline constexpr WORD VK_MULTIPLY = 0x6A;
inline constexpr WORD VK_ADD = 0x6B;
inline constexpr WORD VK_SEPARATOR = 0x6C;
inline constexpr WORD VK_SUBTRACT = 0x6D;
inline constexpr WORD VK_DECIMAL = 0x6E;
inline constexpr WORD VK_DIVIDE = 0x6F;
inline constexpr WORD VK_F1 = 0x70;
inline constexpr WORD VK_F2 = 0x71;
inline constexpr WORD VK_F3 = 0x72;
inline constexpr WORD VK_F4 = 0x73;
inline constexpr WORD VK_F5 = 0x74;
inline constexpr WORD VK_F6 = 0x75;
inline constexpr WORD VK_F7 = 0x76;
inline constexpr WORD VK_F8 = 0x77;
inline constexpr WORD VK_F9 = 0x78;
inline constexpr WORD VK_F10 = 0x79;
inline constexpr WORD VK_F11 = 0x7A;
inline constexpr WORD VK_F12 = 0x7B;
inline constexpr WORD VK_NUMLOCK = 0x90;
inline constexpr WORD VK_SCROLL = 0x91;
inline constexpr WORD VK_LSHIFT = 0xA0;
inline constexpr WORD VK_RSHIFT = 0xA1;
inline constexpr WORD VK_LCONTROL = 0xA2;
inline constexpr WORD VK_RCONTROL = 0xA3;
inline constexpr WORD VK_LMENU = 0xA4;
inline constexpr WORD VK_RMENU = 0xA5;
inline constexpr WORD VK_OEM_1 = 0xBA;       // ; :
inline constexpr WORD VK_OEM_PLUS = 0xBB;    // = +
inline constexpr WORD VK_OEM_COMMA = 0xBC;   // , <
inline constexpr WORD VK_OEM_MINUS = 0xBD;   // - _
inline constexpr WORD VK_OEM_PERIOD = 0xBE;  // . >
inline constexpr WORD VK_OEM_2 = 0xBF;       // / ?
inline constexpr WORD VK_OEM_3 = 0xC0;       // ` ~
inline constexpr WORD VK_OEM_4 = 0xDB;       // [ {
inline constexpr WORD VK_OEM_5 = 0xDC;       // \ |
inline constexpr WORD VK_OEM_6 = 0xDD;       // ] }
inline constexpr WORD VK_OEM_7 = 0xDE;       // ' "

// The calling convention of the functions the console calls back, which only
// 32-bit Windows has a name for.
#define WINAPI

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

using PHANDLER_ROUTINE = BOOL (*)(DWORD ctrl_type);

HANDLE GetStdHandle(DWORD std_handle);
BOOL GetConsoleMode(HANDLE console, DWORD* mode);
BOOL SetConsoleMode(HANDLE console, DWORD mode);
BOOL GetConsoleScreenBufferInfo(HANDLE output, CONSOLE_SCREEN_BUFFER_INFO* info);
BOOL SetConsoleCursorPosition(HANDLE output, COORD position);
BOOL GetConsoleCursorInfo(HANDLE output, CONSOLE_CURSOR_INFO* info);
BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO* info);
BOOL SetConsoleWindowInfo(HANDLE output, BOOL absolute, const SMALL_RECT* window);
BOOL WriteConsoleOutputA(HANDLE output, const CHAR_INFO* buffer, COORD buffer_size, COORD buffer_coord,
                         SMALL_RECT* write_region);
BOOL ScrollConsoleScreenBufferA(HANDLE output, const SMALL_RECT* scroll_rectangle, const SMALL_RECT* clip_rectangle,
                                COORD destination_origin, const CHAR_INFO* fill);
BOOL FillConsoleOutputAttribute(HANDLE output, WORD attribute, DWORD length, COORD start, DWORD* written);
BOOL FillConsoleOutputCharacterA(HANDLE output, CHAR character, DWORD length, COORD start, DWORD* written);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void* overlapped);
BOOL PeekConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, DWORD* read);
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, DWORD* read);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
void Sleep(DWORD milliseconds);
// On the console input handle: returns WAIT_OBJECT_0 as soon as an input
// record is queued (at once when one already is), WAIT_TIMEOUT when the time is
// up first; WAIT_FAILED for another handle.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL Beep(DWORD frequency, DWORD duration);
UINT MapVirtualKeyA(UINT code, UINT map_type);

#endif

// Whether a virtual-key code is one of the keypad's digit keys, which Alt
// composes into a character code.
inline bool is_keypad_digit(WORD virtual_key) { return virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD9; }

// The C runtime library services the runtime relies on. They live in their own
// namespace so that the heap can be routed through a replaceable table (tests
// make the Nth allocation fail) and so that the same names exist everywhere.
namespace crt {

void* malloc(std::size_t size);
void* calloc(std::size_t count, std::size_t size);
void* realloc(void* block, std::size_t size);
void free(void* block);

// Floating-point control word: value under mask, as the x87/SSE control bits
// (0x300 rounding, 0x30000 precision). Returns the new control word.
unsigned int _controlfp(unsigned int value, unsigned int mask);

// The value of `digits`: decimal digits, the first of them 1 to 9, then 'e',
// an optional minus sign and up to five decimal digits, ended by a zero byte.
// Rounded to the nearest double, ties to even, whatever the rounding mode and
// the locale: infinity from halfway past the largest double up, 0 below half
// the smallest.
double decimal_to_double(const char* digits);

[[noreturn]] void exit(int status);
int atexit(void (*function)());

int tolower(int c);
int toupper(int c);
// Character-class test with the classic mask bits (_UPPER 0x1, _LOWER 0x2,
// _DIGIT 0x4, _SPACE 0x8, _PUNCT 0x10, _CONTROL 0x20, _BLANK 0x40, _HEX 0x80,
// alphabetic 0x100).
int _isctype(int c, int mask);

}  // namespace crt
