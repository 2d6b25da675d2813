#pragma once

#include <QString>

#include <stdexcept>
#include <type_traits>
#include <utility>

namespace vigilor {

// Errors the engine raises. Each carries the text the console shows. None of them ever crosses
// a Qt signal or event boundary: entry points catch them and hand them to an ErrorSink (or
// drop them, for a received datagram).
class Error : public std::runtime_error
{
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// A fixed-column field that holds no number.
class ConversionError final : public Error
{
public:
    using Error::Error;
};

// A list read past its end; the error handler recovers from these by reconnecting.
class IndexError final : public Error
{
public:
    using Error::Error;
};

// A file that cannot be written or read. Besides the console's whole text it keeps the reason
// alone (the system's words, or what stood in the file's place) and the system's error code,
// when there was one, for messages that name the file in words of their own.
class FileError final : public Error
{
public:
    explicit FileError(const QString& message, int systemCode = 0, const QString& reason = {})
        : Error(message), m_systemCode(systemCode), m_reason(reason)
    {
    }
    int systemCode() const { return m_systemCode; }
    const QString& reason() const { return m_reason.isEmpty() ? message() : m_reason; }

private:
    int m_systemCode = 0;
    QString m_reason;
};

// The link's socket failed (resolve, open or send).
class SocketError final : public Error
{
public:
    using Error::Error;
};

// Where entry points hand the errors they catch: the application's one error handler.
class ErrorSink
{
public:
    virtual ~ErrorSink() = default;
    virtual void reportError(const std::exception& error) = 0;
};

// What `guarded` hands on for a thrown value that is no std::exception.
class UnknownError final : public Error
{
public:
    UnknownError() : Error(QStringLiteral("unknown error")) {}
};

// The text an error shows: its own for the engine's errors, the library's otherwise.
inline QString errorText(const std::exception& error)
{
    const auto* own = dynamic_cast<const Error*>(&error);
    return own ? own->message() : QString::fromLocal8Bit(error.what());
}

// Runs work and hands any error it throws to onError, so that nothing escapes: the one way the
// program catches at a boundary (an entry point of the event loop, a step that must not end
// what called it).
template <typename Work, typename OnError>
requires std::invocable<Work&> && std::invocable<OnError&, const std::exception&>
void guarded(Work&& work, OnError&& onError)
{
    try {
        work();
    } catch (const std::exception& e) {
        onError(e);
    } catch (...) {
        onError(UnknownError());
    }
}

// Runs an entry point's work and hands any error to the sink (the application's error handler).
template <typename Work> void guarded(ErrorSink* sink, Work&& work)
{
    guarded(std::forward<Work>(work), [sink](const std::exception& e) {
        if (sink)
            sink->reportError(e);
    });
}

} // namespace vigilor
