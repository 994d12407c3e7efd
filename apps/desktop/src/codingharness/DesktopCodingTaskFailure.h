#pragma once

// The two texts of a failure caught by a task of the coding view model (see DesktopTask.h for the catching),
// and the logging category of the coding harness: failures of the link to the bridge and of turns.

#include <QLoggingCategory>
#include <QString>

#include <exception>

namespace rirudez {

Q_DECLARE_LOGGING_CATEGORY(lcDesktopCoding)

struct DesktopCodingTaskFailure {
    // The diagnostic form written into failure events ("turnFailed(...)").
    QString diagnostic;
    // The user-facing sentence written into the refresh error line.
    QString localized;

    static DesktopCodingTaskFailure describe(const std::exception_ptr &failure);
};

} // namespace rirudez
