#pragma once

#include <QString>
#include <memory>
#include <string>

class INntpServerDirectory;
class QWidget;
struct TlsCertificateInfo;

// What the user is shown when a server's certificate fails verification: the server, why, the
// certificate's subject, issuer and SHA-256 fingerprint, and the question whether to trust
// this one certificate for this server.
QString CertificateQuestion(const std::string& host, int port,
                            const TlsCertificateInfo& certificate);

// Asks it in a message box (Yes/No); true for Yes.
bool AskTrustCertificate(QWidget* parent, const std::string& host, int port,
                         const TlsCertificateInfo& certificate);

// The directory conversations use in the program: the settings file at iniPath, the password
// store that answers on this desktop, and the question above in the active window.
std::shared_ptr<INntpServerDirectory> MakeServerDirectory(const std::string& iniPath);
