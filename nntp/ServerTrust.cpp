#include "nntp/ServerTrust.h"

#include "nntp/NntpConversation.h"
#include "nntp/TlsEngine.h"
#include "settings/KeychainPasswordStore.h"
#include "ui/UiSeam.h"

#include <QApplication>

QString CertificateQuestion(const std::string& host, int port,
                            const TlsCertificateInfo& certificate) {
    // Names and fingerprints are ASCII or UTF-8 (RFC 2253 output keeps UTF-8 as it is).
    auto text = [](const std::string& s) { return QString::fromUtf8(s); };
    return QString::fromUtf8("サーバーの証明書を確認できませんでした。\n\n"
                             "サーバー: %1:%2\n"
                             "理由: %3\n"
                             "発行先: %4\n"
                             "発行者: %5\n"
                             "SHA-256 フィンガープリント:\n%6\n\n"
                             "この証明書をこのサーバーについて信頼して接続しますか?\n"
                             "(証明書が変わったときは、もう一度確認します)")
        .arg(text(host))
        .arg(port)
        .arg(text(certificate.reason), text(certificate.subject), text(certificate.issuer),
             text(certificate.fingerprint));
}

bool AskTrustCertificate(QWidget* parent, const std::string& host, int port,
                         const TlsCertificateInfo& certificate) {
    return ShowMessage(parent, CertificateQuestion(host, port, certificate), MsgButtons::YesNo,
                       MsgIcon::Warning) == MsgAnswer::Yes;
}

std::shared_ptr<INntpServerDirectory> MakeServerDirectory(const std::string& iniPath) {
    return std::make_shared<CSettingsServerDirectory>(
        iniPath, OpenPasswordStore(iniPath),
        [](const std::string& host, int port, const TlsCertificateInfo& certificate) {
            return AskTrustCertificate(QApplication::activeWindow(), host, port, certificate);
        });
}
