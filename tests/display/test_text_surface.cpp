#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QStringDecoder>

#include <random>
#include <string>
#include <vector>

#include "core/DisplayLine.h"
#include "core/LayoutParams.h"
#include "core/ReferenceRowBreaker.h"
#include "core/Settings.h"
#include "display/QtTextSurface.h"
#include "sjis/Sjis.h"

namespace {

using namespace skiro;

std::string sj(const QString& text) {
    return toSjis(text);
}

Font fontRecord(int heightTwips, const char* faceUtf8 = "ＭＳ ゴシック") {
    Font f;
    f.lfHeight = heightTwips;
    f.lfFaceName = sj(QString::fromUtf8(faceUtf8));
    return f;
}

TEST(Cp932Decoder, DecodesWindowsCodePage932) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"ASCII, backslash and tilde stay ASCII", "A\\~", u"A\\~"},
        {"hiragana and kanji", "\x82\xA0\x93\x8C", u"あ東"},
        {"half-width katakana", "\xB1\xDE\xA1", u"ｱﾞ｡"},
        {"NEC special: circled one", "\x87\x40", u"①"},
        {"wave dash is the full-width tilde", "\x81\x60", u"\uFF5E"},
        {"double vertical line and minus as Windows maps them", "\x81\x61\x81\x7C",
         u"\u2225\uFF0D"},
        {"IBM extension: small roman one", "\xFA\x40", u"\u2170"},
        {"NEC-selected IBM extension", "\xED\x40", u"\u7E8A"},
    };
    Cp932Decoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString got = decoder.decode(c.bytes);
        EXPECT_EQ(got, QString::fromStdU16String(c.expected));
        QStringDecoder qtDecoder("windows-31j");
        EXPECT_EQ(got, QString(qtDecoder.decode(QByteArray::fromStdString(c.bytes))));
    }
}

TEST(Cp932Decoder, MapsEveryCodeUnitBackToItsCharactersFirstByte) {
    Cp932Decoder decoder;
    std::vector<int> byteOf;
    // A, あ, ｱ, a lone lead byte at the end.
    const QString text = decoder.decode("A\x82\xA0\xB1\x82", &byteOf);
    ASSERT_EQ(text.size(), 4);
    EXPECT_EQ(byteOf, (std::vector<int>{0, 1, 3, 4}));
}

TEST(QtTextSurfaceFont, WindowsFacesAndHeightsBecomeInstalledFontsInPixels) {
    struct Case {
        const char* name;
        Font record;
        const char* family;
        int emPixels;   // 0: not checked
        int cellPixels; // 0: not checked
    } cases[] = {
        {"default profile face, character height", fontRecord(-480), "IPAGothic", 32, 0},
        {"mincho", fontRecord(-720, "ＭＳ 明朝"), "IPAMincho", 48, 0},
        {"proportional gothic", fontRecord(-480, "ＭＳ Ｐゴシック"), "IPAPGothic", 32, 0},
        {"vertical face: the @ is dropped", fontRecord(-480, "@ＭＳ Ｐ明朝"), "IPAPMincho", 32, 0},
        {"positive height is the cell height", fontRecord(960), "IPAGothic", 0, 64},
        {"a face that matches nothing: the default Japanese face",
         fontRecord(-480, "No Such Face 7"), "IPAGothic", 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtTextSurface surface(c.record, 0, 96.0);
        EXPECT_EQ(QFontInfo(surface.font()).family(), QString::fromUtf8(c.family));
        if (c.emPixels) {
            EXPECT_EQ(surface.font().pixelSize(), c.emPixels);
        }
        if (c.cellPixels) {
            EXPECT_NEAR(surface.fontHeight(), c.cellPixels, 1);
        }
        EXPECT_TRUE(surface.pitchAndFamily() & kTrueTypePitchBit);
    }
    Font bold = fontRecord(-480);
    bold.lfWeight = 700;
    EXPECT_TRUE(QFontInfo(QtTextSurface::makeFont(bold, 96.0)).bold());
}

// The row breaker's one-pass extents, on the real fonts with their kerning and ligatures, must
// give every row that measuring each prefix alone gives.
TEST(QtTextSurfaceRows, OnePassBreakingEqualsPerPrefixBreaking) {
    const char* lines[] = {
        "「あー、テスト。」（東京）…ABC!?abc12",
        "To AVAV Wa Wa To office affine ffi fl",
        "今日は、晴れ。明日は「雨」でしょう。ｶﾀｶﾅﾃﾞｽ｡ ABCDEFG",
        "あいうえおかきくけこさしすせそたちつてとなにぬねの。",
        "Type: AV. WAVE! Yo-yo, Tokyo 2024年①～③",
    };
    const KinsokuValues saved = Kinsoku;
    Kinsoku = {0, kDefaultKinsokuHead, kDefaultKinsokuTail};
    for (int direction : {0, 1}) {
        for (const char* face : {"ＭＳ Ｐゴシック", "ＭＳ 明朝"}) {
            QtTextSurface surface(fontRecord(-480, face), direction, 96.0);
            LayoutParams p;
            p.dc = &surface;
            p.emptyThickness = surface.fontHeight();
            p.pitchPercent = 120;
            for (const char* line : lines) {
                const std::string text = sj(QString::fromUtf8(line));
                for (int type = 0; type <= 2; ++type) {
                    Kinsoku.Type = type;
                    for (int limit : {-1, 0, 31, 33, 64, 97, 150, 211, 333, 2000}) {
                        SCOPED_TRACE(std::string(line) + " direction " + std::to_string(direction) +
                                     " type " + std::to_string(type) + " limit " +
                                     std::to_string(limit));
                        p.extentLimit = limit;
                        p.outlineWidth = limit == 97 ? 2 : 0;
                        CDisplayLine fast;
                        ReferenceRowBreaker reference;
                        std::string fastRow, refRow;
                        int fastThick = 0, refThick = 0;
                        std::string_view view = text;
                        bool fastLast = fast.nextRow(&view, p, &fastRow, fastThick);
                        bool refLast = reference.nextRow(&view, p, &refRow, refThick);
                        for (int rows = 0;; ++rows) {
                            ASSERT_EQ(fastRow, refRow) << "row " << rows;
                            ASSERT_EQ(fastThick, refThick);
                            ASSERT_EQ(fastLast, refLast);
                            if (fastLast)
                                break;
                            fastLast = fast.nextRow(nullptr, p, &fastRow, fastThick);
                            refLast = reference.nextRow(nullptr, p, &refRow, refThick);
                        }
                    }
                }
            }
        }
    }
    Kinsoku = saved;
}

// The same over random lines in a font that kerns Latin pairs (DejaVu Sans kerns AV, TA, Yo),
// mixed with kana and punctuation, at room around the widths where a kerned pair decides
// whether the next character fits. A row measured alone must be what the line laid out once
// says it is: a row that measures wider than the room would lose its last glyph at the edge.
TEST(QtTextSurfaceRows, OnePassBreakingEqualsPerPrefixBreakingWithAKerningFont) {
    const QString alphabet = QString::fromUtf8("AVTWYoa.,- あア漢。「」ー1");
    const KinsokuValues saved = Kinsoku;
    Kinsoku = {1, kDefaultKinsokuHead, kDefaultKinsokuTail};
    std::mt19937 random(12);
    int compared = 0;
    for (int direction : {0, 1}) {
        QtTextSurface surface(fontRecord(-600, "DejaVu Sans"), direction, 96.0); // 40 px
        LayoutParams p;
        p.dc = &surface;
        p.emptyThickness = surface.fontHeight();
        p.pitchPercent = 100;
        std::vector<std::string> lines = {sj(QString::fromUtf8("AVあTAVATあAVAVTAあ"))};
        for (int i = 0; i < 300; ++i) {
            QString line;
            const int length = 4 + static_cast<int>(random() % 24);
            for (int c = 0; c < length; ++c)
                line += alphabet[static_cast<qsizetype>(random() % alphabet.size())];
            lines.push_back(sj(line));
        }
        for (const std::string& text : lines) {
            for (int limit = 60; limit <= 260; limit += 1 + static_cast<int>(random() % 9)) {
                p.extentLimit = limit;
                CDisplayLine fast;
                ReferenceRowBreaker reference;
                const std::vector<BrokenRow> fastRows = breakIntoRows(fast, text, p);
                const std::vector<BrokenRow> refRows = breakIntoRows(reference, text, p);
                ASSERT_EQ(fastRows, refRows) << fromSjis(text).toStdString() << " direction "
                                             << direction << " limit " << limit;
                for (const BrokenRow& row : fastRows) {
                    if (fromSjis(row.text).size() > 1) {
                        ASSERT_LT(surface.textExtent(row.text).cx, limit)
                            << "a row of more than one character fits";
                    }
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 10000);
    Kinsoku = saved;
}

// Bounding box of the pixels that differ from the background.
QRect inkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

QImage drawn(QtTextSurface& surface, const QString& text, QSize size, QPoint at) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    surface.setPainter(&painter);
    surface.drawText(at.x(), at.y(), sj(text), rgb(0, 0, 0));
    surface.setPainter(nullptr);
    return image;
}

TEST(QtTextSurfaceVertical, FullStopTakesItsVerticalFormInTheUpperRight) {
    QtTextSurface horizontal(fontRecord(-960), 0, 96.0);
    QtTextSurface vertical(fontRecord(-960), 1, 96.0);
    const int h = vertical.fontHeight();
    const int along = vertical.textExtent(sj(QStringLiteral("。"))).cx;
    ASSERT_GT(along, 0);
    // Horizontal: the mark sits low and left in its cell.
    const QRect flat = inkBox(drawn(horizontal, QStringLiteral("。"), {h, h}, {0, 0}));
    ASSERT_FALSE(flat.isEmpty());
    EXPECT_LT(flat.center().x(), h / 2);
    EXPECT_GT(flat.center().y(), h / 2);
    // Vertical: the column's right edge is at x = h, the cell runs left and down from there.
    const QRect upright = inkBox(drawn(vertical, QStringLiteral("。"), {h, along}, {h, 0}));
    ASSERT_FALSE(upright.isEmpty());
    EXPECT_GT(upright.center().x(), h / 2);
    EXPECT_LT(upright.center().y(), along / 2);
}

TEST(QtTextSurfaceVertical, LatinLiesOnItsSideAndKanjiStandsInTheColumn) {
    QtTextSurface vertical(fontRecord(-960), 1, 96.0);
    const int h = vertical.fontHeight();
    // "l" on its side is a horizontal stroke: wider than tall.
    const QRect sideways = inkBox(drawn(vertical, QStringLiteral("l"), {h, h}, {h, 0}));
    ASSERT_FALSE(sideways.isEmpty());
    EXPECT_GT(sideways.width(), 3 * sideways.height());
    // Everything drawn lies inside the measured column: along [0, extent), across [0, h).
    const QString text = QStringLiteral("東京Tokyo、「ー」");
    const int along = vertical.textExtent(sj(text)).cx;
    const QRect column = inkBox(drawn(vertical, text, {h + 20, along + 40}, {h, 0}));
    EXPECT_GE(column.left(), 0);
    EXPECT_LE(column.right(), h);
    EXPECT_GE(column.top(), 0);
    EXPECT_LE(column.bottom(), along);
    EXPECT_GT(column.bottom(), along - h); // the last character is drawn where it was measured
}

// A face without kana (DejaVu Sans) draws kana from an installed face that has them, in both
// directions: each character its own shape, where missing glyphs would all be the same box,
// and inside the extent it was measured with.
TEST(QtTextSurfaceFallback, KanaInAFaceWithoutThemDrawNoBoxes) {
    const QString kana = QString::fromUtf8("あいうアイ");
    for (int direction : {0, 1}) {
        SCOPED_TRACE("direction " + std::to_string(direction));
        QtTextSurface surface(fontRecord(-600, "DejaVu Sans"), direction, 96.0);
        ASSERT_EQ(QFontInfo(surface.font()).family(), "DejaVu Sans");
        const int h = surface.fontHeight();
        const QPoint at = direction == 1 ? QPoint(h, 0) : QPoint(0, 0);
        std::vector<QImage> glyphs;
        for (const QChar c : kana) {
            glyphs.push_back(drawn(surface, QString(c), {2 * h, 2 * h}, at));
            EXPECT_FALSE(inkBox(glyphs.back()).isEmpty());
            for (std::size_t i = 0; i + 1 < glyphs.size(); ++i)
                EXPECT_NE(glyphs[i], glyphs.back()) << "two kana drawn alike: boxes";
        }
        const int along = surface.textExtent(sj(kana)).cx;
        EXPECT_GE(along, 5 * h * 8 / 10) << "kana are full-width";
        const QRect row = inkBox(drawn(surface, kana, {along + h, along + h}, at));
        if (direction == 1)
            EXPECT_LE(row.bottom(), along);
        else
            EXPECT_LE(row.right(), along);
    }
}

// With SKIRO_RENDER_PNG set to a folder, writes the fixture lines in both directions as PNGs
// for a person to look at.
TEST(QtTextSurfaceRender, WritesFixturePicturesOnRequest) {
    const QString folder = qEnvironmentVariable("SKIRO_RENDER_PNG");
    if (folder.isEmpty())
        GTEST_SKIP() << "set SKIRO_RENDER_PNG to a folder to get the pictures";
    const QString lines[] = {QStringLiteral("「あー、テスト。」（東京）…ABC!?abc12"),
                             QStringLiteral("ぁぃゃっ〜～ー。、『括弧』【注】ｶﾀｶﾅ Office AV"),
                             QStringLiteral("①②③ To Wa 2024年10月")};
    for (int direction : {0, 1}) {
        QtTextSurface surface(fontRecord(-720), direction, 96.0);
        const int h = surface.fontHeight();
        int along = 0;
        for (const QString& l : lines)
            along = std::max(along, surface.textExtent(sj(l)).cx);
        const int n = static_cast<int>(std::size(lines));
        QImage image(direction ? QSize(n * (h + 8), along) : QSize(along, n * (h + 8)),
                     QImage::Format_RGB32);
        image.fill(QColor(0, 0, 255));
        QPainter painter(&image);
        surface.setPainter(&painter);
        for (int i = 0; i < n; ++i) {
            const std::string row = sj(lines[i]);
            const int extent = surface.textExtent(row).cx;
            if (direction) {
                const int right = image.width() - i * (h + 8);
                surface.fillRect({right - h, 0, right, extent}, rgb(0, 0, 128));
                surface.drawText(right, 0, row, rgb(255, 255, 255));
            } else {
                surface.fillRect({0, i * (h + 8), extent, i * (h + 8) + h}, rgb(0, 0, 128));
                surface.drawText(0, i * (h + 8), row, rgb(255, 255, 255));
            }
        }
        painter.end();
        ASSERT_TRUE(
            image.save(folder + (direction ? "/rows_vertical.png" : "/rows_horizontal.png")));
    }
}

} // namespace
