#pragma once

#include <string>

// Where the passwords of news servers are kept: the desktop's secret store where one answers
// (the user interface provides it), otherwise a file readable by the user alone beside the
// settings file. Never the settings file itself.

// The file beside quillo.ini; mode 0600, one section per server, one key per user name.
inline constexpr char kPasswordFileName[] = "quillo.pwd";

class IPasswordStore {
public:
    virtual ~IPasswordStore() = default;
    // False when no password is stored for them, or the store cannot be read.
    virtual bool Read(const std::string& host, const std::string& user, std::string& password) = 0;
    // False when the password could not be stored.
    virtual bool Write(const std::string& host, const std::string& user,
                       const std::string& password) = 0;
    virtual bool Remove(const std::string& host, const std::string& user) = 0;
    // Where the passwords go, as the registration window tells the user (UTF-8).
    virtual std::string Description() const = 0;
};

// The password file next to the settings file at iniPath.
std::string PasswordFilePath(const std::string& iniPath);

// Passwords in a file of mode 0600. The file is made with that mode and put back to it before
// each write, so a password never stands in a file others can read.
class CFilePasswordStore : public IPasswordStore {
public:
    explicit CFilePasswordStore(std::string path) : m_path(std::move(path)) {}
    bool Read(const std::string& host, const std::string& user, std::string& password) override;
    bool Write(const std::string& host, const std::string& user,
               const std::string& password) override;
    bool Remove(const std::string& host, const std::string& user) override;
    std::string Description() const override;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
