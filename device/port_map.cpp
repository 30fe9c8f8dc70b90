#include "device/port_map.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

namespace device {

QString candidateName(int index)
{
    return QStringLiteral("\\\\.\\COM%1").arg(index + 1);
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

PortMap PortMap::fromEnvironment()
{
#ifdef Q_OS_WIN
    PortMap m;
    m.identity_ = true;
    return m;
#else
    if (qEnvironmentVariableIsSet("ORL_SERIAL_PORTS"))
        return PortMap(qEnvironmentVariable("ORL_SERIAL_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return PortMap(scanDevices());
#endif
}

QString PortMap::devicePath(int index) const
{
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
