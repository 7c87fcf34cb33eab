#include "runtime/core/beep_sleep.h"

#include "platform/console_api.h"

namespace rt {
namespace {

constexpr DWORD kBeepHz = 1000;
constexpr DWORD kBeepMs = 250;

}  // namespace

void sleep_ms(std::int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

void beep() { Beep(kBeepHz, kBeepMs); }

}  // namespace rt
