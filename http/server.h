#pragma once

#include "irequesthandler.h"

#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

namespace Http {

class Connection;

// The listening side of the web server: plain HTTP, or TLS once setupHttps succeeded.
class Server : public QTcpServer
{
    Q_OBJECT
public:
    explicit Server(IRequestHandler* requestHandler, QObject* parent = nullptr);
    ~Server() override;

    bool setupHttps(const QByteArray& certificates, const QByteArray& privateKey);
    void disableHttps();
    bool isHttps() const;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void dropTimedOutConnection();

private:
    void removeConnection(Connection* connection);

    IRequestHandler* m_requestHandler;
    QSet<Connection*> m_connections;
    bool m_https = false;
    QList<QSslCertificate> m_certificates;
    QSslKey m_key;
};

} // namespace Http
