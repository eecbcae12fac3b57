// Running a modal dialog in a nested main loop that also ends when the
// program is asked to quit, so a dialog nobody answers never keeps it alive.
#pragma once

#include <gtk/gtk.h>

int run_modal(GtkDialog* dialog);
int run_modal_native(GtkNativeDialog* dialog);
