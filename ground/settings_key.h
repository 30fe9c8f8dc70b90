#pragma once
// The program's settings key "\Software\Morvisk\ORL\1.0" of the current user.
//
// On Windows it is the registry key itself (strings as REG_SZ, booleans as
// REG_DWORD).  Elsewhere it is a text file in registry-export style under the
// user's configuration directory ($XDG_CONFIG_HOME/Morvisk/ORL.reg, else
// ~/.config/Morvisk/ORL.reg) that keeps the key path, the value names and the
// value kinds.  Every read and write goes straight to the store; nothing is
// cached, so two windows (or two runs) always see the same values.

#include <QString>
#include <optional>

class SettingsKey {
public:
    static const QString KeyPath;  // "\Software\Morvisk\ORL\1.0"

    // Ensures the key exists (creates it when missing) and opens it.
    SettingsKey();
    // The text-file store at an explicit file, on every system; used by tests.
    explicit SettingsKey(const QString& file);

    bool exists(const QString& name) const;
    // What the value holds: a string, a boolean, or another kind (a value
    // written by something else); Missing when there is none.
    enum class Kind { Missing, String, Bool, Other };
    Kind kind(const QString& name) const;
    QString readString(const QString& name) const;  // "" when missing
    bool readBool(const QString& name) const;       // false when missing
    void writeString(const QString& name, const QString& value);
    void writeBool(const QString& name, bool value);

    // Where the values live (the file, or the registry key's path).
    QString location() const;

    // The file used when no explicit one is given (none on Windows).
    static QString defaultFile();

private:
    QString file_;
};
