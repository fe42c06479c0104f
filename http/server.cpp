#include "server.h"

#include "connection.h"
#include "httplimits.h"
#include "httptexts.h"
#include "netutils.h"
#include "sslkey.h"

#include <QDebug>
#include <QNetworkProxy>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <unistd.h>

#include <utility>

namespace Http {

namespace {

// Suites whose names hide an RSA key exchange or a CBC mode; they carry no telling prefix.
const QStringList HIDDEN_WEAK_CIPHERS = {
    QStringLiteral("AES256-GCM-SHA384"),
    QStringLiteral("AES128-GCM-SHA256"),
    QStringLiteral("AES256-SHA256"),
    QStringLiteral("AES128-SHA256"),
    QStringLiteral("AES256-SHA"),
    QStringLiteral("AES128-SHA"),
    QStringLiteral("ECDHE-ECDSA-AES256-SHA384"),
    QStringLiteral("ECDHE-RSA-AES256-SHA384"),
    QStringLiteral("DHE-RSA-AES256-SHA256"),
    QStringLiteral("ECDHE-ECDSA-AES128-SHA256"),
    QStringLiteral("ECDHE-RSA-AES128-SHA256"),
    QStringLiteral("DHE-RSA-AES128-SHA256"),
    QStringLiteral("ECDHE-ECDSA-AES256-SHA"),
    QStringLiteral("ECDHE-RSA-AES256-SHA"),
    QStringLiteral("DHE-RSA-AES256-SHA"),
    QStringLiteral("ECDHE-ECDSA-AES128-SHA"),
    QStringLiteral("ECDHE-RSA-AES128-SHA"),
    QStringLiteral("DHE-RSA-AES128-SHA"),
};
const QStringList WEAK_CIPHER_PREFIXES = {QStringLiteral("adh-"), QStringLiteral("aecdh-"),
    QStringLiteral("psk-"), QStringLiteral("rsa-")};
const QStringList WEAK_CIPHER_PARTS
    = {QStringLiteral("-cbc-"), QStringLiteral("idea"), QStringLiteral("rc4")};

bool isWeakCipher(const QString& name)
{
    for (const QString& part : WEAK_CIPHER_PARTS) {
        if (name.contains(part, Qt::CaseInsensitive))
            return true;
    }
    for (const QString& prefix : WEAK_CIPHER_PREFIXES) {
        if (name.startsWith(prefix, Qt::CaseInsensitive))
            return true;
    }
    return HIDDEN_WEAK_CIPHERS.contains(name, Qt::CaseInsensitive);
}

// Every TLS socket created later starts from this configuration.
void installDefaultTlsConfiguration()
{
    QList<QSslCipher> ciphers;
    for (const QSslCipher& cipher : QSslConfiguration::supportedCiphers()) {
        if (!isWeakCipher(cipher.name()))
            ciphers.append(cipher);
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(ciphers);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

} // namespace

Server::Server(IRequestHandler* requestHandler, QObject* parent)
    : QTcpServer(parent), m_requestHandler(requestHandler)
{
    setProxy(QNetworkProxy::NoProxy);
    installDefaultTlsConfiguration();

    auto* sweepTimer = new QTimer(this);
    connect(sweepTimer, &QTimer::timeout, this, &Server::dropTimedOutConnection);
    sweepTimer->start(IDLE_SWEEP_INTERVAL_MS);
}

Server::~Server()
{
    // Deleting a connection closes its socket, whose "disconnected" calls removeConnection:
    // take the set out first so that nothing changes it while it is walked.
    const QSet<Connection*> connections = std::exchange(m_connections, {});
    for (Connection* connection : connections)
        delete connection;
}

bool Server::setupHttps(const QByteArray& certificates, const QByteArray& privateKey)
{
    const QList<QSslCertificate> chain = Utils::Net::loadSSLCertificate(certificates);
    const QSslKey key = Utils::SSLKey::load(privateKey);
    if (chain.isEmpty() || key.isNull()) {
        qDebug().noquote() << HttpTexts::NO_CERTIFICATES;
        disableHttps();
        return false;
    }
    m_certificates = chain;
    m_key = key;
    m_https = true;
    return true;
}

void Server::disableHttps()
{
    m_https = false;
    m_certificates.clear();
    m_key.clear();
}

bool Server::isHttps() const
{
    return m_https;
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    if (m_connections.size() >= MAX_CONNECTIONS) {
        // No socket object and no answer: the client just sees the connection closed.
        ::close(static_cast<int>(socketDescriptor));
        return;
    }

    QTcpSocket* socket = m_https ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }

    if (m_https) {
        auto* sslSocket = static_cast<QSslSocket*>(socket);
        // Older protocols than TLS 1.2 find no usable suite in the filtered cipher list.
        sslSocket->setProtocol(QSsl::SecureProtocols);
        sslSocket->setPrivateKey(m_key);
        sslSocket->setLocalCertificateChain(m_certificates);
        sslSocket->setPeerVerifyMode(QSslSocket::VerifyNone);
        sslSocket->startServerEncryption();
    }

    auto* connection = new Connection(socket, m_requestHandler, this);
    m_connections.insert(connection);
    connect(socket, &QAbstractSocket::disconnected, this,
        [this, connection]() { removeConnection(connection); });
}

void Server::dropTimedOutConnection()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        Connection* connection = *it;
        // A socket that ended in an error may never report "disconnected"; drop it as well.
        if (connection->isClosed() || connection->hasExpired(CONNECTION_IDLE_TIMEOUT_MS)
            || connection->headerOverdue(REQUEST_HEADER_DEADLINE_MS)) {
            connection->deleteLater();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::removeConnection(Connection* connection)
{
    if (m_connections.remove(connection))
        connection->deleteLater();
}

} // namespace Http
