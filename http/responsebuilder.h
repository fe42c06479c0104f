#pragma once

#include "types.h"

namespace Http {

// Assembles the one response of a request; the web application uses it as a private base.
class ResponseBuilder
{
public:
    void status(uint code = 200, const QString& text = QStringLiteral("OK"));
    void setHeader(const Header& header);
    void print(const QString& text, const QString& type = CONTENT_TYPE_HTML);
    void print(const QByteArray& data, const QString& type = CONTENT_TYPE_HTML);
    void clear();
    Response response() const;

private:
    void print_impl(const QByteArray& data, const QString& type);

    Response m_response;
};

} // namespace Http
