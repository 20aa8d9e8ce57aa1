#include "platform/window.h"

#include <QGuiApplication>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <xcb/xcb.h>

void SetTopMost(QWidget *window, bool onTop) {
    if (!window)
        return;
    const bool had = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    const bool wasActivating = !window->testAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_ShowWithoutActivating, true);
    if (had != onTop)
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop); // this hides the window
    window->show();
    window->raise();
    if (wasActivating)
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

bool IsTopMost(const QWidget *window) {
    return window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

bool SetMappedBackground(QWidget *window, const QImage &picture) {
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c || picture.isNull())
        return false;
    const auto id = xcb_window_t(window->winId());
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    if (!geometry)
        return false;
    const uint8_t depth = geometry->depth;
    const int width = geometry->width, height = geometry->height;
    std::free(geometry);
    // Only the usual true-colour layout: 32 bits a pixel, low byte first.
    const xcb_setup_t *setup = xcb_get_setup(c);
    bool wordPixels = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            wordPixels = it.data->bits_per_pixel == 32;
    if ((depth != 24 && depth != 32) || !wordPixels || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        width <= 0 || height <= 0)
        return false;
    const QImage image = picture.scaled(width, height).convertToFormat(QImage::Format_ARGB32_Premultiplied);

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, depth, pixmap, id, uint16_t(width), uint16_t(height));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // In bands of rows that fit in one request.
    const qsizetype line = image.bytesPerLine();
    const qsizetype room = qsizetype(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rows = int(std::max<qsizetype>(1, room / line));
    for (int y = 0; y < height; y += rows) {
        const int n = std::min(rows, height - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(width), uint16_t(n), 0, int16_t(y),
                      0, depth, uint32_t(n * line), image.constScanLine(y));
    }
    xcb_change_window_attributes(c, id, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap); // the window keeps it
    xcb_flush(c);
    return true;
}
