#pragma once

#include <QString>

namespace corvalle {

// Whether the program opens at login, and the switch for it.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // 1 = registered and active, 0 = not.
    virtual int status() const = 0;
    // False when the change could not be made; the caller then reads status() again.
    virtual bool registerItem() = 0;
    virtual bool unregisterItem() = 0;
};

// The XDG autostart realisation: <config home>/autostart/corvalle.desktop starts the
// program with --login-item.
class AutostartLoginItem final : public LoginItem {
public:
    // `configHome` empty = $XDG_CONFIG_HOME, else ~/.config; `executable` empty =
    // this program's own file.
    explicit AutostartLoginItem(const QString& configHome = {}, const QString& executable = {});

    int status() const override;
    bool registerItem() override;
    bool unregisterItem() override;

    // The Exec line for `executable`, quoted and escaped for a desktop file.
    static QString execLine(const QString& executable);

private:
    QString autostartDir_;
    QString entryPath_;
    QString executable_;
};

} // namespace corvalle
