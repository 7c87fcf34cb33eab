// The line editor: reads one line from the keyboard while echoing it on the
// console, always inserting at a movable insertion point. Backspace and Delete
// remove a character, Tab inserts blanks to the next multiple of 8 characters
// of the line, Escape empties the line, Home, End and the arrows move the
// insertion point (Up and Down by one console width, across wrapped rows), and
// Enter or line feed end the line without being stored. Other control
// characters and extended keys are ignored.
//
// The echo goes straight to the console print, not through the console handle,
// so the handle's line length does not see it.
#pragma once

#include <span>
#include <string_view>

#include "runtime/core/text.h"

namespace rt {

// Edits `text`, which may already hold characters (they are shown first). On
// return the text holds the line, the cursor stands just after its last
// character and the cursor's visibility is what it was before the call. Keys
// typed after the Enter stay queued.
//
// `prompt` is what stands before the line on the screen, in pieces as they
// were printed, from its first cell (no line breaks in it): when the console
// changes size while the line is edited, the prompt and the line are shown
// again from there at the new size. It is not printed otherwise.
//
// The line is edited in the text's own buffer (the text owns it, or has
// none): a key costs time for the characters behind the insertion point only.
// A key whose insertion needs more room than memory can give leaves the line
// as it was (only its cursor move is kept) and sounds the bell, so that the
// screen always shows exactly what the text holds.
void edit_line(StringDescriptor* text, std::span<const std::string_view> prompt = {});

// A pool descriptor, without the temporary flag, after edit_line has run on
// it; null, without editing, when the pool is exhausted.
StringDescriptor* edit_new_line(std::span<const std::string_view> prompt = {});

}  // namespace rt
