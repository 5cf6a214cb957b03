#include "user_catalogue.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace tessel::qt {

namespace {

const QString kUnit = QStringLiteral("tessel-catalogue.service");
// systemctl answers a start only once the catalogue has told it that it serves; its first start
// indexes the user's music before that.
constexpr int kStartWaitMs = 8000;
constexpr int kQuickWaitMs = 3000;

// Runs systemctl --user with `arguments`; true when it ended well within `waitMs`.
bool UserSystemctl(const QString& systemctl, const QStringList& arguments, int waitMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(systemctl, QStringList{QStringLiteral("--user")} + arguments);
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

void StartUserCatalogue() {
    const QString unitFile =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/systemd/user/") + kUnit;
    if (!QFileInfo::exists(unitFile)) return;
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (systemctl.isEmpty()) return;
    // "enabled" only: a user who disabled or masked it wants it left alone.
    if (!UserSystemctl(systemctl, {QStringLiteral("is-enabled"), QStringLiteral("--quiet"), kUnit},
                       kQuickWaitMs)) {
        // A manager that has not read the new unit yet may not know it at all.
        UserSystemctl(systemctl, {QStringLiteral("daemon-reload")}, kQuickWaitMs);
        if (!UserSystemctl(systemctl,
                           {QStringLiteral("is-enabled"), QStringLiteral("--quiet"), kUnit},
                           kQuickWaitMs)) {
            return;
        }
    }
    if (UserSystemctl(systemctl, {QStringLiteral("start"), kUnit}, kStartWaitMs)) return;
    UserSystemctl(systemctl, {QStringLiteral("daemon-reload")}, kQuickWaitMs);
    UserSystemctl(systemctl, {QStringLiteral("start"), kUnit}, kStartWaitMs);
}

}  // namespace tessel::qt
