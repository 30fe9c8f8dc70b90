#pragma once
// Candidate port names and the device paths behind them.
//
// The search tries the 38 candidates "\\.\COM1" .. "\\.\COM38".  On Windows a
// candidate is the COM port itself, and after the 38 come the COM ports above
// 38 that the system reports as present, in ascending order (each new
// USB-serial adapter gets a new number, so a laptop soon has COM40 and more).  Elsewhere candidate n stands for the n-th
// serial device present (/dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS*, each
// group in numeric order), or for the n-th path of the colon-separated list in
// the environment variable ORL_SERIAL_PORTS when it is set.

#include <QString>
#include <QStringList>

namespace device {

inline constexpr int kCandidateCount = 38;

// "\\.\COM1" for index 0 ... "\\.\COM38" for index 37, "\\.\COM41" for 40.
QString candidateName(int index);

// The numbers n > 38 of the port names "COMn" among `names`, ascending,
// each once.
QList<int> comNumbersAbove38(const QStringList& names);

class PortMap {
public:
    PortMap() = default;
    explicit PortMap(QStringList devicePaths) : paths_(std::move(devicePaths)) {}
    // Windows: the candidates are the COM ports themselves, and `above38`
    // (COM numbers) follow the 38.
    static PortMap comPorts(const QList<int>& above38 = {});

    // The map in force for this process (environment, then platform default);
    // `systemPorts`: the port names the system lists as present (Windows).
    static PortMap fromEnvironment(const QStringList& systemPorts = {});
    // Serial devices present under dir, in the default order.
    static QStringList scanDevices(const QString& dir = QStringLiteral("/dev"));

    // The candidate indices the search tries, in order: 0 .. 37, then those
    // of the COM ports above 38.
    QList<int> candidates() const;
    // Device path for candidate index, empty when nothing stands for it.
    QString devicePath(int index) const;
    // Text for Label1: the candidate name and, where it differs, the device path.
    QString label(int index) const;

    const QStringList& paths() const { return paths_; }
    bool identity() const { return identity_; }

private:
    QStringList paths_;
    bool identity_ = false;  // Windows: the candidate name is the device
    QList<int> above38_;     // Windows: COM numbers present above 38
};

}  // namespace device
