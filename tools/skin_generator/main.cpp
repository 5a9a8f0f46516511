// Paints every skin image of the desktop window. Run at build time:
//   velquist-skin-generator OUTPUT_FOLDER
// writes OUTPUT_FOLDER/skin/*.png and OUTPUT_FOLDER/360_skin/*.bmp. Change a colour here and
// rebuild to change the look; nothing else holds the art.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

// The palette: a calm blue-grey header and caption bar, white pages, one blue for actions.
const QColor kHeaderTop(0xE3, 0xEA, 0xF1);
const QColor kHeaderBottom(0xB9, 0xC8, 0xD6);
const QColor kHeaderLine(0x9F, 0xB1, 0xC3);
const QColor kNavTop(0x55, 0x70, 0x8A);
const QColor kNavBottom(0x43, 0x5B, 0x73);
const QColor kInk(0x2C, 0x3E, 0x50);
const QColor kInkSoft(0x4A, 0x60, 0x76);
const QColor kAccent(0x3E, 0x6A, 0x8E);
const QColor kAction(0x3F, 0x78, 0xA8);
const QColor kActionHover(0x52, 0x8B, 0xBB);
const QColor kActionPressed(0x30, 0x62, 0x8C);
const QColor kDisabled(0xB4, 0xBE, 0xC8);
const QColor kGo(0x2E, 0x8B, 0x6A);
const QColor kStop(0xC2, 0x55, 0x3F);
const QColor kBorder(79, 84, 135);
const QColor kStatusTop(0xE9, 0xEE, 0xF3);
const QColor kStatusBottom(0xD6, 0xDF, 0xE8);
const QColor kTransparentKey(255, 0, 0);  // the bitmaps' transparent colour

QString g_root;
int g_failures = 0;

QFont Font(int pixels, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Droid Sans Fallback"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QImage Canvas(int width, int height, const QColor& fill = Qt::transparent) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

void Save(const QImage& image, const QString& relativePath) {
    const QString path = g_root + "/" + relativePath;
    const bool bitmap = relativePath.endsWith(QLatin1String(".bmp"));
    const QImage out = bitmap ? image.convertToFormat(QImage::Format_RGB888) : image;
    if (!out.save(path)) {
        std::fprintf(stderr, "skin generator: cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

// A strip of `frames` equal frames, each painted by `paint(painter, frameRect, frameIndex)`.
QImage Strip(int frameWidth, int height, int frames,
             const std::function<void(QPainter&, const QRectF&, int)>& paint) {
    QImage image = Canvas(frameWidth * frames, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (int i = 0; i < frames; ++i) {
        painter.save();
        paint(painter, QRectF(i * frameWidth, 0, frameWidth, height), i);
        painter.restore();
    }
    return image;
}

void VerticalGradient(QPainter& painter, const QRectF& rect, const QColor& top,
                      const QColor& bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(rect, gradient);
}

void RoundedFill(QPainter& painter, const QRectF& rect, qreal radius, const QColor& fill,
                 const QColor& edge = Qt::transparent) {
    painter.setPen(edge == Qt::transparent ? QPen(Qt::NoPen) : QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, radius, radius);
}

// The program's mark: a rounded square holding a magnifier over three rising bars.
void Mark(QPainter& painter, const QRectF& box, const QColor& base) {
    RoundedFill(painter, box, box.width() * 0.22, base);
    const qreal u = box.width() / 20.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const qreal floor = box.top() + 15.5 * u;
    painter.drawRect(QRectF(box.left() + 4 * u, floor - 4 * u, 2.4 * u, 4 * u));
    painter.drawRect(QRectF(box.left() + 7.6 * u, floor - 7 * u, 2.4 * u, 7 * u));
    painter.drawRect(QRectF(box.left() + 11.2 * u, floor - 10 * u, 2.4 * u, 10 * u));
    painter.setPen(QPen(Qt::white, 1.6 * u, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(box.left() + 13.2 * u, box.top() + 6.2 * u), 3.2 * u, 3.2 * u);
    painter.drawLine(QPointF(box.left() + 15.6 * u, box.top() + 8.6 * u),
                     QPointF(box.left() + 17.6 * u, box.top() + 10.6 * u));
}

// --- the main window -------------------------------------------------------------------------

void TopBackground() {
    QImage image = Canvas(8, 95);
    QPainter painter(&image);
    VerticalGradient(painter, QRectF(0, 0, 8, 94), kHeaderTop, kHeaderBottom);
    painter.fillRect(QRectF(0, 94, 8, 1), kHeaderLine);
    painter.end();
    Save(image, "skin/_top_bg.png");
}

void TopLogo() {
    QImage image = Canvas(20, 20);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    Mark(painter, QRectF(0, 0, 20, 20), kAccent);
    painter.end();
    Save(image, "skin/_top_bg_logo.png");
}

void AppIcon() {
    QImage image = Canvas(64, 64);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    Mark(painter, QRectF(2, 2, 60, 60), kAccent);
    painter.end();
    Save(image, "skin/app_icon.png");
}

void BigLogo() {
    Save(Strip(150, 44, 3,
               [](QPainter& p, const QRectF& r, int state) {
                   if (state == 1)
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 6, QColor(255, 255, 255, 90));
                   if (state == 2)
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 6, QColor(255, 255, 255, 150));
                   Mark(p, QRectF(r.left() + 6, r.top() + 6, 32, 32), kAccent);
                   p.setPen(kInk);
                   p.setFont(Font(18, true));
                   p.drawText(QRectF(r.left() + 46, r.top() + 3, 100, 22),
                              Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zanquil"));
                   p.setPen(kInkSoft);
                   p.setFont(Font(12));
                   p.drawText(QRectF(r.left() + 47, r.top() + 24, 100, 16),
                              Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("关键词排名查询"));
               }),
         "skin/_top_big_logo.png");
}

void Banner(const QString& file, const QColor& from, const QColor& to, const QString& title,
            const QString& line) {
    QImage image = Canvas(300, 60);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient gradient(0, 0, 300, 0);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 299, 59), 8, 8);
    painter.setBrush(QColor(255, 255, 255, 40));
    painter.drawEllipse(QPointF(262, 12), 46, 46);
    painter.setPen(Qt::white);
    painter.setFont(Font(17, true));
    painter.drawText(QRectF(18, 8, 270, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.setPen(QColor(255, 255, 255, 225));
    painter.setFont(Font(12));
    painter.drawText(QRectF(18, 33, 270, 18), Qt::AlignLeft | Qt::AlignVCenter, line);
    painter.end();
    Save(image, "skin/" + file);
}

void Banners() {
    Banner("guanggao_baidu.png", QColor(0x3C, 0x6E, 0x91), QColor(0x5A, 0x8F, 0xAE),
           QStringLiteral("关键词排名 一查便知"), QStringLiteral("自然排名、推广排名，同一处查看"));
    Banner("guanggao_360.png", QColor(0x2F, 0x7D, 0x6D), QColor(0x4F, 0x9E, 0x86),
           QStringLiteral("360 搜索排名实时查询"),
           QStringLiteral("多个推广网址同时查询，结果逐行呈现"));
    Banner("guanggao_sogou.png", QColor(0x55, 0x5F, 0x8C), QColor(0x76, 0x80, 0xA8),
           QStringLiteral("导出报表 轻松汇报"), QStringLiteral("查询结果一键导出为 Excel 报表"));
}

// Tab icons, drawn in a 24 x 24 box.
void IconRanking(QPainter& p, const QRectF& box, const QColor& ink) {
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(box.left() + 3, box.top() + 14, 4, 8));
    p.drawRect(QRectF(box.left() + 10, box.top() + 9, 4, 13));
    p.drawRect(QRectF(box.left() + 17, box.top() + 4, 4, 18));
}

void IconSearch(QPainter& p, const QRectF& box, const QColor& ink) {
    p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(box.left() + 10, box.top() + 10), 6.5, 6.5);
    p.drawLine(QPointF(box.left() + 15, box.top() + 15), QPointF(box.left() + 21, box.top() + 21));
}

void IconGear(QPainter& p, const QRectF& box, const QColor& ink) {
    const QPointF c(box.left() + 12, box.top() + 12);
    p.setPen(QPen(ink, 3.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 45);
        p.drawLine(QPointF(0, -7.5), QPointF(0, -10));
        p.restore();
    }
    p.setPen(QPen(ink, 2.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 6, 6);
    p.setBrush(ink);
    p.drawEllipse(c, 1.6, 1.6);
}

using IconPainter = void (*)(QPainter&, const QRectF&, const QColor&);

void Tab(const QString& file, const QString& label, IconPainter icon) {
    Save(Strip(92, 66, 3,
               [&](QPainter& p, const QRectF& r, int state) {
                   const QRectF tile = r.adjusted(2, 6, -2, 0);
                   if (state == 1) {
                       QPainterPath path;
                       path.addRoundedRect(tile.adjusted(0, 0, 0, 8), 6, 6);
                       p.fillPath(path, QColor(255, 255, 255, 95));
                   } else if (state == 2) {
                       QPainterPath path;
                       path.addRoundedRect(tile.adjusted(0, 0, 0, 8), 6, 6);
                       p.setClipRect(r);
                       p.fillPath(path, Qt::white);
                   }
                   const QColor ink = state == 2 ? kAction : kInk;
                   icon(p, QRectF(r.left() + 34, r.top() + 13, 24, 24), ink);
                   p.setPen(ink);
                   p.setFont(Font(14, true));
                   p.drawText(QRectF(r.left(), r.top() + 40, r.width(), 20), Qt::AlignCenter,
                              label);
               }),
         "skin/" + file);
}

void Tabs() {
    Tab("tab_sem.png", QStringLiteral("推广排名"), IconRanking);
    Tab("tab_seo.png", QStringLiteral("自然排名"), IconSearch);
    Tab("tab_setting.png", QStringLiteral("软件配置"), IconGear);
}

// A 28 x 22 window button; `glyph` draws the symbol centred at (14, 11).
void TitleButton(const QString& file, bool danger,
                 const std::function<void(QPainter&, const QPointF&)>& glyph) {
    Save(Strip(28, 22, 3,
               [&](QPainter& p, const QRectF& r, int state) {
                   QColor ink = kInk;
                   if (state == 1) {
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 3,
                                   danger ? QColor(0xD9, 0x5C, 0x4F) : QColor(255, 255, 255, 140));
                       if (danger) ink = Qt::white;
                   } else if (state == 2) {
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 3,
                                   danger ? QColor(0xB0, 0x45, 0x3A) : QColor(0x93, 0xA7, 0xBB));
                       ink = Qt::white;
                   }
                   p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
                   p.setBrush(Qt::NoBrush);
                   glyph(p, r.center());
               }),
         "skin/" + file);
}

void TitleButtons() {
    TitleButton("title_close.png", true, [](QPainter& p, const QPointF& c) {
        p.drawLine(c + QPointF(-4.5, -4.5), c + QPointF(4.5, 4.5));
        p.drawLine(c + QPointF(-4.5, 4.5), c + QPointF(4.5, -4.5));
    });
    TitleButton("title_min.png", false, [](QPainter& p, const QPointF& c) {
        p.drawLine(c + QPointF(-5, 3.5), c + QPointF(5, 3.5));
    });
    TitleButton("title_max.png", false, [](QPainter& p, const QPointF& c) {
        p.drawRect(QRectF(c + QPointF(-5, -4.5), QSizeF(10, 9)));
    });
    TitleButton("title_return.png", false, [](QPainter& p, const QPointF& c) {
        p.drawRect(QRectF(c + QPointF(-5.5, -2), QSizeF(8, 7)));
        p.drawPolyline(QPolygonF({c + QPointF(-2.5, -2), c + QPointF(-2.5, -5),
                                  c + QPointF(5.5, -5), c + QPointF(5.5, 2), c + QPointF(2.5, 2)}));
    });
    TitleButton("title_menu.png", false, [](QPainter& p, const QPointF& c) {
        for (qreal dy : {-4.0, 0.0, 4.0}) p.drawLine(c + QPointF(-5, dy), c + QPointF(5, dy));
    });
}

void Corner() {
    // Each 5 x 5 quarter draws the border along the cut corner of the window's shape.
    QImage image = Canvas(10, 10);
    const QRgb border = kBorder.rgba();
    const auto mark = [&](int x, int y) { image.setPixel(x, y, border); };
    for (const auto& [x, y] : {std::pair{2, 0}, std::pair{1, 1}, std::pair{0, 2}}) {
        mark(x, y);          // top left
        mark(9 - x, y);      // top right
        mark(x, 9 - y);      // bottom left
        mark(9 - x, 9 - y);  // bottom right
    }
    Save(image, "skin/corner.png");
}

void StatusBar() {
    QImage bottom = Canvas(8, 23);
    QPainter painter(&bottom);
    VerticalGradient(painter, QRectF(0, 1, 8, 22), kStatusTop, kStatusBottom);
    painter.fillRect(QRectF(0, 0, 8, 1), QColor(0xC4, 0xD0, 0xDC));
    painter.end();
    Save(bottom, "skin/status_bottom.png");

    QImage right = Canvas(16, 23);
    painter.begin(&right);
    VerticalGradient(painter, QRectF(0, 1, 16, 22), kStatusTop, kStatusBottom);
    painter.fillRect(QRectF(0, 0, 16, 1), QColor(0xC4, 0xD0, 0xDC));
    const QColor dot(0x8A, 0x9C, 0xAE);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column <= row; ++column)
            painter.fillRect(QRectF(12 - 4 * column, 10 + 4 * row, 2, 2), dot);
    painter.end();
    Save(right, "skin/status_right.png");
}

// --- dialogs and pages -----------------------------------------------------------------------

void NavBar() {
    QImage background = Canvas(8, 30);
    QPainter painter(&background);
    VerticalGradient(painter, QRectF(0, 0, 8, 30), kNavTop, kNavBottom);
    painter.end();
    Save(background, "skin/_nav_bg.png");

    QImage logo = Canvas(49, 30);
    painter.begin(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    VerticalGradient(painter, QRectF(0, 0, 49, 30), kNavTop, kNavBottom);
    Mark(painter, QRectF(9, 6, 18, 18), QColor(255, 255, 255, 60));
    painter.end();
    Save(logo, "skin/_nav_logo.png");
}

void DialogClose() {
    Save(Strip(26, 22, 3,
               [](QPainter& p, const QRectF& r, int state) {
                   if (state == 1)
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 3, QColor(0xD9, 0x5C, 0x4F));
                   if (state == 2)
                       RoundedFill(p, r.adjusted(1, 1, -1, -1), 3, QColor(0xB0, 0x45, 0x3A));
                   p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
                   const QPointF c = r.center();
                   p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
                   p.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
               }),
         "skin/_but_close.png");
}

// A 4-frame plain action button without text (the button draws its own).
QImage ActionStrip(int width, int height) {
    return Strip(width, height, 4, [](QPainter& p, const QRectF& r, int state) {
        const QColor fills[] = {kAction, kActionHover, kActionPressed, kDisabled};
        const QRectF body = r.adjusted(0.5, 0.5, -0.5, -0.5);
        QLinearGradient gradient(body.topLeft(), body.bottomLeft());
        gradient.setColorAt(0, fills[state].lighter(108));
        gradient.setColorAt(1, fills[state]);
        p.setPen(QPen(fills[state].darker(115), 1));
        p.setBrush(gradient);
        p.drawRoundedRect(body, 4, 4);
    });
}

void ActionButtons() {
    Save(ActionStrip(80, 28), "skin/button.png");
    Save(ActionStrip(60, 26), "skin/_botton_lan_60.png");
    Save(ActionStrip(250, 36), "skin/zql_login_button.png");
}

// A 4-frame toolbar button of a page with its icon and label in the art.
void ToolButton(const QString& file, const QString& label, const QColor& base, bool filled,
                const std::function<void(QPainter&, const QPointF&, const QColor&)>& icon) {
    Save(Strip(104, 30, 4,
               [&](QPainter& p, const QRectF& r, int state) {
                   const QRectF body = r.adjusted(1.5, 1.5, -1.5, -1.5);
                   QColor fill;
                   QColor edge;
                   QColor ink;
                   if (state == 3) {
                       fill = QColor(0xEE, 0xF1, 0xF4);
                       edge = kDisabled;
                       ink = QColor(0x9A, 0xA6, 0xB2);
                   } else if (filled) {
                       fill = state == 1 ? base.lighter(112) : state == 2 ? base.darker(115) : base;
                       edge = base.darker(120);
                       ink = Qt::white;
                   } else {
                       fill = state == 1   ? QColor(0xEE, 0xF4, 0xFA)
                              : state == 2 ? QColor(0xDC, 0xE7, 0xF1)
                                           : Qt::white;
                       edge = QColor(0xA9, 0xB9, 0xC9);
                       ink = kInk;
                   }
                   RoundedFill(p, body, 4, fill, edge);
                   icon(p, QPointF(body.left() + 15, body.center().y()), ink);
                   p.setPen(ink);
                   p.setFont(Font(13, filled));
                   p.drawText(
                       QRectF(body.left() + 26, body.top(), body.width() - 30, body.height()),
                       Qt::AlignCenter, label);
               }),
         "skin/" + file);
}

void ToolButtons() {
    const auto play = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPolygon(QPolygonF({c + QPointF(-4, -5.5), c + QPointF(6, 0), c + QPointF(-4, 5.5)}));
    };
    const auto stop = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(c + QPointF(-5, -5), QSizeF(10, 10)), 1.5, 1.5);
    };
    const auto plus = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-5, 0), c + QPointF(5, 0));
        p.drawLine(c + QPointF(0, -5), c + QPointF(0, 5));
    };
    const auto minus = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(QPen(ink, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(c + QPointF(-4, -3), QSizeF(8, 9)));
        p.drawLine(c + QPointF(-6, -4.5), c + QPointF(6, -4.5));
        p.drawLine(c + QPointF(-1.5, -6.5), c + QPointF(1.5, -6.5));
    };
    const auto into = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawLine(c + QPointF(0, -6), c + QPointF(0, 2));
        p.drawPolyline(
            QPolygonF({c + QPointF(-3.5, -1.5), c + QPointF(0, 2), c + QPointF(3.5, -1.5)}));
        p.drawPolyline(QPolygonF(
            {c + QPointF(-6, 2), c + QPointF(-6, 6), c + QPointF(6, 6), c + QPointF(6, 2)}));
    };
    const auto outOf = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawLine(c + QPointF(0, 2), c + QPointF(0, -6));
        p.drawPolyline(
            QPolygonF({c + QPointF(-3.5, -2.5), c + QPointF(0, -6), c + QPointF(3.5, -2.5)}));
        p.drawPolyline(QPolygonF(
            {c + QPointF(-6, 2), c + QPointF(-6, 6), c + QPointF(6, 6), c + QPointF(6, 2)}));
    };
    const auto help = [](QPainter& p, const QPointF& c, const QColor& ink) {
        p.setPen(QPen(ink, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, 6.5, 6.5);
        p.setFont(Font(10, true));
        p.drawText(QRectF(c.x() - 6, c.y() - 7, 12, 14), Qt::AlignCenter, QStringLiteral("?"));
    };
    ToolButton("_btn_chaxunpaiming.png", QStringLiteral("查询排名"), kGo, true, play);
    ToolButton("_btn_tingzhichaxun.png", QStringLiteral("停止查询"), kStop, true, stop);
    ToolButton("_but_tianjia.png", QStringLiteral("添加关键词"), kAction, false, plus);
    ToolButton("_but_shanchu.png", QStringLiteral("删除"), kAction, false, minus);
    ToolButton("_but_daoru.png", QStringLiteral("导入关键词"), kAction, false, into);
    ToolButton("_but_daorushuoming.png", QStringLiteral("导入帮助"), kAction, false, help);
    ToolButton("_btn_daochubaobiao.png", QStringLiteral("导出报表"), kAction, false, outOf);
}

void CheckBoxes() {
    for (bool ticked : {false, true}) {
        QImage image = Canvas(13, 13);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        RoundedFill(painter, QRectF(0.5, 0.5, 12, 12), 2, ticked ? kAction : Qt::white,
                    ticked ? kActionPressed : QColor(0x8F, 0xA1, 0xB3));
        if (ticked) {
            painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(QPolygonF({QPointF(3, 6.5), QPointF(5.5, 9), QPointF(10, 3.8)}));
        }
        painter.end();
        Save(image, ticked ? "skin/checked.png" : "skin/unchecked.png");
    }
}

void SettingsBackground() {
    QImage image = Canvas(600, 80);
    QPainter painter(&image);
    VerticalGradient(painter, QRectF(0, 0, 600, 80), QColor(0xF3, 0xF6, 0xF9), Qt::white);
    painter.fillRect(QRectF(0, 79, 600, 1), QColor(0xE1, 0xE7, 0xED));
    painter.end();
    Save(image, "skin/peizhi_bg.png");
}

void ProgressBar() {
    QImage image = Canvas(400, 14);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, 14);
    gradient.setColorAt(0, kGo.lighter(125));
    gradient.setColorAt(1, kGo);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(0, 0, 400, 14), 4, 4);
    painter.end();
    Save(image, "skin/liuc_bar.png");
}

// A small worksheet: column letters, row numbers, the heading row and a few data rows.
void SheetSample(QPainter& p, const QRectF& box, const QString& title, const QStringList& headings,
                 const QList<QStringList>& rows, const QList<int>& widths) {
    RoundedFill(p, box, 6, Qt::white, QColor(0xC9, 0xD4, 0xDF));
    p.fillRect(QRectF(box.left() + 1, box.top() + 1, box.width() - 2, 24),
               QColor(0xE3, 0xEA, 0xF1));
    p.setPen(kInk);
    p.setFont(Font(12, true));
    p.drawText(QRectF(box.left() + 10, box.top() + 1, box.width() - 20, 24),
               Qt::AlignLeft | Qt::AlignVCenter, title);

    constexpr qreal kRow = 26;
    constexpr qreal kNumbers = 26;
    const qreal top = box.top() + 32;
    const qreal left = box.left() + 8;
    QList<qreal> xs{left, left + kNumbers};
    for (int w : widths) xs.append(xs.back() + w);
    const int lines = 2 + static_cast<int>(rows.size());  // letters, headings, data
    p.setFont(Font(12));
    for (int line = 0; line < lines; ++line) {
        const qreal y = top + line * kRow;
        if (line == 0)
            p.fillRect(QRectF(xs.front(), y, xs.back() - xs.front(), kRow),
                       QColor(0xF2, 0xF4, 0xF7));
        if (line == 1)
            p.fillRect(QRectF(xs[1], y, xs.back() - xs[1], kRow), QColor(0xE8, 0xF3, 0xEC));
        for (int column = 0; column + 1 < xs.size(); ++column) {
            const QRectF cell(xs[column], y, xs[column + 1] - xs[column], kRow);
            QString text;
            QColor ink = kInk;
            if (column == 0) {
                text = line == 0 ? QString() : QString::number(line);
                ink = kInkSoft;
            } else if (line == 0) {
                text = QString(QChar('A' + column - 1));
                ink = kInkSoft;
            } else if (line == 1) {
                text = headings.value(column - 1);
                ink = kGo;
            } else {
                text = rows[line - 2].value(column - 1);
            }
            p.setPen(QColor(0xDD, 0xE3, 0xE9));
            p.drawRect(cell);
            p.setPen(ink);
            p.setFont(Font(12, line == 1 && column > 0));
            p.drawText(
                cell.adjusted(6, 0, -4, 0),
                (column == 0 || line == 0 ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter),
                text);
        }
    }
}

// The import help: which files the import takes and how a workbook must be laid out.
void ImportHelp() {
    QImage image = Canvas(660, 420, Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(kInk);
    p.setFont(Font(16, true));
    p.drawText(QRectF(20, 12, 620, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("导入关键词的文件格式"));
    p.setFont(Font(13));
    p.setPen(kInkSoft);
    p.drawText(QRectF(20, 40, 620, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral(
                   "支持 .txt、.csv、.xls、.xlsx 文件（扩展名小写），每个关键词最多 63 个字。"));

    // A text file: one keyword a line.
    const QRectF text(20, 72, 172, 236);
    RoundedFill(p, text, 6, QColor(0xF7, 0xF9, 0xFB), QColor(0xC9, 0xD4, 0xDF));
    p.fillRect(QRectF(21, 73, 170, 24), QColor(0xE3, 0xEA, 0xF1));
    p.setPen(kInk);
    p.setFont(Font(12, true));
    p.drawText(QRectF(30, 73, 156, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("关键词.txt / .csv"));
    p.setFont(Font(13));
    const QStringList words = {QStringLiteral("网站建设"), QStringLiteral("网站建设公司"),
                               QStringLiteral("企业网站制作"), QStringLiteral("网页设计报价"),
                               QStringLiteral("外贸网站建设")};
    for (int i = 0; i < words.size(); ++i)
        p.drawText(QRectF(32, 106 + 28 * i, 150, 24), Qt::AlignLeft | Qt::AlignVCenter, words[i]);
    p.setPen(kInkSoft);
    p.setFont(Font(12));
    p.drawText(QRectF(30, 250, 156, 52), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("一行一个关键词；编码为 UTF-8、UTF-16 或 GB18030"));

    // The natural-ranking workbook: a 关键词 heading in row 1.
    SheetSample(p, QRectF(206, 72, 152, 236), QStringLiteral("自然排名 .xlsx / .xls"),
                {QStringLiteral("关键词")},
                {{words[0]}, {words[1]}, {words[2]}, {words[3]}, {words[4]}}, {110});

    // The paid-ranking workbook: keyword, plan and unit headings in any columns of row 1.
    SheetSample(p, QRectF(372, 72, 268, 236), QStringLiteral("推广排名 .xlsx / .xls"),
                {QStringLiteral("关键词"), QStringLiteral("推广计划"), QStringLiteral("推广单元")},
                {{QStringLiteral("鲜花速递"), QStringLiteral("春季推广"), QStringLiteral("鲜花")},
                 {QStringLiteral("玫瑰花"), QStringLiteral("春季推广"), QStringLiteral("鲜花")},
                 {QStringLiteral("办公家具"), QStringLiteral("春季推广"), QStringLiteral("家具")},
                 {QStringLiteral("实木书桌"), QString(), QString()},
                 {QStringLiteral("会议桌"), QString(), QString()}},
                {76, 76, 76});

    // The rules under the pictures.
    p.setFont(Font(13));
    const QStringList rules = {
        QStringLiteral("• Excel 只读第一个工作表；第 1 行（A1 至 Z1）为标题行，须有“关键词”。"),
        QStringLiteral("• 关键词从第 2 行开始，遇到空白的关键词单元格即结束。"),
        QStringLiteral("• 推广排名另读“推广计划”“推广单元”两列，留空的归入“默认”。"),
    };
    for (int i = 0; i < rules.size(); ++i) {
        p.setPen(i == 0 ? kInk : kInkSoft);
        p.drawText(QRectF(20, 324 + 28 * i, 620, 24), Qt::AlignLeft | Qt::AlignVCenter, rules[i]);
    }
    p.end();
    Save(image, "skin/daorushuoming.png");
}

// The list's run-state icons; pure red is the transparent colour of these bitmaps.
void RowIcons() {
    QImage running = Canvas(16, 16, kTransparentKey);
    QPainter p(&running);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2E, 0x7D, 0xB8));
    p.drawEllipse(QRect(1, 1, 14, 14));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({QPoint(6, 4), QPoint(12, 8), QPoint(6, 12)}));
    p.end();
    Save(running, "360_skin/running.bmp");

    QImage ban = Canvas(16, 16, kTransparentKey);
    p.begin(&ban);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor(0x6B, 0x77, 0x83), 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRect(2, 2, 12, 12));
    p.drawLine(QPoint(4, 12), QPoint(12, 4));
    p.end();
    Save(ban, "360_skin/ban.bmp");
}

// The account tree's item icons, 16 x 16 each side by side: the account, a plan, a unit. Pure
// red is transparent, as in the row icons.
void TreeIcons() {
    QImage strip = Canvas(48, 16, kTransparentKey);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing, false);
    // The account: a head and shoulders.
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRect(5, 1, 6, 6));
    p.drawRoundedRect(QRect(2, 8, 12, 7), 3, 3);
    // A plan: a folder.
    p.setBrush(QColor(0xE0, 0xA8, 0x3C));
    p.drawRect(QRect(17, 3, 6, 3));
    p.drawRect(QRect(17, 5, 14, 9));
    p.setBrush(QColor(0xF2, 0xC6, 0x5E));
    p.drawRect(QRect(17, 7, 14, 7));
    // A unit: a sheet with lines.
    p.setBrush(Qt::white);
    p.setPen(kInkSoft);
    p.drawRect(QRect(35, 1, 10, 13));
    p.drawLine(QPoint(37, 5), QPoint(43, 5));
    p.drawLine(QPoint(37, 8), QPoint(43, 8));
    p.drawLine(QPoint(37, 11), QPoint(41, 11));
    p.end();
    Save(strip, "360_skin/tree.bmp");
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: velquist-skin-generator OUTPUT_FOLDER\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_root + "/skin") || !QDir().mkpath(g_root + "/360_skin")) {
        std::fprintf(stderr, "skin generator: cannot make the folders under %s\n", argv[1]);
        return 1;
    }
    TopBackground();
    TopLogo();
    AppIcon();
    BigLogo();
    Banners();
    Tabs();
    TitleButtons();
    Corner();
    StatusBar();
    NavBar();
    DialogClose();
    ActionButtons();
    ToolButtons();
    CheckBoxes();
    SettingsBackground();
    ProgressBar();
    ImportHelp();
    RowIcons();
    TreeIcons();
    return g_failures == 0 ? 0 : 1;
}
