#include "views/layout_text.h"

#include <algorithm>
#include <cctype>

#include <QSet>
#include <QStringList>

namespace layout {

namespace {

const QString kHeader = QStringLiteral("dork5 grid layout 1");
const QString kEnd = QStringLiteral("end");
const QString kCrLf = QStringLiteral("\r\n");
constexpr int kMaxWidth = 100000;
constexpr int kMaxOrder = 1000000;

QString alignName(HAlign a)
{
    switch (a) {
    case HAlign::Left: return QStringLiteral("left");
    case HAlign::Center: return QStringLiteral("center");
    case HAlign::Right: return QStringLiteral("right");
    }
    return {};
}

QString quoted(const QString& s)
{
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

bool isFieldChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// Splits one "column" line into its words; a quoted word keeps its spaces.
// Returns false on an unterminated quote or a stray character.
bool splitWords(const QString& line, QStringList& words, QString& why)
{
    int i = 0;
    const int n = int(line.size());
    while (i < n) {
        if (line[i] != u' ') {
            why = QStringLiteral("лишний символ");
            return false;
        }
        while (i < n && line[i] == u' ')
            ++i;
        if (i == n)
            break;
        QString word;
        while (i < n && line[i] != u' ') {
            if (line[i] == u'"') {
                word += u'"';
                ++i;
                bool closed = false;
                while (i < n) {
                    QChar c = line[i++];
                    if (c == u'\\') {
                        if (i == n) {
                            why = QStringLiteral("обратная косая черта в конце строки");
                            return false;
                        }
                        word += line[i++];
                        continue;
                    }
                    if (c == u'"') {
                        closed = true;
                        break;
                    }
                    word += c;
                }
                if (!closed) {
                    why = QStringLiteral("не закрыта кавычка");
                    return false;
                }
                word += u'"';
                if (i < n && line[i] != u' ') {
                    why = QStringLiteral("текст после значения в кавычках");
                    return false;
                }
            } else {
                word += line[i++];
            }
        }
        words << word;
    }
    return true;
}

bool parseInt(const QString& s, int max, int& out)
{
    if (s.isEmpty() || s.size() > 9)
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    out = s.toInt();
    return out <= max;
}

bool parseColor(const QString& s, uint32_t& out)
{
    if (s.size() != 9 || s[0] != u'#')
        return false;
    for (int i = 1; i < 9; ++i)
        if (!isxdigit(s[i].toLatin1()))
            return false;
    bool ok = false;
    out = s.mid(1).toUInt(&ok, 16);
    return ok;
}

bool parseColumn(const QString& line, ColumnLayout& col, QString& why)
{
    QStringList words;
    if (!splitWords(line.mid(6), words, why))  // after "column"
        return false;
    if (words.isEmpty()) {
        why = QStringLiteral("нет имени поля");
        return false;
    }
    const QString& field = words.front();
    if (field.size() > 32 || !std::all_of(field.begin(), field.end(), isFieldChar) || field.isEmpty()) {
        why = QStringLiteral("недопустимое имя поля");
        return false;
    }
    col = ColumnLayout{};
    col.field = field;
    QSet<QString> seen;
    for (int w = 1; w < words.size(); ++w) {
        const QString& word = words[w];
        const auto eq = word.indexOf(u'=');
        if (eq <= 0) {
            why = QStringLiteral("ожидалось ключ=значение: ") + word;
            return false;
        }
        const QString key = word.left(eq);
        const QString value = word.mid(eq + 1);
        if (seen.contains(key)) {
            why = QStringLiteral("ключ повторяется: ") + key;
            return false;
        }
        seen.insert(key);
        bool ok = true;
        if (key == u"width") {
            ok = parseInt(value, kMaxWidth, col.width);
        } else if (key == u"order") {
            ok = parseInt(value, kMaxOrder, col.sortOrder);
        } else if (key == u"sort") {
            if (value == u"up")
                col.sort = SortIndicator::Up;
            else if (value == u"down")
                col.sort = SortIndicator::Down;
            else if (value == u"none")
                col.sort = SortIndicator::None;
            else
                ok = false;
        } else if (key == u"color") {
            uint32_t c = 0;
            ok = parseColor(value, c);
            if (ok)
                col.color = c;
        } else if (key == u"align") {
            if (value == u"left")
                col.alignment = HAlign::Left;
            else if (value == u"center")
                col.alignment = HAlign::Center;
            else if (value == u"right")
                col.alignment = HAlign::Right;
            else
                ok = false;
        } else if (key == u"font") {
            ok = value.size() >= 3 && value.startsWith(u'"') && value.endsWith(u'"');
            if (ok)
                col.font = value.mid(1, value.size() - 2);
        } else {
            why = QStringLiteral("неизвестный ключ: ") + key;
            return false;
        }
        if (!ok) {
            why = QStringLiteral("недопустимое значение ключа ") + key;
            return false;
        }
    }
    return true;
}

}  // namespace

QString normaliseLineEnds(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < n && text[i + 1] == u'\n')
                ++i;
            out += kCrLf;
        } else if (c == u'\n') {
            out += kCrLf;
        } else {
            out += c;
        }
    }
    return out;
}

QString toText(const std::vector<ColumnLayout>& columns)
{
    QString out = kHeader + kCrLf;
    for (const ColumnLayout& c : columns) {
        out += QStringLiteral("column ") + c.field;
        if (c.width != kDefaultWidth)
            out += QStringLiteral(" width=") + QString::number(c.width);
        if (c.alignment != HAlign::Left)
            out += QStringLiteral(" align=") + alignName(c.alignment);
        if (c.sort != SortIndicator::None)
            out += c.sort == SortIndicator::Up ? QStringLiteral(" sort=up") : QStringLiteral(" sort=down");
        if (c.sortOrder != 0)
            out += QStringLiteral(" order=") + QString::number(c.sortOrder);
        if (c.color)
            out += QStringLiteral(" color=#") + QStringLiteral("%1").arg(*c.color, 8, 16, QLatin1Char('0'));
        if (c.font)
            out += QStringLiteral(" font=") + quoted(*c.font);
        out += kCrLf;
    }
    out += kEnd + kCrLf;
    return out;
}

std::optional<std::vector<ColumnLayout>> fromText(const QString& text, QString* error)
{
    const QStringList lines = normaliseLineEnds(text).split(kCrLf);
    auto fail = [&](int lineNo, const QString& why) -> std::optional<std::vector<ColumnLayout>> {
        if (error)
            *error = lineNo > 0 ? QStringLiteral("строка %1: %2").arg(lineNo).arg(why) : why;
        return std::nullopt;
    };

    std::vector<ColumnLayout> columns;
    QSet<QString> fields;
    bool header = false, ended = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const int lineNo = i + 1;
        if (line.isEmpty())
            continue;
        if (ended)
            return fail(lineNo, QStringLiteral("текст после последней строки"));
        if (!header) {
            if (line != kHeader)
                return fail(lineNo, QStringLiteral("это не раскладка столбцов"));
            header = true;
            continue;
        }
        if (line == kEnd) {
            ended = true;
            continue;
        }
        if (!line.startsWith(QStringLiteral("column ")))
            return fail(lineNo, QStringLiteral("ожидалось описание столбца"));
        ColumnLayout col;
        QString why;
        if (!parseColumn(line, col, why))
            return fail(lineNo, why);
        const QString key = col.field.toUpper();
        if (fields.contains(key))
            return fail(lineNo, QStringLiteral("столбец указан дважды: ") + col.field);
        fields.insert(key);
        columns.push_back(std::move(col));
    }
    if (!header)
        return fail(0, QStringLiteral("раскладка пуста"));
    if (!ended)
        return fail(0, QStringLiteral("раскладка обрезана (нет последней строки)"));
    return columns;
}

}  // namespace layout
