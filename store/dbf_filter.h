#pragma once
// Filter expressions over records: FIELD=number, FIELD="text", AND, OR, NOT,
// parentheses and the comparisons = <> < > <= >=, compiled against a table's
// fields and evaluated on the raw record bytes.

#include "store/dbf_codec.h"
#include "store/dbf_record.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

namespace dbf::detail {

enum class Cmp { Eq, Ne, Lt, Gt, Le, Ge };

struct Node {
    enum Kind { And, Or, Not, Compare } kind = Compare;
    int a = -1, b = -1;  // children (node indexes)
    // Compare:
    int offset = 0, width = 0;
    bool numericField = false;
    Cmp op = Cmp::Eq;
    bool numberLiteral = false;  // literal compared as a number
    bool emptyLiteral = false;   // numeric field against "": null test
    double number = 0;
    QByteArray bytes;  // text literal in the file's code page, trimmed
    bool unstorable = false;  // the literal has characters the code page lacks
    QString text;      // text literal, trimmed (ordering comparisons)
};

template <typename T>
bool applyCmp(Cmp op, const T& l, const T& r) {
    switch (op) {
    case Cmp::Eq: return l == r;
    case Cmp::Ne: return !(l == r);
    case Cmp::Lt: return l < r;
    case Cmp::Gt: return r < l;
    case Cmp::Le: return !(r < l);
    case Cmp::Ge: return !(l < r);
    }
    return false;
}

struct Filter {
    std::vector<Node> nodes;
    int root = -1;
    const Codec* codec = nullptr;

    bool eval(const char* rec) const { return root < 0 || evalNode(root, rec); }

    bool evalNode(int i, const char* rec) const {
        const Node& n = nodes[size_t(i)];
        switch (n.kind) {
        case Node::And: return evalNode(n.a, rec) && evalNode(n.b, rec);
        case Node::Or: return evalNode(n.a, rec) || evalNode(n.b, rec);
        case Node::Not: return !evalNode(n.a, rec);
        case Node::Compare: break;
        }
        const char* p = rec + n.offset;
        if (n.emptyLiteral) {  // numeric field = ""
            double v;
            const bool isNull = !parseNumber(p, n.width, v);
            return n.op == Cmp::Eq ? isNull : n.op == Cmp::Ne ? !isNull : false;
        }
        if (n.numberLiteral) {
            double v;
            if (!parseNumber(p, n.width, v))
                return false;  // a blank number compares with nothing
            return applyCmp(n.op, v, n.number);
        }
        const QByteArrayView t = trimmedBytes(p, n.width);
        if (n.op == Cmp::Eq)
            return !n.unstorable && t == QByteArrayView(n.bytes);
        if (n.op == Cmp::Ne)
            return n.unstorable || t != QByteArrayView(n.bytes);
        const int c = QString::compare(codec->decode(t.data(), t.size()), n.text);
        return applyCmp(n.op, c, 0);
    }
};

// Compiles `text` (empty: every record passes).  Throws Error(Filter).
Filter compileFilter(const QString& text, const std::vector<Field>& fields, const Codec& codec,
                     const std::function<int(QStringView)>& lookup);

}  // namespace dbf::detail
