// Styles the window's GTK widgets where wx offers no way to.
#pragma once

// GTK's theme draws a progress bar 2-3 pixels high whatever the widget's size; after
// this call the program's bars fill the height they are given. Does nothing outside GTK.
void MakeProgressBarsFillTheirHeight();
