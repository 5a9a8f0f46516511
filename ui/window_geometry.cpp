#include "ui/window_geometry.h"

#include <algorithm>

namespace velquist::ui {

HitCode SkinHitTest(const QRect& window, const QPoint& point, bool resizable, bool childPage) {
    // Right and bottom are the first coordinates outside the window.
    const int left = window.x();
    const int top = window.y();
    const int right = window.x() + window.width();
    const int bottom = window.y() + window.height();
    const int x = point.x();
    const int y = point.y();

    HitCode frame = HitCode::Client;
    if (x <= left + kEdgeBand)
        frame = HitCode::Left;
    else if (x >= right - kEdgeBand)
        frame = HitCode::Right;
    else if (y <= top + kEdgeBand)
        frame = HitCode::Top;
    else if (y >= bottom - kEdgeBand)
        frame = HitCode::Bottom;
    else if (x <= left + kCornerBand && y <= top + kCornerBand)
        frame = HitCode::TopLeft;
    else if (x >= right - kCornerBand && y <= top + kCornerBand)
        frame = HitCode::TopRight;
    else if (x <= left + kCornerBand && y >= bottom - kCornerBand)
        frame = HitCode::BottomLeft;
    else if (x >= right - kCornerBand && y >= bottom - kCornerBand)
        frame = HitCode::BottomRight;
    if (frame != HitCode::Client) return resizable ? frame : HitCode::Nowhere;

    const bool inside = x >= left && x < right && y >= top && y < bottom;
    if (!childPage && inside && y - top <= kCaptionHeight) return HitCode::Caption;
    return HitCode::Client;
}

Qt::Edges EdgesOf(HitCode code) {
    switch (code) {
        case HitCode::Left:
            return Qt::LeftEdge;
        case HitCode::Right:
            return Qt::RightEdge;
        case HitCode::Top:
            return Qt::TopEdge;
        case HitCode::Bottom:
            return Qt::BottomEdge;
        case HitCode::TopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case HitCode::TopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case HitCode::BottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case HitCode::BottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

Qt::CursorShape CursorFor(HitCode code) {
    switch (code) {
        case HitCode::Left:
        case HitCode::Right:
            return Qt::SizeHorCursor;
        case HitCode::Top:
        case HitCode::Bottom:
            return Qt::SizeVerCursor;
        case HitCode::TopLeft:
        case HitCode::BottomRight:
            return Qt::SizeFDiagCursor;
        case HitCode::TopRight:
        case HitCode::BottomLeft:
            return Qt::SizeBDiagCursor;
        default:
            return Qt::ArrowCursor;
    }
}

QRegion SkinWindowRegion(const QSize& size, bool maximised) {
    QRegion region(0, 0, size.width(), size.height());
    if (maximised || size.width() < 6 || size.height() < 6) return region;
    // A 5 x 5 ellipse in each corner leaves two pixels off the outer row and one off the next.
    const int w = size.width();
    const int h = size.height();
    for (const auto& [rowFromEdge, cut] : {std::pair{0, 2}, std::pair{1, 1}}) {
        const int top = rowFromEdge;
        const int bottom = h - 1 - rowFromEdge;
        region -= QRegion(0, top, cut, 1);
        region -= QRegion(w - cut, top, cut, 1);
        region -= QRegion(0, bottom, cut, 1);
        region -= QRegion(w - cut, bottom, cut, 1);
    }
    return region;
}

QRect RestoredGeometry(const QRect& screen, const QSize& minimum) {
    const int width = std::max(minimum.width(), screen.width() * 8 / 10);
    const int height = std::max(minimum.height(), screen.height() * 8 / 10);
    return QRect(screen.x() + (screen.width() - width) / 2,
                 screen.y() + (screen.height() - height) / 2, width, height);
}

QRect ResizedGeometry(const QRect& start, HitCode code, const QPoint& delta, const QSize& minimum) {
    const Qt::Edges edges = EdgesOf(code);
    int left = start.x();
    int top = start.y();
    int right = start.x() + start.width();
    int bottom = start.y() + start.height();
    if (edges & Qt::LeftEdge) left = std::min(left + delta.x(), right - minimum.width());
    if (edges & Qt::RightEdge) right = std::max(right + delta.x(), left + minimum.width());
    if (edges & Qt::TopEdge) top = std::min(top + delta.y(), bottom - minimum.height());
    if (edges & Qt::BottomEdge) bottom = std::max(bottom + delta.y(), top + minimum.height());
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace velquist::ui
