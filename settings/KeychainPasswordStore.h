#pragma once

#include "settings/PasswordStore.h"

#include <memory>
#include <string>

// Setting this environment variable to "file" keeps the desktop's secret store out of the way
// (tests, and users who want the file).
inline constexpr char kPasswordStoreVariable[] = "QUILLO_PASSWORD_STORE";

// Passwords in the desktop's secret store (Secret Service, KWallet) through QtKeychain, under
// the service "Quillo" and the key "user@host".
class CKeychainPasswordStore : public IPasswordStore {
public:
    // True when a secret store answers on this desktop; asked once per process.
    static bool IsAvailable();

    bool Read(const std::string& host, const std::string& user, std::string& password) override;
    bool Write(const std::string& host, const std::string& user,
               const std::string& password) override;
    bool Remove(const std::string& host, const std::string& user) override;
    std::string Description() const override;
};

// The secret store when one answers, else the private file beside the settings file at iniPath.
std::shared_ptr<IPasswordStore> OpenPasswordStore(const std::string& iniPath);
