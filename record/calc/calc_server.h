#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "record/calc/calc_version.h"
#include "record/calc/dispatch.h"

namespace lyr {

// How LyrLogger reaches LibreOffice Calc.
struct CalcServerOptions {
    // The pipe LyrLogger's office accepts on; per user, so that two users' programs never meet.
    QString pipeName = DefaultCalcPipeName();
    QString installDirectory = QString::fromLatin1(kLibreOfficeDirectory);
    // Added to the soffice command line (tests give a profile of their own here).
    QStringList extraArguments;
    // How long a start may take until the office accepts; a first start on a new profile takes
    // seconds.
    int startTimeoutMs = 60000;

    [[nodiscard]] static QString DefaultCalcPipeName();
};

// The automation server carried out by LibreOffice Calc through UNO, for "Excel.Application".
// GetActiveObject connects to an office accepting on the pipe; CreateDispatch runs
// `soffice --accept=pipe,...`, which hands the request to the office the user already runs or
// starts one, and connects within the time-out; CreateInstalledDispatch answers the installed
// version only. Null when this build has no Calc connection.
[[nodiscard]] std::unique_ptr<IAutomationServer> CreateCalcAutomationServer(
    CalcServerOptions options = {});

}  // namespace lyr
