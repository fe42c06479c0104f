#include "apicontroller.h"

#include "apierror.h"
#include "webtexts.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaMethod>

namespace {
const QString ACTION_SLOT_SIGNATURE = QStringLiteral("%1Action()");

// Works for the parameter map and the JSON body object alike.
template<typename Container>
bool containsAll(const Container& container, const QStringList& names)
{
    for (const QString& name : names) {
        if (!container.contains(name))
            return false;
    }
    return true;
}
} // namespace

APIController::APIController(QObject* parent) : QObject(parent)
{
}

QVariant APIController::run(
    const QString& action, const Params& params, const Files& data, const QJsonDocument& json)
{
    result.clear();
    callParams = params;
    callFiles = data;
    callJson = json;

    // Only slots count as actions, so no other method of the object can be called by name.
    const QByteArray signature = ACTION_SLOT_SIGNATURE.arg(action).toLatin1();
    const int index = metaObject()->indexOfSlot(signature.constData());
    if (index < 0)
        throw APIError(APIErrorType::Missing);
    metaObject()->method(index).invoke(this, Qt::DirectConnection);
    return result;
}

const APIController::Params& APIController::params() const
{
    return callParams;
}

const APIController::Files& APIController::data() const
{
    return callFiles;
}

const QJsonDocument& APIController::json() const
{
    return callJson;
}

void APIController::requireParams(const QStringList& names) const
{
    if (containsAll(callParams, names) || containsAll(callJson.object(), names))
        return;
    throw APIError(APIErrorType::InvalidInput, WebTexts::REQUIRED_PARAMS_NOT_FOUND);
}

void APIController::setResult(const QString& text)
{
    result = text;
}

void APIController::setResult(const QByteArray& text)
{
    result = QString::fromUtf8(text);
}

void APIController::setResult(const QJsonArray& array)
{
    result = QVariant::fromValue(QJsonDocument(array));
}

void APIController::setResult(const QJsonObject& object)
{
    result = QVariant::fromValue(QJsonDocument(object));
}

void APIController::setResult(const SJsonText& json)
{
    result = QVariant::fromValue(json);
}
