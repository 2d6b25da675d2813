#pragma once

#include <QString>

#include <stdexcept>

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

// A file that cannot be written or read.
class FileError final : public Error
{
public:
    using Error::Error;
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

// Runs an entry point's work and hands any error to the sink, so nothing escapes into the
// event loop.
template <typename Work> void guarded(ErrorSink* sink, Work&& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        if (sink)
            sink->reportError(e);
    } catch (...) {
        if (sink)
            sink->reportError(std::runtime_error("unknown error"));
    }
}

} // namespace vigilor
