// The results panel: under the progress bar, three small tables (ZEM-1,
// ZEM-2, ZEM-M), each under a one-line description of its kernel, painted
// entirely from measure_state on every paint.
#pragma once

#include "platform/platform_window.h"

struct PanelFonts {
    PlatformObject* table_font; // header bars and result rows
    PlatformObject* title_font; // the description lines
};

extern PanelFonts panel_fonts;

// Makes table_font, then title_font. A font that cannot be made stays
// nullptr; the panel then draws in whatever font the context has.
void create_panel_fonts();
// Deletes table_font, then title_font, and forgets them, so a second call
// deletes nothing.
void release_panel_fonts();
// Handles a paint of the main window, between begin and end of painting.
void paint_results(WindowHandle window);
