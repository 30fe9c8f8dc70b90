#include "device/port_map.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

namespace device {

QString candidateName(int index)
{
    return QStringLiteral("\\\\.\\COM%1").arg(index + 1);
}

QList<int> comNumbersAbove38(const QStringList& names)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d{1,3})$"), QRegularExpression::CaseInsensitiveOption);
    QList<int> out;
    for (const QString& name : names) {
        QString bare = name.trimmed();
        if (bare.startsWith(QLatin1String("\\\\.\\")))
            bare = bare.mid(4);
        const auto m = com.match(bare);
        const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
        // Windows numbers its COM ports up to 256.
        if (n > kCandidateCount && n <= 256 && !out.contains(n))
            out << n;
    }
    std::sort(out.begin(), out.end());
    return out;
}

PortMap PortMap::comPorts(const QList<int>& above38)
{
    PortMap m;
    m.identity_ = true;
    m.above38_ = comNumbersAbove38([&] {
        QStringList names;
        for (int n : above38)
            names << QStringLiteral("COM%1").arg(n);
        return names;
    }());
    return m;
}

QList<int> PortMap::candidates() const
{
    QList<int> out;
    for (int i = 0; i < kCandidateCount; ++i)
        out << i;
    for (int n : above38_)
        out << n - 1;
    return out;
}

QStringList PortMap::scanDevices(const QString& dir)
{
    QStringList out;
    const QDir d(dir);
    for (const char* group : {"ttyUSB", "ttyACM", "ttyS"}) {
        const QString prefix = QString::fromLatin1(group);
        const QRegularExpression re(QStringLiteral("^%1(\\d+)$").arg(prefix));
        QList<std::pair<int, QString>> found;
        for (const QString& name : d.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const auto m = re.match(name);
            if (m.hasMatch())
                found.append({m.captured(1).toInt(), d.filePath(name)});
        }
        std::sort(found.begin(), found.end());
        for (const auto& f : found)
            out << f.second;
    }
    return out;
}

PortMap PortMap::fromEnvironment(const QStringList& systemPorts)
{
#ifdef Q_OS_WIN
    // Those up to 38 are tried whether the system lists them or not.
    return comPorts(comNumbersAbove38(systemPorts));
#else
    Q_UNUSED(systemPorts);
    if (qEnvironmentVariableIsSet("ORL_SERIAL_PORTS"))
        return PortMap(qEnvironmentVariable("ORL_SERIAL_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return PortMap(scanDevices());
#endif
}

QString PortMap::devicePath(int index) const
{
    if (identity_ && index >= kCandidateCount && above38_.contains(index + 1))
        return candidateName(index);
    if (index < 0 || index >= kCandidateCount)
        return {};
    if (identity_)
        return candidateName(index);
    return index < paths_.size() ? paths_[index] : QString();
}

QString PortMap::label(int index) const
{
    const QString name = candidateName(index);
    const QString path = devicePath(index);
    if (path.isEmpty() || path == name)
        return name;
    return name + QStringLiteral(" (") + path + QLatin1Char(')');
}

}  // namespace device
