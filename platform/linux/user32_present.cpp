// PlatformPresentPixels and the painting of the client area.
//
// Each window keeps a cairo image of its client area in cairo's RGB24 format,
// which is the program's 0x00RRGGBB pixel word (once the client area has its
// X window, an image the X server can share), so presenting is a row copy
// into it and a paint of the changed rectangle straight onto the window
// (begin/end of a GDK drawing frame on the toplevel) followed by a flush: the
// pixels are on the display when the call returns, even if the program then
// sleeps without pumping. GTK's own draws (exposure, resizing) paint the same
// image and mark the window for WM_PAINT. The image is made again only when
// the client size changes, keeping what it held.
#include <algorithm>
#include <cstring>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* window = static_cast<Window*>(data);
    if (window->backing) {
        cairo_set_source_surface(cr, window->backing, 0, 0);
    } else {
        cairo_set_source_rgb(cr, 0, 0, 0);
    }
    cairo_paint(cr);
    // Whatever the display lost is the program's to draw again.
    Invalidate(window);
    return TRUE;
}

// Makes the backing image the client's size; false when there is none.
bool FitBacking(Window* window, int width, int height) {
    if (width <= 0 || height <= 0) return window->backing != nullptr;
    cairo_surface_t* old = window->backing;
    // Once the client area has its X window, the image is made for it: in
    // memory the X server shares where it can, so presenting hands the
    // pixels over without first copying them into such memory.
    GdkWindow* target = window->client ? gtk_widget_get_window(window->client) : nullptr;
    if (old && cairo_image_surface_get_width(old) == width && cairo_image_surface_get_height(old) == height &&
        (window->backingShared || !target))
        return true;
    cairo_surface_t* image = target ? gdk_window_create_similar_image_surface(target, CAIRO_FORMAT_RGB24, width, height, 1)
                                    : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return old != nullptr;
    }
    cairo_t* cr = cairo_create(image);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    if (old) {
        cairo_set_source_surface(cr, old, 0, 0);
        cairo_paint(cr);
        cairo_surface_destroy(old);
    }
    cairo_destroy(cr);
    window->backing = image;
    window->backingShared = target != nullptr;
    return true;
}

}  // namespace

void ConnectPainting(Window* window) {
    g_signal_connect(window->client, "draw", G_CALLBACK(OnDraw), window);
}

void ReleaseBacking(Window* window) {
    if (window->backing) cairo_surface_destroy(window->backing);
    window->backing = nullptr;
    window->backingShared = false;
}

}  // namespace user32

using namespace user32;

BOOL PlatformPresentPixels(HWND handle, const uint32_t* pixels, int width, int height, int stride) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (!pixels || width < 1 || height < 1 || stride < width) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    GtkAllocation client;
    gtk_widget_get_allocation(window->client, &client);
    if (!gtk_widget_get_realized(window->client)) {
        client.width = ClientWidth(window);
        client.height = ClientHeight(window);
    }
    if (!FitBacking(window, client.width, client.height)) return TRUE;  // nothing visible to fill

    cairo_surface_t* image = window->backing;
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    int rowBytes = cairo_image_surface_get_stride(image);
    int columns = std::min(width, cairo_image_surface_get_width(image));
    int rows = std::min(height, cairo_image_surface_get_height(image));
    for (int y = 0; y < rows; y++)
        memcpy(data + size_t(y) * size_t(rowBytes), pixels + size_t(y) * size_t(stride),
               size_t(columns) * 4);
    cairo_surface_mark_dirty_rectangle(image, 0, 0, columns, rows);

    GdkWindow* gdk = window->toplevel ? gtk_widget_get_window(window->toplevel) : nullptr;
    if (!window->visible || window->iconic || !gdk || !gtk_widget_get_mapped(window->client))
        return TRUE;
    cairo_rectangle_int_t area{client.x, client.y, columns, rows};
    cairo_region_t* region = cairo_region_create_rectangle(&area);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(gdk, region);
    cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
    cairo_rectangle(cr, client.x, client.y, columns, rows);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image, client.x, client.y);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    gdk_window_end_draw_frame(gdk, context);
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(gdk));
    return TRUE;
}
