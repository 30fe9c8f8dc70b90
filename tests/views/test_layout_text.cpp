// Column layout text: writing, reading back, line ends and unreadable values.

#include <QRegularExpression>
#include <QtTest>

#include "views/layout_text.h"

using layout::ColumnLayout;
using layout::HAlign;

namespace {

std::vector<ColumnLayout> sample()
{
    std::vector<ColumnLayout> cols(5);
    cols[0].field = QStringLiteral("N");
    cols[0].width = 47;
    cols[0].alignment = HAlign::Right;
    cols[1].field = QStringLiteral("R");
    cols[1].width = 346;
    cols[1].alignment = HAlign::Center;
    cols[1].sort = SortIndicator::Up;
    cols[1].sortOrder = 1;
    cols[2].field = QStringLiteral("COMMENT");
    cols[2].width = 322;
    cols[2].color = 0xFFC0FFC0u;
    cols[2].font = QStringLiteral("Arial,10,-1,5,700,1,0,0,0,0");
    cols[3].field = QStringLiteral("K_C");
    cols[3].sort = SortIndicator::Down;
    cols[3].sortOrder = 3;
    cols[3].color = 0x80FF0000u;  // translucent colours keep their alpha
    cols[3].width = 0;
    cols[4].field = QStringLiteral("DIR");  // every property at its default
    return cols;
}

}  // namespace

class TestLayoutText : public QObject {
    Q_OBJECT
private slots:
    void roundTripKeepsEveryProperty()
    {
        const auto cols = sample();
        const QString text = layout::toText(cols);
        QString error;
        const auto back = layout::fromText(text, &error);
        QVERIFY2(back.has_value(), qPrintable(error));
        QCOMPARE(back->size(), cols.size());
        for (size_t i = 0; i < cols.size(); ++i)
            QVERIFY2((*back)[i] == cols[i], qPrintable(cols[i].field));
        // Writing what was read gives the same text.
        QCOMPARE(layout::toText(*back), text);
    }

    void fontWithQuotesAndBackslashes()
    {
        std::vector<ColumnLayout> cols(1);
        cols[0].field = QStringLiteral("COMMENT");
        cols[0].font = QStringLiteral(R"(My "odd" font \ name,9,-1,5,400,0,0,0,0,0)");
        const QString text = layout::toText(cols);
        QVERIFY(text.contains(QStringLiteral(R"(font="My \"odd\" font \\ name,)")));
        const auto back = layout::fromText(text);
        QVERIFY(back.has_value());
        QCOMPARE(*(*back)[0].font, *cols[0].font);
    }

    void onlyNonDefaultPropertiesAreWritten()
    {
        const QString text = layout::toText(sample());
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.first(), QStringLiteral("dork5 grid layout 1"));
        QVERIFY(lines.contains(QStringLiteral("column N width=47 align=right")));
        QVERIFY(lines.contains(QStringLiteral("column R width=346 align=center sort=up order=1")));
        QVERIFY(lines.contains(QStringLiteral("column DIR")));
        QVERIFY(lines.contains(QStringLiteral("column K_C width=0 sort=down order=3 color=#80ff0000")));
        QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("end"));
        QCOMPARE(lines.last(), QString());  // the end line has its CR LF too
    }

    void everyLineEndsInCrLf()
    {
        const QString text = layout::toText(sample());
        QVERIFY(text.endsWith(QStringLiteral("\r\n")));
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n')
                QVERIFY2(i > 0 && text[i - 1] == u'\r', "LF without CR");
            if (text[i] == u'\r')
                QVERIFY2(i + 1 < text.size() && text[i + 1] == u'\n', "CR without LF");
        }
    }

    void emptyColumnListRoundTrips()
    {
        const QString text = layout::toText({});
        QCOMPARE(text, QStringLiteral("dork5 grid layout 1\r\nend\r\n"));
        const auto back = layout::fromText(text);
        QVERIFY(back.has_value());
        QVERIFY(back->empty());
    }

    void otherLineEndsAreAccepted_data()
    {
        QTest::addColumn<QString>("newline");
        QTest::newRow("LF") << QStringLiteral("\n");
        QTest::newRow("CR") << QStringLiteral("\r");
        QTest::newRow("CR LF") << QStringLiteral("\r\n");
    }
    void otherLineEndsAreAccepted()
    {
        QFETCH(QString, newline);
        QString text = layout::toText(sample());
        text.replace(QStringLiteral("\r\n"), newline);
        const auto back = layout::fromText(text);
        QVERIFY(back.has_value());
        QVERIFY(*back == sample());
        // Empty lines (a doubled line end) are harmless.
        text.replace(newline, newline + newline);
        QVERIFY(layout::fromText(text).has_value());
    }

    void normaliseLineEnds()
    {
        QCOMPARE(layout::normaliseLineEnds(QStringLiteral("a\nb\r\nc\rd\n\re")),
                 QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\ne"));
        QCOMPARE(layout::normaliseLineEnds(QStringLiteral("\r\n\r\n")), QStringLiteral("\r\n\r\n"));
        QCOMPARE(layout::normaliseLineEnds(QString()), QString());
    }

    void unreadableTextIsRejected_data()
    {
        QTest::addColumn<QString>("text");
        const QString h = QStringLiteral("dork5 grid layout 1\r\n");
        const QString e = QStringLiteral("end\r\n");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank lines") << QStringLiteral("\r\n\r\n");
        QTest::newRow("random") << QStringLiteral("\x01\x02garbage\xff");
        QTest::newRow("other format") << QStringLiteral("[Columns]\r\nN=47\r\n");
        QTest::newRow("newer version") << QStringLiteral("dork5 grid layout 2\r\n") + e;
        QTest::newRow("cut off") << h + QStringLiteral("column N width=47\r\n");
        QTest::newRow("text after end") << h + e + QStringLiteral("column N\r\n");
        QTest::newRow("unknown line") << h + QStringLiteral("row N\r\n") + e;
        QTest::newRow("no field") << h + QStringLiteral("column \r\n") + e;
        QTest::newRow("bad field") << h + QStringLiteral("column N-1\r\n") + e;
        QTest::newRow("unknown key") << h + QStringLiteral("column N height=3\r\n") + e;
        QTest::newRow("no value") << h + QStringLiteral("column N width\r\n") + e;
        QTest::newRow("negative width") << h + QStringLiteral("column N width=-1\r\n") + e;
        QTest::newRow("word width") << h + QStringLiteral("column N width=wide\r\n") + e;
        QTest::newRow("huge width") << h + QStringLiteral("column N width=999999999\r\n") + e;
        QTest::newRow("bad sort") << h + QStringLiteral("column N sort=sideways\r\n") + e;
        QTest::newRow("bad order") << h + QStringLiteral("column N order=1.5\r\n") + e;
        QTest::newRow("short colour") << h + QStringLiteral("column N color=#fff\r\n") + e;
        QTest::newRow("colour not hex") << h + QStringLiteral("column N color=#zz00ff00\r\n") + e;
        QTest::newRow("colour name") << h + QStringLiteral("column N color=red\r\n") + e;
        QTest::newRow("bad align") << h + QStringLiteral("column N align=middle\r\n") + e;
        QTest::newRow("font unquoted") << h + QStringLiteral("column N font=Arial\r\n") + e;
        QTest::newRow("font open quote") << h + QStringLiteral("column N font=\"Arial,9\r\n") + e;
        QTest::newRow("text after quote") << h + QStringLiteral("column N font=\"Arial\"x\r\n") + e;
        QTest::newRow("repeated key") << h + QStringLiteral("column N width=1 width=2\r\n") + e;
        QTest::newRow("column twice") << h + QStringLiteral("column N\r\ncolumn n width=5\r\n") + e;
    }
    void unreadableTextIsRejected()
    {
        QFETCH(QString, text);
        QString error;
        const auto cols = layout::fromText(text, &error);
        QVERIFY(!cols.has_value());
        // The reason reaches the user in the layout error box: Russian words.
        QVERIFY2(error.contains(QRegularExpression(QStringLiteral("[а-яё]{4,}"))), qPrintable(error));
    }

    void errorNamesTheLine()
    {
        QString error;
        const QString text = QStringLiteral("dork5 grid layout 1\r\ncolumn N\r\ncolumn R width=x\r\nend\r\n");
        QVERIFY(!layout::fromText(text, &error).has_value());
        QVERIFY2(error.startsWith(QStringLiteral("строка 3:")), qPrintable(error));
    }

    void spacesBetweenPropertiesAreTolerated()
    {
        const auto cols = layout::fromText(QStringLiteral("dork5 grid layout 1\ncolumn R   width=5  sort=up\nend\n"));
        QVERIFY(cols.has_value());
        QCOMPARE(cols->size(), size_t(1));
        QCOMPARE((*cols)[0].width, 5);
        QCOMPARE((*cols)[0].sort, SortIndicator::Up);
    }
};

QTEST_APPLESS_MAIN(TestLayoutText)
#include "test_layout_text.moc"
