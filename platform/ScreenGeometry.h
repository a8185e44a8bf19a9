#pragma once

// The one place where Qt's global coordinates (origin at the top-left of the virtual
// desktop, y down, device-independent pixels) become the design's global points
// (origin at the bottom-left of the primary monitor, y up), and back.
//
//   Qt:      (0,0) ---------> x            design:  y ^
//              |  primary                              |  primary
//              v y                                      +---------> x
//
// Every frame and mouse location the picker uses goes through these functions.

#include <QPointF>
#include <QRectF>

namespace ScreenGeometry {

// `primary` is the primary screen's Qt geometry.
inline QRectF designFrame(const QRectF& qtGeometry, const QRectF& primary) {
    const double primaryBottom = primary.y() + primary.height();
    return QRectF(qtGeometry.x() - primary.x(),
                  primaryBottom - (qtGeometry.y() + qtGeometry.height()), qtGeometry.width(),
                  qtGeometry.height());
}

inline QPointF designPoint(const QPointF& qtPoint, const QRectF& primary) {
    const double primaryBottom = primary.y() + primary.height();
    return QPointF(qtPoint.x() - primary.x(), primaryBottom - qtPoint.y());
}

inline QPointF qtPoint(const QPointF& designPoint, const QRectF& primary) {
    const double primaryBottom = primary.y() + primary.height();
    return QPointF(designPoint.x() + primary.x(), primaryBottom - designPoint.y());
}

// A point in a view's design coordinates (origin bottom-left) to the widget's (top-left).
inline QPointF viewToWidget(const QPointF& viewPoint, double viewHeight) {
    return QPointF(viewPoint.x(), viewHeight - viewPoint.y());
}

// The same for a rectangle: its bottom edge in the view becomes its top in the widget.
inline QRectF viewToWidget(const QRectF& viewRect, double viewHeight) {
    return QRectF(viewRect.x(), viewHeight - (viewRect.y() + viewRect.height()), viewRect.width(),
                  viewRect.height());
}

} // namespace ScreenGeometry
