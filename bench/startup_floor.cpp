// The floor of the program's start-up, for bench/startup.py: GTK alone opening
// a window of the same build (a menu bar of the main menu's top items above a
// 640 x 480 drawing area) and painting the navy bottom band the bench watches,
// with nothing of the program's own (no screen book, fonts, site list).
#include <gtk/gtk.h>

#include <initializer_list>

namespace {

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 480;
constexpr int kBandHeight = 40;

gboolean OnDraw(GtkWidget* area, cairo_t* cr, gpointer) {
    const int width = gtk_widget_get_allocated_width(area);
    const int height = gtk_widget_get_allocated_height(area);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 128.0 / 255.0);
    cairo_rectangle(cr, 0, height - kBandHeight, width, kBandHeight);
    cairo_fill(cr);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "KESTROVANE floor");
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* bar = gtk_menu_bar_new();
    for (const char* label : {"Help", "Setup", "Update Rate", "Custom Rate", "Filter", "Reset", "Sync",
                              "Email Alert", "Forum", "Quit"})
        gtk_menu_shell_append(GTK_MENU_SHELL(bar), gtk_menu_item_new_with_label(label));
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, kClientWidth, kClientHeight);
    g_signal_connect(area, "draw", G_CALLBACK(OnDraw), nullptr);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), area, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
