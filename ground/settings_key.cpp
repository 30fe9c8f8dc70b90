#include "ground/settings_key.h"

#include "ground/system_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>
#include <map>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

const QString SettingsKey::KeyPath = QStringLiteral("\\Software\\Morvisk\\ORL\\1.0");

#ifdef _WIN32
// The registry key of the current user.
namespace reg {
namespace {
const wchar_t* kSubKey = L"Software\\Morvisk\\ORL\\1.0";

HKEY openKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

LPCWSTR wide(const QString& s) { return reinterpret_cast<LPCWSTR>(s.utf16()); }

bool exists(const QString& name)
{
    HKEY k = openKey();
    if (!k)
        return false;
    const LONG r = RegQueryValueExW(k, wide(name), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

SettingsKey::Kind kind(const QString& name)
{
    HKEY k = openKey();
    if (!k)
        return SettingsKey::Kind::Missing;
    DWORD type = 0;
    const LONG r = RegQueryValueExW(k, wide(name), nullptr, &type, nullptr, nullptr);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return SettingsKey::Kind::Missing;
    return type == REG_SZ ? SettingsKey::Kind::String
           : type == REG_DWORD ? SettingsKey::Kind::Bool
                               : SettingsKey::Kind::Other;
}

QString readString(const QString& name)
{
    HKEY k = openKey();
    if (!k)
        return {};
    DWORD type = 0, size = 0;
    QString out;
    if (RegQueryValueExW(k, wide(name), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(k, wide(name), nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &size) ==
            ERROR_SUCCESS)
            out = QString::fromWCharArray(buf.c_str());
    }
    RegCloseKey(k);
    return out;
}

bool readBool(const QString& name)
{
    HKEY k = openKey();
    if (!k)
        return false;
    DWORD type = 0, value = 0, size = sizeof(value);
    bool out = false;
    if (RegQueryValueExW(k, wide(name), nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) == ERROR_SUCCESS)
        out = type == REG_DWORD && value != 0;
    RegCloseKey(k);
    return out;
}

void write(const QString& name, DWORD type, const void* data, DWORD size)
{
    HKEY k = openKey();
    if (!k)
        throw std::runtime_error(QStringLiteral("Не удалось открыть раздел настроек в реестре.").toStdString());
    const LONG r = RegSetValueExW(k, wide(name), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        throw std::runtime_error(QStringLiteral("Не удалось записать значение «%1» в реестр: %2.")
                                     .arg(name, writeErrorTextWin(DWORD(r)))
                                     .toStdString());
}

void writeString(const QString& name, const QString& value)
{
    const std::wstring w = value.toStdWString();
    write(name, REG_SZ, w.c_str(), DWORD((w.size() + 1) * sizeof(wchar_t)));
}

void writeBool(const QString& name, bool value)
{
    const DWORD v = value ? 1 : 0;
    write(name, REG_DWORD, &v, sizeof(v));
}
}  // namespace
}  // namespace reg
#endif

// A registry-export style text file.

namespace {

struct Value {
    bool isBool = false;
    QString text;
    bool flag = false;
};
using Values = std::map<QString, Value>;

const QString kHeader = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kSection = QStringLiteral("[HKEY_CURRENT_USER") + SettingsKey::KeyPath + QLatin1Char(']');

QString escape(const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '"': out += QStringLiteral("\\\""); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default: out += c;
        }
    }
    return out;
}

// Reads a quoted, escaped string starting at s[i] == '"'; i ends after the
// closing quote.  Returns nullopt on malformed text.
std::optional<QString> unquote(const QString& s, qsizetype& i)
{
    if (i >= s.size() || s[i] != QLatin1Char('"'))
        return std::nullopt;
    QString out;
    for (++i; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('"')) {
            ++i;
            return out;
        }
        if (c == QLatin1Char('\\')) {
            if (++i >= s.size())
                return std::nullopt;
            switch (s[i].unicode()) {
            case 'r': out += QLatin1Char('\r'); break;
            case 'n': out += QLatin1Char('\n'); break;
            case 't': out += QLatin1Char('\t'); break;
            default: out += s[i];
            }
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

Values load(const QString& file)
{
    Values values;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return values;
    const QString text = QString::fromUtf8(f.readAll());
    bool inKey = false;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.endsWith(QLatin1Char('\r')) ? raw.chopped(1) : raw;
        if (line.startsWith(QLatin1Char('['))) {
            inKey = line.compare(kSection, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inKey || !line.startsWith(QLatin1Char('"')))
            continue;
        qsizetype i = 0;
        auto name = unquote(line, i);
        if (!name || i >= line.size() || line[i] != QLatin1Char('='))
            continue;
        ++i;
        Value v;
        if (line.mid(i).startsWith(QLatin1String("dword:"))) {
            bool ok = false;
            const uint n = line.mid(i + 6).trimmed().toUInt(&ok, 16);
            if (!ok)
                continue;
            v.isBool = true;
            v.flag = n != 0;
        } else {
            auto s = unquote(line, i);
            if (!s)
                continue;
            v.text = *s;
        }
        values[*name] = v;
    }
    return values;
}

void save(const QString& file, const Values& values)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QString text = kHeader + QStringLiteral("\r\n\r\n") + kSection + QStringLiteral("\r\n");
    for (const auto& [name, v] : values) {
        text += QLatin1Char('"') + escape(name) + QStringLiteral("\"=");
        if (v.isBool)
            text += QStringLiteral("dword:%1").arg(v.flag ? 1 : 0, 8, 10, QLatin1Char('0'));
        else
            text += QLatin1Char('"') + escape(v.text) + QLatin1Char('"');
        text += QStringLiteral("\r\n");
    }
    QSaveFile out(file);
    const QByteArray bytes = text.toUtf8();
    // The reason is the errno of the failing call (see fileErrorText).
    auto step = [](const auto& call) {
        errno = 0;
        return call();
    };
    if (!step([&] { return out.open(QIODevice::WriteOnly); }) ||
        !step([&] { return out.write(bytes) == bytes.size(); }) || !step([&] { return out.commit(); }))
        throw std::runtime_error(QStringLiteral("Не удалось записать файл настроек «%1»: %2.")
                                     .arg(QDir::toNativeSeparators(file), fileErrorText(out.error(), errno))
                                     .toStdString());
}

}  // namespace

QString SettingsKey::defaultFile()
{
#ifdef _WIN32
    return {};
#else
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Morvisk/ORL.reg");
#endif
}

#ifdef _WIN32
// The registry key; an explicit file (tests) is a text file as elsewhere.
SettingsKey::SettingsKey()
{
    if (HKEY k = reg::openKey())
        RegCloseKey(k);
}
#else
SettingsKey::SettingsKey() : SettingsKey(defaultFile()) {}
#endif

SettingsKey::SettingsKey(const QString& file) : file_(file)
{
    if (!QFileInfo::exists(file_)) {
        try {
            save(file_, {});
        } catch (const std::exception&) {
            // An unwritable configuration folder: values read as missing and
            // each write reports its own failure.
        }
    }
}

#ifdef _WIN32
#define DORK5_REGISTRY(call) \
    if (file_.isEmpty())     \
        return reg::call;
#else
#define DORK5_REGISTRY(call)
#endif

QString SettingsKey::location() const
{
    if (file_.isEmpty())
        return QStringLiteral("HKEY_CURRENT_USER") + KeyPath;
    return file_;
}

bool SettingsKey::exists(const QString& name) const
{
    DORK5_REGISTRY(exists(name))
    return load(file_).count(name) > 0;
}

SettingsKey::Kind SettingsKey::kind(const QString& name) const
{
    DORK5_REGISTRY(kind(name))
    const Values v = load(file_);
    auto it = v.find(name);
    if (it == v.end())
        return Kind::Missing;
    return it->second.isBool ? Kind::Bool : Kind::String;
}

QString SettingsKey::readString(const QString& name) const
{
    DORK5_REGISTRY(readString(name))
    const Values v = load(file_);
    auto it = v.find(name);
    return it == v.end() || it->second.isBool ? QString() : it->second.text;
}

bool SettingsKey::readBool(const QString& name) const
{
    DORK5_REGISTRY(readBool(name))
    const Values v = load(file_);
    auto it = v.find(name);
    return it != v.end() && it->second.isBool && it->second.flag;
}

void SettingsKey::writeString(const QString& name, const QString& value)
{
    DORK5_REGISTRY(writeString(name, value))
    Values v = load(file_);
    v[name] = Value{false, value, false};
    save(file_, v);
}

void SettingsKey::writeBool(const QString& name, bool value)
{
    DORK5_REGISTRY(writeBool(name, value))
    Values v = load(file_);
    v[name] = Value{true, {}, value};
    save(file_, v);
}
