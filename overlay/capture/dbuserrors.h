#pragma once

#include <QDBusError>

// Errors that say the service, or the interface asked for, is not there at all: a route
// that gets one will never work in this session.
inline bool isMissingService(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}
