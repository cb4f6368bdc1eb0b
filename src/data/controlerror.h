#pragma once

#include <QString>

#include <exception>

class QSqlError;

namespace Orvantel {

/// An error with a number and a description, as the control reports it to the
/// operator ("Error N" + CR LF + description) and to a host (the exception signal).
struct ControlError : std::exception
{
    enum Number {
        Overflow = 6,
        OutOfMemory = 7,
        SubscriptOutOfRange = 9,
        TypeMismatch = 13,
        /// An unexpected failure inside the control (a standard exception, say).
        InternalError = 51,
        /// A file that cannot be written (an export).
        FileAccess = 75,
        /// A database failure whose driver gave no numeric code (PostgreSQL's
        /// SQLSTATE, a driver that could not be loaded, a missing database file).
        DatabaseFailure = 3000,
        /// A sort text naming no field of the result.
        InvalidSort = 3001,
        /// A settings file that is there but cannot be read: not a regular file (a folder,
        /// a FIFO, a device), larger than 1 MiB, or refused by the system.
        UnreadableSettings = 3002,
        /// A statement abandoned because the server sent nothing for ServerSilenceSeconds
        /// (or its wait was cancelled); its connection is dropped.
        ServerSilent = 3003,
    };

    ControlError(int number, QString description)
        : number(number)
        , description(std::move(description))
    {}

    /// "Overflow" (6) and "Type mismatch" (13).
    static ControlError overflow() { return {Overflow, QStringLiteral("Overflow")}; }
    static ControlError typeMismatch() { return {TypeMismatch, QStringLiteral("Type mismatch")}; }

    /// The driver's native code when it is a number, otherwise DatabaseFailure;
    /// the description is the driver's and the database's text.
    static ControlError fromSqlError(const QSqlError &error);

    /// "Error " + number + CR LF + description: the text of every error message box.
    QString messageText() const
    {
        return QStringLiteral("Error ") + QString::number(number) + QStringLiteral("\r\n") + description;
    }

    const char *what() const noexcept override { return "Orvantel::ControlError"; }

    int number;
    QString description;
};

} // namespace Orvantel
