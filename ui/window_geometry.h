#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <Qt>

namespace velquist::ui {

// What a press at a point of a skinned window means.
enum class HitCode {
    Nowhere,  // an edge or corner of a window that cannot be resized
    Client,   // ordinary handling
    Caption,  // the window is dragged
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

inline constexpr int kEdgeBand = 3;
inline constexpr int kCornerBand = 10;
inline constexpr int kCaptionHeight = 65;
inline constexpr QSize kMinimumMainSize{970, 500};

// `window` is the window's rectangle in screen coordinates and `point` the pointer there.
// Edges are tested before corners, then the 65-pixel caption; only the resizable window has
// edges and corners (elsewhere they are Nowhere), and child pages have no caption.
HitCode SkinHitTest(const QRect& window, const QPoint& point, bool resizable, bool childPage);

// The edges a resize from `code` moves; empty for anything that is not an edge or corner.
Qt::Edges EdgesOf(HitCode code);
Qt::CursorShape CursorFor(HitCode code);

// The visible shape of a skinned window: its rectangle with each corner cut along a 5 x 5
// ellipse, or the plain rectangle while maximised.
QRegion SkinWindowRegion(const QSize& size, bool maximised);

// Where the main window sits when it is not maximised: 80 % of the screen's width and height
// (never below the minimum size), centred on the screen.
QRect RestoredGeometry(const QRect& screen, const QSize& minimum = kMinimumMainSize);

// Where a resize from `code` takes `start` when the pointer has moved by `delta`, keeping at
// least `minimum` and anchoring the opposite edges.
QRect ResizedGeometry(const QRect& start, HitCode code, const QPoint& delta, const QSize& minimum);

}  // namespace velquist::ui
