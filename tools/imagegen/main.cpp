// Paints the application's pictures into the folder given as the only argument.
// Run it after changing a drawing and commit the regenerated files.

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace
{
const QColor accent(0x47, 0x78, 0xc7);
const QColor text(0x33, 0x33, 0x33);
const QColor secondary(0x99, 0x99, 0x99);
const QColor window(0xf7, 0xf7, 0xf7);
const QColor card(0xf4, 0xf4, 0xf4);
const QColor line(0xe2, 0xe0, 0xe1);

QImage blank(int width, int height, const QColor &fill = Qt::transparent)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

QFont uiFont(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void begin(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
}

// The logo in its design grid of 28 by 28; callers scale the painter for other sizes.
void paintLogo(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(QRectF(1, 1, 26, 26), 6, 6);
    // An open book.
    p.setBrush(Qt::white);
    QPainterPath left, right;
    left.moveTo(14, 9);
    left.cubicTo(11, 7, 8, 7, 6, 8);
    left.lineTo(6, 20);
    left.cubicTo(8, 19, 11, 19, 14, 21);
    left.closeSubpath();
    right.moveTo(14, 9);
    right.cubicTo(17, 7, 20, 7, 22, 8);
    right.lineTo(22, 20);
    right.cubicTo(20, 19, 17, 19, 14, 21);
    right.closeSubpath();
    p.drawPath(left);
    p.setBrush(QColor(0xdc, 0xe6, 0xf6));
    p.drawPath(right);
}

QImage logo(int size = 28)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    begin(p);
    p.scale(size / 28.0, size / 28.0);
    paintLogo(p);
    return image;
}

template <typename T> void putLittleEndian(QByteArray &out, T value)
{
    for (unsigned i = 0; i < sizeof(T); ++i)
        out.append(char((quint64(value) >> (8 * i)) & 0xff));
}

// An icon image as Windows stores it in an .ico: a 32-bit bottom-up DIB of twice the height
// (the colour rows, then the AND mask's).
QByteArray iconDib(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width(), height = image.height();
    const int maskStride = ((width + 31) / 32) * 4;
    QByteArray dib;
    putLittleEndian<quint32>(dib, 40);
    putLittleEndian<qint32>(dib, width);
    putLittleEndian<qint32>(dib, 2 * height);
    putLittleEndian<quint16>(dib, 1);
    putLittleEndian<quint16>(dib, 32);
    putLittleEndian<quint32>(dib, 0); // BI_RGB
    putLittleEndian<quint32>(dib, quint32(width * height * 4 + maskStride * height));
    for (int i = 0; i < 4; ++i)
        putLittleEndian<quint32>(dib, 0);
    for (int y = height - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            dib.append(char(qBlue(row[x])));
            dib.append(char(qGreen(row[x])));
            dib.append(char(qRed(row[x])));
            dib.append(char(qAlpha(row[x])));
        }
    }
    for (int y = height - 1; y >= 0; --y) {
        QByteArray mask(maskStride, '\0');
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(row[x]) == 0)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        }
        dib.append(mask);
    }
    return dib;
}

// The application icon: the logo at the sizes Windows asks for (title bar, taskbar, Explorer's
// views). The largest is stored as PNG, as Windows Vista and later read it; the others as
// DIBs, which every reader understands.
QByteArray applicationIcon()
{
    const int sizes[] = {16, 24, 32, 48, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        if (size < 256) {
            images.append(iconDib(logo(size)));
            continue;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        logo(size).save(&buffer, "PNG");
        images.append(png);
    }
    QByteArray ico;
    putLittleEndian<quint16>(ico, 0);
    putLittleEndian<quint16>(ico, 1); // an icon, not a cursor
    putLittleEndian<quint16>(ico, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (int i = 0; i < images.size(); ++i) {
        ico.append(char(sizes[i] & 0xff)); // 0 stands for 256
        ico.append(char(sizes[i] & 0xff));
        ico.append(char(0)); // no palette
        ico.append(char(0));
        putLittleEndian<quint16>(ico, 1);
        putLittleEndian<quint16>(ico, 32);
        putLittleEndian<quint32>(ico, quint32(images.at(i).size()));
        putLittleEndian<quint32>(ico, offset);
        offset += quint32(images.at(i).size());
    }
    for (const QByteArray &image : images)
        ico.append(image);
    return ico;
}

QImage closeCross()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    begin(p);
    p.setPen(QPen(text, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return image;
}

QImage minimiseBar()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    begin(p);
    p.setPen(QPen(text, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 8.5), QPointF(12.5, 8.5));
    return image;
}

void drawBook(QPainter &p, const QRectF &cover, const QColor &colour, const QString &subject)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 30));
    p.drawRoundedRect(cover.translated(3, 3), 4, 4);
    p.setBrush(colour);
    p.drawRoundedRect(cover, 4, 4);
    p.setBrush(colour.darker(125));
    p.drawRect(QRectF(cover.left(), cover.top(), 7, cover.height()));
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRoundedRect(QRectF(cover.left() + 14, cover.top() + 14, cover.width() - 22, 22), 3, 3);
    p.setPen(colour.darker(140));
    p.setFont(uiFont(13, true));
    p.drawText(QRectF(cover.left() + 14, cover.top() + 14, cover.width() - 22, 22), Qt::AlignCenter,
               subject);
}

QImage ebookIllustration()
{
    QImage image = blank(250, 104);
    QPainter p(&image);
    begin(p);
    // A tablet holding a page, with three textbooks beside it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 25));
    p.drawRoundedRect(QRectF(14, 8, 96, 94), 10, 10);
    p.setBrush(text);
    p.drawRoundedRect(QRectF(10, 4, 96, 94), 10, 10);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(18, 12, 80, 74));
    p.setBrush(accent);
    p.drawRect(QRectF(18, 12, 80, 14));
    p.setBrush(QColor(0xd9, 0xd9, 0xd9));
    for (int row = 0; row < 5; ++row)
        p.drawRect(QRectF(24, 33 + row * 10, row == 4 ? 40 : 68, 4));
    p.setBrush(QColor(0x66, 0x66, 0x66));
    p.drawEllipse(QPointF(58, 92), 2.5, 2.5);

    drawBook(p, QRectF(124, 20, 38, 80), QColor(0xe8, 0x6a, 0x5c), QStringLiteral("语"));
    drawBook(p, QRectF(166, 12, 38, 88), accent, QStringLiteral("数"));
    drawBook(p, QRectF(208, 24, 38, 76), QColor(0x4c, 0xb0, 0x8a), QStringLiteral("英"));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xb8, 0x2e));
    p.drawRoundedRect(QRectF(74, 0, 40, 18), 9, 9);
    p.setPen(Qt::white);
    p.setFont(uiFont(11, true));
    p.drawText(QRectF(74, 0, 40, 18), Qt::AlignCenter, QStringLiteral("VIP"));
    return image;
}

QImage badge(int number)
{
    QImage image = blank(30, 30);
    QPainter p(&image);
    begin(p);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(QRectF(1, 1, 28, 28));
    p.setPen(Qt::white);
    p.setFont(uiFont(17, true));
    p.drawText(QRectF(0, 0, 30, 29), Qt::AlignCenter, QString::number(number));
    return image;
}

// The common frame of a client screen: a window with a title bar and a side bar.
void drawClientWindow(QPainter &p, const QString &title, int activeItem)
{
    const QRectF frame(10, 10, 499, 260);
    p.setPen(QPen(line, 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(frame, 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    // Rounded at the top only: the union of a rounded rectangle and a square-cornered lower
    // part (winding fill, or the overlap would be a hole).
    QPainterPath bar;
    bar.setFillRule(Qt::WindingFill);
    bar.addRoundedRect(QRectF(10, 10, 499, 34), 8, 8);
    bar.addRect(QRectF(10, 30, 499, 14));
    p.drawPath(bar.simplified());
    p.setPen(Qt::white);
    p.setFont(uiFont(14, true));
    p.drawText(QRectF(22, 10, 300, 34), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Orla Nova  ") + title);
    p.setPen(QPen(Qt::white, 1.6));
    p.drawLine(QPointF(487, 22), QPointF(496, 31));
    p.drawLine(QPointF(496, 22), QPointF(487, 31));
    p.drawLine(QPointF(466, 27), QPointF(476, 27));

    p.setPen(Qt::NoPen);
    p.setBrush(card);
    p.drawRect(QRectF(11, 44, 100, 225));
    const QString items[] = {QStringLiteral("书架"), QStringLiteral("书城"),
                             QStringLiteral("个人中心")};
    p.setFont(uiFont(13));
    for (int i = 0; i < 3; ++i) {
        const QRectF item(11, 56 + i * 36, 100, 30);
        if (i == activeItem) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xdc, 0xe6, 0xf6));
            p.drawRect(item);
            p.setBrush(accent);
            p.drawRect(QRectF(11, item.top(), 4, 30));
        }
        p.setPen(i == activeItem ? accent : text);
        p.drawText(item, Qt::AlignCenter, items[i]);
    }
}

void drawField(QPainter &p, const QRectF &rect, const QString &placeholder)
{
    p.setPen(QPen(line, 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(rect, 4, 4);
    p.setPen(secondary);
    p.setFont(uiFont(12));
    p.drawText(rect.adjusted(10, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, placeholder);
}

void drawButton(QPainter &p, const QRectF &rect, const QString &caption)
{
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(rect, 4, 4);
    p.setPen(Qt::white);
    p.setFont(uiFont(13, true));
    p.drawText(rect, Qt::AlignCenter, caption);
}

void drawPointer(QPainter &p, const QPointF &tip)
{
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(0, 18));
    arrow.lineTo(tip + QPointF(4.5, 14));
    arrow.lineTo(tip + QPointF(8, 21));
    arrow.lineTo(tip + QPointF(11, 19.5));
    arrow.lineTo(tip + QPointF(7.5, 12.5));
    arrow.lineTo(tip + QPointF(13, 12.5));
    arrow.closeSubpath();
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(text);
    p.drawPath(arrow);
}

void drawLoginScreen(QPainter &p)
{
    drawClientWindow(p, QStringLiteral("登录"), -1);
    p.setPen(text);
    p.setFont(uiFont(18, true));
    p.drawText(QRectF(111, 56, 398, 30), Qt::AlignCenter, QStringLiteral("欢迎使用 Orla Nova"));
    drawField(p, QRectF(200, 100, 220, 30), QStringLiteral("手机号"));
    drawField(p, QRectF(200, 140, 220, 30), QStringLiteral("密码"));
    drawButton(p, QRectF(200, 186, 220, 32), QStringLiteral("登录"));
    p.setPen(accent);
    p.setFont(uiFont(12));
    p.drawText(QRectF(200, 226, 220, 20), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("没有账号？立即注册"));
    drawPointer(p, QPointF(330, 200));
}

void drawPersonalCentreScreen(QPainter &p)
{
    drawClientWindow(p, QStringLiteral("书架"), 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xdc, 0xe6, 0xf6));
    p.drawEllipse(QRectF(136, 62, 52, 52));
    p.setBrush(accent);
    p.drawEllipse(QRectF(152, 72, 20, 20));
    p.drawPie(QRectF(144, 94, 36, 30), 0, 180 * 16);
    p.setPen(text);
    p.setFont(uiFont(15, true));
    p.drawText(QRectF(204, 66, 200, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("同学你好"));
    p.setPen(secondary);
    p.setFont(uiFont(12));
    p.drawText(QRectF(204, 90, 200, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("普通会员"));
    const QString rows[] = {QStringLiteral("我的课本"), QStringLiteral("VIP充值卡"),
                            QStringLiteral("账号设置")};
    for (int i = 0; i < 3; ++i) {
        const QRectF row(136, 134 + i * 40, 350, 32);
        p.setPen(QPen(line, 1));
        p.setBrush(i == 1 ? QColor(0xdc, 0xe6, 0xf6) : Qt::white);
        p.drawRoundedRect(row, 4, 4);
        p.setPen(i == 1 ? accent : text);
        p.setFont(uiFont(13));
        p.drawText(row.adjusted(14, 0, -14, 0), Qt::AlignLeft | Qt::AlignVCenter, rows[i]);
        p.drawText(row.adjusted(14, 0, -14, 0), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral(">"));
    }
    drawPointer(p, QPointF(60, 140));
}

void drawRedeemScreen(QPainter &p)
{
    drawClientWindow(p, QStringLiteral("个人中心"), 2);
    p.setPen(text);
    p.setFont(uiFont(16, true));
    p.drawText(QRectF(136, 58, 350, 28), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VIP充值卡激活"));
    // The card itself.
    p.setPen(Qt::NoPen);
    QLinearGradient gold(QPointF(136, 96), QPointF(286, 176));
    gold.setColorAt(0, QColor(0xf7, 0xd0, 0x6b));
    gold.setColorAt(1, QColor(0xe0, 0xa2, 0x2c));
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(136, 96, 150, 90), 8, 8);
    p.setPen(Qt::white);
    p.setFont(uiFont(20, true));
    p.drawText(QRectF(136, 100, 150, 50), Qt::AlignCenter, QStringLiteral("VIP"));
    p.setFont(uiFont(12));
    p.drawText(QRectF(136, 146, 150, 30), Qt::AlignCenter, QStringLiteral("一年VIP卡"));

    drawField(p, QRectF(306, 100, 180, 30), QStringLiteral("请输入卡号"));
    drawField(p, QRectF(306, 140, 180, 30), QStringLiteral("请输入密码"));
    drawButton(p, QRectF(306, 190, 180, 32), QStringLiteral("立即激活"));
    drawPointer(p, QPointF(410, 204));
}

// The guide shows each step picture in a label whose margin leaves 455 by 280 pixels visible:
// the client screens are drawn at their design size of 519 by 280 and scaled to fit.
QImage stepPicture(void (*drawScreen)(QPainter &))
{
    constexpr qreal designWidth = 519, width = 455, height = 280;
    constexpr qreal scale = width / designWidth;
    QImage image = blank(int(width), int(height), window);
    QPainter p(&image);
    begin(p);
    p.translate(0, (height - height * scale) / 2);
    p.scale(scale, scale);
    drawScreen(p);
    return image;
}

bool saveIcon(const QByteArray &ico, const QDir &folder, const QString &name)
{
    QFile file(folder.filePath(name));
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size();
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file.fileName()));
    return saved;
}

bool save(const QImage &image, const QDir &folder, const QString &name)
{
    const bool saved = image.save(folder.filePath(name), "PNG");
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "FAILED", qPrintable(folder.filePath(name)));
    return saved;
}
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: imagegen OUTPUT_FOLDER\n");
        return 2;
    }
    QDir folder(app.arguments().at(1));
    folder.mkpath(QStringLiteral("."));

    bool ok = save(logo(), folder, QStringLiteral("key.png"));
    ok &= save(closeCross(), folder, QStringLiteral("close.png"));
    ok &= save(minimiseBar(), folder, QStringLiteral("mini.png"));
    ok &= save(ebookIllustration(), folder, QStringLiteral("ebook.png"));
    for (int step = 1; step <= 3; ++step)
        ok &= save(badge(step), folder, QStringLiteral("%1.png").arg(step));
    ok &= save(stepPicture(drawLoginScreen), folder, QStringLiteral("ebookpic_1.png"));
    ok &= save(stepPicture(drawPersonalCentreScreen), folder, QStringLiteral("ebookpic_2.png"));
    ok &= save(stepPicture(drawRedeemScreen), folder, QStringLiteral("ebookpic_3.png"));
    ok &= saveIcon(applicationIcon(), folder, QStringLiteral("vipcard.ico"));
    return ok ? 0 : 1;
}
