// The control and blank characters the print pipeline, the geometry and the
// input statement act on.
#pragma once

namespace rt {

inline constexpr char kBell = 7;
inline constexpr char kBackspace = 8;
inline constexpr char kTab = '\t';
inline constexpr char kLineFeed = '\n';
inline constexpr char kCarriageReturn = '\r';
inline constexpr char kBlank = ' ';

}  // namespace rt
