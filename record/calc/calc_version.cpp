#include "record/calc/calc_version.h"

#include "record/calc/calc_server.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>

namespace lyr {

QString InstalledCalcVersion(const QString& installDirectory) {
    // calc.xcd comes with the Calc module; main.xcd holds the product's settings, first the
    // schema (an empty <value/>) and then the value itself.
    if (!QFileInfo::exists(installDirectory + QStringLiteral("/share/registry/calc.xcd"))) {
        return {};
    }
    QFile main(installDirectory + QStringLiteral("/share/registry/main.xcd"));
    if (!main.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = main.readAll();
    static const QByteArray kProperty = "oor:name=\"ooSetupVersion\"";
    static const QByteArray kValue = "<value>";
    for (qsizetype at = data.indexOf(kProperty); at >= 0; at = data.indexOf(kProperty, at + 1)) {
        const qsizetype propEnd = data.indexOf("</prop>", at);
        const qsizetype value = data.indexOf(kValue, at);
        if (propEnd < 0 || value < 0 || value > propEnd) continue;
        const qsizetype from = value + kValue.size();
        const qsizetype to = data.indexOf('<', from);
        if (to < 0 || to > propEnd) continue;
        const QString text = QString::fromUtf8(data.mid(from, to - from)).trimmed();
        if (!text.isEmpty()) return text;
    }
    return {};
}

QString CalcServerOptions::DefaultCalcPipeName() {
    return QStringLiteral("lyrlogger_%1").arg(getuid());
}

}  // namespace lyr
