// GTK's own calls where wx offers no way to what the window needs.
#pragma once

// GTK's theme draws a progress bar 2-3 pixels high whatever the widget's size; after
// this call the program's bars fill the height they are given. Does nothing outside GTK.
void MakeProgressBarsFillTheirHeight();

// GTK's message boxes (wxMessageDialog), from this call on: a screen reader announces a
// box by its title, not by GTK's name for its kind ("Question", "Information"), and the
// quoted paths and names of its text (desktop/box_text.h) are not broken across lines,
// without a change to the text a user may select and copy; a box is wide enough for its
// title. Does nothing outside GTK.
void MakeMessageBoxesReadable();
