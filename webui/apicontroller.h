#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

class QJsonArray;
class QJsonObject;

// An answer already serialised as compact JSON, for an answer given again and again.
struct SJsonText
{
    QByteArray bytes;
};
Q_DECLARE_METATYPE(SJsonText)

// Base of the controllers of the web API. Each action of a scope is a slot without arguments
// named after the action followed by "Action"; it reads its input through params, data and json,
// answers through setResult and fails by throwing APIError.
class APIController : public QObject
{
    Q_OBJECT
public:
    using Params = QMap<QString, QString>;
    // Uploaded files: file name to content.
    using Files = QMap<QString, QByteArray>;

    explicit APIController(QObject* parent = nullptr);

    // Calls the action's slot and returns what it produced.
    QVariant run(
        const QString& action, const Params& params, const Files& data, const QJsonDocument& json);

protected:
    const Params& params() const;
    const Files& data() const;
    const QJsonDocument& json() const;

    // Passes when all names are request parameters, or all are keys of the JSON body object.
    void requireParams(const QStringList& names) const;

    void setResult(const QString& text);
    void setResult(const QByteArray& text);
    void setResult(const QJsonArray& array);
    void setResult(const QJsonObject& object);
    void setResult(const SJsonText& json);

private:
    Params callParams;
    Files callFiles;
    QJsonDocument callJson;
    QVariant result;
};
