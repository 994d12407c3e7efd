#pragma once

// The kinds of conversation events as the QML enumeration EventKind (EventKind.userMessage, ...): the
// values of the chat model's "kind" role, on which the conversation chooses each row's delegate.

#include "DesktopCodingEventKind.h"

#include <QtQml/qqmlregistration.h>

namespace rirudez::EventKindRegistration {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(rirudez::DesktopCodingEventKinds)
QML_NAMED_ELEMENT(EventKind)
} // namespace rirudez::EventKindRegistration
