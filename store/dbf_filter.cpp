// Filter expressions (see dbf_filter.h): a recursive-descent parser.
#include "store/dbf_filter.h"

#include "store/dbf_fail.h"

#include <cstring>
#include <utility>

namespace dbf::detail {

namespace {

class FilterParser {
public:
    FilterParser(const QString& text, const std::vector<Field>& fields, const Codec& codec,
                 const std::function<int(QStringView)>& lookup)
        : s_(text), fields_(fields), codec_(codec), lookup_(lookup) {}

    Filter parse() {
        Filter f;
        f.codec = &codec_;
        out_ = &f;
        skipSpace();
        if (pos_ < s_.size()) {
            f.root = parseOr();
            skipSpace();
            if (pos_ < s_.size())
                error(QStringLiteral("лишний текст"));
        }
        return f;
    }

private:
    QString s_;
    qsizetype pos_ = 0;
    const std::vector<Field>& fields_;
    const Codec& codec_;
    const std::function<int(QStringView)>& lookup_;
    Filter* out_ = nullptr;

    [[noreturn]] void error(const QString& what) const {
        fail(E::Filter, QStringLiteral("Ошибка в фильтре \"%1\" (позиция %2): %3")
                            .arg(s_)
                            .arg(pos_ + 1)
                            .arg(what));
    }
    void skipSpace() {
        while (pos_ < s_.size() && s_[pos_].isSpace())
            ++pos_;
    }
    static bool identStart(QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    }
    static bool identChar(QChar c) { return identStart(c) || (c >= u'0' && c <= u'9'); }

    // Consumes a keyword (AND/OR/NOT, also in the dotted .AND. form).
    bool keyword(QLatin1StringView kw) {
        skipSpace();
        qsizetype p = pos_;
        const bool dotted = p < s_.size() && s_[p] == u'.';
        if (dotted)
            ++p;
        if (p + kw.size() > s_.size())
            return false;
        if (QStringView(s_).mid(p, kw.size()).compare(kw, Qt::CaseInsensitive) != 0)
            return false;
        p += kw.size();
        if (dotted) {
            if (p >= s_.size() || s_[p] != u'.')
                return false;
            ++p;
        } else if (p < s_.size() && identChar(s_[p])) {
            return false;
        }
        pos_ = p;
        return true;
    }

    int add(Node n) {
        out_->nodes.push_back(std::move(n));
        return int(out_->nodes.size() - 1);
    }
    int parseOr() {
        int l = parseAnd();
        while (keyword(QLatin1StringView("OR"))) {
            Node n;
            n.kind = Node::Or;
            n.a = l;
            n.b = parseAnd();
            l = add(std::move(n));
        }
        return l;
    }
    int parseAnd() {
        int l = parseNot();
        while (keyword(QLatin1StringView("AND"))) {
            Node n;
            n.kind = Node::And;
            n.a = l;
            n.b = parseNot();
            l = add(std::move(n));
        }
        return l;
    }
    int parseNot() {
        if (keyword(QLatin1StringView("NOT"))) {
            Node n;
            n.kind = Node::Not;
            n.a = parseNot();
            return add(std::move(n));
        }
        return parsePrimary();
    }

    struct Operand {
        enum { FieldRef, Number, Text } kind;
        int field = -1;
        double number = 0;
        QString text;
    };

    Operand parseOperand() {
        skipSpace();
        if (pos_ >= s_.size())
            error(QStringLiteral("ожидалось поле или значение"));
        const QChar c = s_[pos_];
        if (c == u'"' || c == u'\'') {
            const qsizetype end = s_.indexOf(c, pos_ + 1);
            if (end < 0)
                error(QStringLiteral("нет закрывающей кавычки"));
            Operand o{Operand::Text, -1, 0, {}};
            o.text = s_.mid(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            return o;
        }
        if (c.isDigit() || c == u'-' || c == u'+' || c == u'.') {
            qsizetype p = pos_;
            if (s_[p] == u'-' || s_[p] == u'+')
                ++p;
            while (p < s_.size() && (s_[p].isDigit() || s_[p] == u'.'))
                ++p;
            bool ok = false;
            const double v = s_.mid(pos_, p - pos_).toDouble(&ok);
            if (!ok)
                error(QStringLiteral("неверное число"));
            pos_ = p;
            return Operand{Operand::Number, -1, v, {}};
        }
        if (identStart(c)) {
            qsizetype p = pos_;
            while (p < s_.size() && identChar(s_[p]))
                ++p;
            const QStringView name = QStringView(s_).mid(pos_, p - pos_);
            const int idx = lookup_(name);
            if (idx < 0)
                error(QStringLiteral("нет поля %1").arg(name));
            pos_ = p;
            return Operand{Operand::FieldRef, idx, 0, {}};
        }
        error(QStringLiteral("непонятный символ '%1'").arg(c));
    }

    bool parseOp(Cmp& op) {
        skipSpace();
        auto at = [&](const char* t) {
            const qsizetype n = qsizetype(std::strlen(t));
            if (QStringView(s_).mid(pos_, n) == QLatin1StringView(t)) {
                pos_ += n;
                return true;
            }
            return false;
        };
        if (at("<>") || at("!=") || at("#")) op = Cmp::Ne;
        else if (at("<=")) op = Cmp::Le;
        else if (at(">=")) op = Cmp::Ge;
        else if (at("==") || at("=")) op = Cmp::Eq;
        else if (at("<")) op = Cmp::Lt;
        else if (at(">")) op = Cmp::Gt;
        else return false;
        return true;
    }

    static Cmp mirror(Cmp op) {
        switch (op) {
        case Cmp::Lt: return Cmp::Gt;
        case Cmp::Gt: return Cmp::Lt;
        case Cmp::Le: return Cmp::Ge;
        case Cmp::Ge: return Cmp::Le;
        default: return op;
        }
    }

    int parsePrimary() {
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == u'(') {
            ++pos_;
            const int inner = parseOr();
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != u')')
                error(QStringLiteral("нет закрывающей скобки"));
            ++pos_;
            return inner;
        }
        Operand l = parseOperand();
        Cmp op;
        if (!parseOp(op))
            error(QStringLiteral("ожидалось сравнение (= <> < > <= >=)"));
        Operand r = parseOperand();
        if (l.kind != Operand::FieldRef) {
            std::swap(l, r);
            op = mirror(op);
        }
        if (l.kind != Operand::FieldRef || r.kind == Operand::FieldRef)
            error(QStringLiteral("сравнение должно связывать поле и значение"));
        const Field& f = fields_[size_t(l.field)];
        Node n;
        n.kind = Node::Compare;
        n.offset = f.offset;
        n.width = f.def.width;
        n.numericField = f.numeric;
        n.op = op;
        if (f.numeric) {
            if (r.kind == Operand::Number) {
                n.numberLiteral = true;
                n.number = r.number;
            } else if (r.text.trimmed().isEmpty()) {
                n.emptyLiteral = true;
            } else {
                bool ok = false;
                n.number = r.text.trimmed().replace(u',', u'.').toDouble(&ok);
                if (!ok)
                    error(QStringLiteral("поле %1 числовое, а значение — текст").arg(f.def.name));
                n.numberLiteral = true;
            }
        } else if (r.kind == Operand::Number) {
            // A character field against a number: its text read as a number.
            n.numberLiteral = true;
            n.number = r.number;
        } else {
            n.text = r.text.trimmed();
            QByteArray enc(n.text.size(), Qt::Uninitialized);
            qsizetype missing = -1;
            enc.resize(codec_.encode(n.text, enc.data(), int(enc.size()), &missing));
            n.bytes = enc;
            // A text the code page cannot hold is in no record.
            n.unstorable = missing >= 0;
        }
        return add(std::move(n));
    }
};

}  // namespace

Filter compileFilter(const QString& text, const std::vector<Field>& fields, const Codec& codec,
                     const std::function<int(QStringView)>& lookup) {
    return FilterParser(text, fields, codec, lookup).parse();
}

}  // namespace dbf::detail
