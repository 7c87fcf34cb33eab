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

#include "runtime/core/text.h"

namespace rt {

// Edits `text`, which may already hold characters (they are shown first). On
// return the text holds the line, the cursor stands just after its last
// character and the cursor's visibility is what it was before the call. Keys
// typed after the Enter stay queued.
//
// A key whose change cannot be made because no temporary or no memory can be
// had leaves the line as it was (only its cursor move is kept) and sounds the
// bell, so that the screen always shows exactly what the text holds.
void edit_line(StringDescriptor* text);

// A pool descriptor, without the temporary flag, after edit_line has run on
// it; null, without editing, when the pool is exhausted.
StringDescriptor* edit_new_line();

}  // namespace rt
