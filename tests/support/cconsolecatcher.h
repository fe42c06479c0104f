#pragma once

#include <QStringList>
#include <QtGlobal>

// Records the debug-console messages written while it exists (from any thread) and still
// passes them on to the previous handler. One catcher at a time.
class CConsoleCatcher
{
public:
    CConsoleCatcher();
    ~CConsoleCatcher();
    CConsoleCatcher(const CConsoleCatcher&) = delete;
    CConsoleCatcher& operator=(const CConsoleCatcher&) = delete;

    QStringList messages() const;
    int count(const QString& message) const { return messages().count(message); }
    bool contains(const QString& message) const { return count(message) > 0; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
};
